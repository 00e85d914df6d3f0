// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Batch/ImagePipeline.h"
#include "Models/JobItem.h"
#include "Models/ProcessingRecords.h"
#include "Settings/ResizeSettingsSnapshot.h"
#include "Worker/WorkerPool.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <chrono>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class ResizeSettings;

// The engine behind the window: owns the job list, turns dropped URLs into
// jobs and runs each drop as one batch. Everything here, jobs included, is
// touched on the main thread only. Work on names (listing folders, opening
// sources, claiming and placing outputs) runs on a thread pool; decoding and
// encoding run in worker processes, on descriptors opened here, so that a
// file that crashes or hangs its decoder costs that file's job and nothing
// else. Both receive and return plain values. Each drop's jobs are appended
// in one step, in the order of the drops.
class ImageProcessor : public QObject {
    Q_OBJECT
public:
    explicit ImageProcessor(QObject* parent = nullptr);
    // Ends the worker processes and waits for the thread pool; results still
    // to come are dropped. After an abandoning stop the owner ends the
    // process instead.
    ~ImageProcessor() override;

    static constexpr qsizetype maximumJobCount = 10000;
    // How long files in flight may still take when the program is asked to end.
    static constexpr std::chrono::milliseconds stopGrace{3000};
    // Lower-case extensions (without the dot) of the files that become jobs.
    static const QSet<QString>& acceptedExtensions();

    // Lists a job for every accepted file among `urls` (folders are expanded,
    // leaving out subfolders named like the output folder) and starts a batch
    // for them with the settings as they are now. Returns at once; a drop with
    // folders is listed on a worker and counts as processing meanwhile.
    void enqueue(const QList<QUrl>& urls, const ResizeSettings& settings);
    // The same with settings given directly (the command-line tool's overrides).
    void enqueue(const QList<QUrl>& urls, const ResizeSettingsSnapshot& settings);

    const QList<JobItem*>& jobs() const { return m_jobs; }
    bool isProcessing() const { return m_isProcessing; }
    std::int64_t activeBatchCount() const { return m_activeBatchCount; }

    // Files start resizing only while the memory they are estimated to take,
    // with that of the files already resizing, stays within this many bytes
    // (a file beyond it runs alone). ProcessLimits::memoryBudget() by default.
    std::int64_t memoryBudget() const { return m_memoryBudget; }
    void setMemoryBudget(std::int64_t bytes) { m_memoryBudget = bytes; }

    // Moves the job's written output, never its source, to the desktop's
    // trash; the job then has no output. False when there was none to move or
    // the move failed.
    bool moveOutputToTrash(JobItem* job);

    void clearCompleted();
    // Everything when idle; only completed jobs while a batch runs.
    void clearAll();

    // Starts no further file and lists nothing more. Files in flight get
    // `grace` to finish; after that they are abandoned: the workers are
    // ended, every output file this process claimed and did not fill is
    // removed, nothing can be claimed any more, and the owner ends the
    // process without waiting for the thread pool. Calling again can only
    // shorten the grace. Ends with stopped().
    void stop(std::chrono::milliseconds grace);
    bool isStopping() const { return m_stopping; }
    // The user's Stop: drops still being listed are dropped, no further file
    // starts, files already converting finish, and every listed job that has
    // not started ends skipped ("Stopped"). Later drops run as usual.
    void stopBatches();

    // The worker processes running now: all, or those converting a file.
    std::vector<pid_t> workerProcessIds(bool convertingOnly = false) const {
        return m_pool.processIds(convertingOnly);
    }
    // Scales every worker's time limit (tests make it tiny).
    void setWorkerTimeFactor(double factor) { m_workerTimeFactor = factor; }
    // Runs each file's own stages here (opening it, claiming its output,
    // putting that in place) rather than on a pool thread. A program without
    // a window to keep responsive saves a thread hand-over each way, whose
    // wake-up a scheduler may put off by a whole tick while the workers keep
    // every core busy: 3% of a batch of photos.
    void setFileStagesOnMainThread(bool onMainThread) { m_fileStagesInline = onMainThread; }

