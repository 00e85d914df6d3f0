// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// SIGTERM, SIGINT, SIGHUP and SIGQUIT delivered to the event loop as a signal
// of this object instead of ending the process on the spot. The handler only
// writes the number to a pipe, which is all a signal handler may safely do;
// the rest happens on the main thread. SIGPIPE is ignored meanwhile: a reader
// that goes away shows as a failed write, which the owner turns into a stop.
class StopSignals : public QObject {
    Q_OBJECT
public:
    // One instance per process; the previous dispositions return with it.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // 128 + the signal's number, the shell's convention: 143, 130, 129, 131.
    static int exitCode(int signal) { return 128 + signal; }
    // Ends the process now, without waiting for worker threads or running
    // destructors: for after an abandoning stop, when workers are still busy
    // with files whose outputs are gone.
    [[noreturn]] static void exitNow(int code);

Q_SIGNALS:
    void received(int signal);

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
