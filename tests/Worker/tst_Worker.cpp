// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding runs in confined worker processes: what the confinement refuses,
// and what a worker's death, hang or a stop costs a batch.
#include "Batch/ImageProcessor.h"
#include "Models/FileURLs.h"
#include "Worker/Sandbox.h"
#include "Worker/WorkerProtocol.h"

#include "Support/TestSupport.h"

#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using namespace TestSupport;
using Attempt = std::function<bool()>;
Q_DECLARE_METATYPE(Attempt)

namespace {

// Runs `attempt` in a confined child; true when it succeeded there.
bool succeedsConfined(const Attempt& attempt) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(!Sandbox::enter() ? 2 : attempt() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 2)
        qFatal("the confined child did not run its attempt");
    return WEXITSTATUS(status) == 0;
}

QString statusField(pid_t pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field + ':')))
            return QString::fromLatin1(line.mid(field.size() + 1).trimmed());
    }
    return {};
}

} // namespace

class WorkerTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() { initialize(); }

    void confinement_data() {
        QTest::addColumn<Attempt>("attempt");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("open a path") << Attempt([] {
            return ::open("/etc/hostname", O_RDONLY | O_CLOEXEC) >= 0 || errno != EPERM;
        }) << false;
        QTest::newRow("make a socket")
            << Attempt([] { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) >= 0; })
            << false;
        QTest::newRow("start a program") << Attempt([] {
            char* const arguments[] = {const_cast<char*>("/bin/true"), nullptr};
            ::execv("/bin/true", arguments);
            return false;
        }) << false;
        QTest::newRow("start a process") << Attempt([] {
            const pid_t child = ::fork();
            if (child == 0)
                ::_exit(0);
            return child > 0;
        }) << false;
        QTest::newRow("signal another process")
            << Attempt([] { return ::kill(::getppid(), 0) == 0; }) << false;
        QTest::newRow("threads, memory, its own descriptors") << Attempt([] {
            bool ran = false;
            std::thread([&] { ran = true; }).join();
            std::vector<char> buffer(64 << 20, 1);
            char byte = 0;
            return ran && buffer.back() == 1 && ::write(STDERR_FILENO, &byte, 0) == 0;
        }) << true;
    }
    void confinement() {
        QFETCH(Attempt, attempt);
        QFETCH(bool, allowed);
        QCOMPARE(succeedsConfined(attempt), allowed);
    }

    // A worker that dies costs its own job and nothing else; a worker past
    // its time limit is ended and its job fails; a stop leaves no worker and
    // no file behind. Every worker runs confined.
    void faultsCostOneJob_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("failed"); // -1: all
        QTest::addColumn<QString>("message");
        QTest::newRow("worker killed") << "SIGSEGV" << 1 << "画像の処理が異常終了しました";
        QTest::newRow("past the time limit")
            << "time" << -1 << "画像の処理に時間がかかりすぎたため中止しました";
        QTest::newRow("stop") << "stop" << 0 << "";
    }
    void faultsCostOneJob() {
        QFETCH(QString, fault);
        QFETCH(int, failed);
        QFETCH(QString, message);
        const std::string folder = fault.toStdString();
        QList<QUrl> urls;
        for (int i = 0; i < 4; ++i) // a few hundred milliseconds each, in a worker
            urls.append(
                FileURLs::fileURL(makeImage(file(folder) / ("p" + std::to_string(i) + ".png"),
                                            {.width = 3000, .height = 2000})));
        ImageProcessor processor;
        if (fault == u"time")
            processor.setWorkerTimeFactor(1e-6);
        processor.enqueue(urls, snapshot(2000));
        if (fault != u"time") { // once a file converts
            QTRY_VERIFY_WITH_TIMEOUT(!processor.workerProcessIds(true).empty(), 30000);
            const pid_t worker = processor.workerProcessIds(true).front();
            // A worker just started confines itself before it reads its first file.
            QTRY_COMPARE(statusField(worker, "Seccomp"), QStringLiteral("2"));
            QCOMPARE(statusField(worker, "NoNewPrivs"), QStringLiteral("1"));
            if (fault == u"SIGSEGV") { // one converting now: its answer is far off
                QTRY_VERIFY(!processor.workerProcessIds(true).empty());
                QCOMPARE(::kill(processor.workerProcessIds(true).front(), SIGSEGV), 0);
            } else { // the files only checked so far go no further
                processor.stop(std::chrono::milliseconds(30000));
            }
        }
        QVERIFY(waitUntilIdle(processor));
        QTRY_VERIFY(!processor.isStopping() || processor.workerProcessIds().empty());

        int failures = 0;
        int finished = 0;
        for (const JobItem* job : processor.jobs()) {
            if (job->status().kind() == JobStatus::Kind::failed) {
                ++failures;
                QCOMPARE(job->status().text(), message);
            } else if (job->status() == JobStatus::succeeded()) {
                ++finished;
                QVERIFY(fs::file_size(*job->outputURL()) > 0);
            }
        }
        QCOMPARE(failures, failed < 0 ? urls.size() : failed);
        if (fault == u"stop") { // what was in flight finished, nothing more started
            QVERIFY(finished >= 1 && finished < urls.size());
            QVERIFY(processor.workerProcessIds().empty());
        } else {
            QCOMPARE(failures + finished, urls.size());
        }
        QCOMPARE(entries(file(folder) / "Resized"), qsizetype(finished));
        QVERIFY(temporaryFilesBelow(file(folder)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(WorkerTest)
#include "tst_Worker.moc"