    // Folders replaced by the regular files below them, hidden items and
    // subfolders named `skippedFolderName` left out.
    static std::vector<std::filesystem::path>
    expandDirectories(const std::vector<std::filesystem::path>& paths,
                      const std::string& skippedFolderName = {});

    // Rows of the list as (first, count), ascending.
    using RowRanges = QList<std::pair<qsizetype, qsizetype>>;

Q_SIGNALS:
    // Every change of the list. Appends and removals say what they did first.
    void jobsChanged();
    void jobsAppended(qsizetype first, qsizetype count);
    // These rows, counted as they stood before, are gone; their jobs are
    // deleted later, not at once.
    void jobsRemoved(const ImageProcessor::RowRanges& rows);
    void isProcessingChanged(bool isProcessing);
    // A result has been written into `job`.
    void jobFinished(JobItem* job);
    // The stop has ended: nothing is in flight any more, or what was is
    // abandoned.
    void stopped(bool abandoned);

private:
    struct Batch;
    struct Listing;
    void enqueueURLs(const QList<QUrl>& urls, const ResizeSettingsSnapshot& settings);
    // Appends the listings that are done, up to the first that is not.
    void appendListed();
    void startBatch(std::vector<std::filesystem::path> files,
                    const ResizeSettingsSnapshot& settings);
    void endBatch();
    // One file on its way, from the checks on its name to its outcome.
    struct File;
    void startNext(const std::shared_ptr<Batch>& batch);
    void opened(const std::shared_ptr<File>& file);
    void inspected(const std::shared_ptr<File>& file, const WorkerPool::Reply& reply);
    void admitWaiting();
    void claimed(const std::shared_ptr<File>& file);
    void converted(const std::shared_ptr<File>& file, const WorkerPool::Reply& reply);
    void placed(const std::shared_ptr<File>& file);
    // Runs `work` on the thread pool (or here, see above), then `then` on the
    // main thread, from its event loop either way.
    void onPool(const std::shared_ptr<File>& file, std::function<void(File&)> work,
                void (ImageProcessor::*then)(const std::shared_ptr<File>&));
    // Whether a file that has not started converting is to go no further.
    bool dropIfStopping(const std::shared_ptr<File>& file);
    // Whether its batch was stopped by the user: the file then ends skipped.
    bool skipIfStopped(const std::shared_ptr<File>& file);
    void finish(const std::shared_ptr<File>& file, const ImageProcessingOutcome& outcome);
    // Ends the batch once nothing of it is in flight and nothing more will start.
    void endIfDrained(const std::shared_ptr<Batch>& batch);
    void endStop(bool abandoned);
    void cancelListings();
    void apply(const ImageProcessingResult& result);
    JobItem* job(const QUuid& id) const { return m_jobsByID.value(id); }
    void removeJobs(const std::function<bool(const JobItem*)>& shouldRemove);
    void setIsProcessing(bool value);

    QList<JobItem*> m_jobs;
    QHash<QUuid, JobItem*> m_jobsByID;
    bool m_isProcessing = false;
    // Batches running, and drops still being listed.
    std::int64_t m_activeBatchCount = 0;
    std::deque<std::shared_ptr<Listing>> m_listings;
    // Batches that have not ended, for the user's Stop.
    std::vector<std::shared_ptr<Batch>> m_batches;
    // Files checking, waiting for memory or resizing, over all batches.
    int m_inFlight = 0;
    bool m_stopping = false;
    bool m_stopEnded = false;
    QTimer m_graceTimer;
    // Checked files waiting for memory to convert; across batches, in the
    // order their checks ended, which within a batch is the request order.
    std::deque<std::shared_ptr<File>> m_waiting;
    std::int64_t m_memoryBudget;
    std::int64_t m_memoryInFlight = 0;
    int m_filesResizing = 0;
    WorkerPool m_pool;
    double m_workerTimeFactor = 1.0;
    bool m_fileStagesInline = false;
    // Batches bound themselves; the pool must never cap two batches together.
    QThreadPool m_fileTasks;
};
