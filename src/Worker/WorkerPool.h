// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Worker/WorkerProtocol.h"

#include <QObject>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <vector>

// The worker processes that decode and encode, on the main thread's side:
// starts them on demand, hands each request with its descriptors to an idle
// one and brings the reply back to the event loop. A worker that dies or
// overruns its time limit is ended and forgotten; its request ends crashed or
// timedOut and no other request notices. The batch decides what runs when;
// this only carries it out.
class WorkerPool : public QObject {
    Q_OBJECT
public:
    using Reply = WorkerProtocol::Reply;
    using Done = std::function<void(const Reply&)>;

    explicit WorkerPool(QObject* parent = nullptr);
    // Ends every worker at once; requests in flight are dropped unanswered.
    ~WorkerPool() override;

    // Runs `request` on a worker; `done` is called from the event loop exactly
    // once, unless endAll() comes first. The descriptors are duplicated into
    // the worker: the caller keeps its own.
    void run(const WorkerProtocol::Request& request, std::span<const int> descriptors,
             std::chrono::milliseconds timeLimit, Done done);

    // Starts workers until `count` are alive, so that their start-up
    // overlaps the first file's checks instead of following them.
    void prestart(int count);

    // Ends every worker now; requests in flight are dropped unanswered.
    void endAll();

    // How long a request may take: generous, and longer for larger images.
    // `factor` scales it (tests make it tiny).
    static std::chrono::milliseconds timeLimit(std::int64_t sourcePixels, double factor = 1.0);

    // Every worker's data segment is capped at this many bytes (0: no cap).
    void setMemoryLimit(std::int64_t bytes) { m_memoryLimit = bytes; }
    // Idle workers kept for later requests; more are ended when they finish.
    void setIdleLimit(int count) { m_idleLimit = count; }

    // All workers, or those converting a file now.
    std::vector<pid_t> processIds(bool convertingOnly = false) const;
    // The worker program: beside this one, in its libexec folder, where it
    // was installed, or where it was built. Empty when none is there.
    static std::filesystem::path executable();

private:
    struct Worker;
    Worker* start();
    void answered(Worker* worker);
    // Kills and reaps the worker, forgets it and answers its request, if any.
    void end(Worker* worker, WorkerProtocol::Ending ending);
    void answerLater(Done done, WorkerProtocol::Ending ending);

    std::vector<std::unique_ptr<Worker>> m_workers;
    std::int64_t m_memoryLimit = 0;
    int m_idleLimit = 2;
};
