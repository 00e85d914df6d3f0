// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-cli and the window as processes: stopped by a signal or killed
// outright midway, and the CLI's memory over one huge image and over a long
// batch. Memory is the kernel's account of the child's peak, so the figures
// do not depend on timing.
#include "Services/ImageEncoder.h"
#include "Services/ImageProcessor.h"
#include "Services/VipsRuntime.h"
#include "Support/TestSupport.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QTest>

#include <vips/vips8>

#include <csignal>

using namespace TestSupport;

namespace {

// Peak resident memory of one burisora-cli run over `arguments`, in MiB; -1
// when it did not exit normally. Measured by time(1): a process started
// straight from this one would be charged this one's own peak as well, since
// the kernel carries the pre-exec memory's high-water mark across exec.
double peakMiB(const QStringList& arguments) {
    QTemporaryFile report;
    if (!report.open())
        return -1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"),
                              report.fileName(), qEnvironmentVariable("BURISORA_CLI")} +
                      arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    bool ok = false;
    const double kib = report.readAll().trimmed().toDouble(&ok);
    return ok ? kib / 1024.0 : -1;
}

// True when every pixel decodes: a cut-off file fails here.
bool decodesCompletely(const fs::path& file) {
    try {
        const vips::VImage image = vips::VImage::new_from_file(
            file.c_str(), vips::VImage::option()->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
        image.avg();
        return true;
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
}

} // namespace

class InterruptionTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_runs = 0;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    // 48 sources of six types: links to six images made once, so each run
    // costs no encoding.
    QMap<fs::path, QByteArray> makeBatch(const fs::path& folder) const {
        const char* types[] = {"png", "jpg", "tif", "heic", "png", "webp"};
        QMap<fs::path, QByteArray> before;
        fs::create_directories(folder);
        for (int i = 0; i < 48; ++i) {
            const std::string name =
                std::to_string(i % std::size(types)) + "." + types[i % std::size(types)];
            const fs::path original = file("originals/" + name);
            if (!fs::exists(original))
                makeImage(original, {.width = 2400, .height = 1800});
            const fs::path source = folder / ("img" + std::to_string(i) + "-" + name);
            fs::create_hard_link(original, source);
            before.insert(source, sha256(source));
        }
        return before;
    }

    // Complete outputs so far; hidden temporary files and placeholders do not count.
    static int completeOutputs(const fs::path& folder) {
        int complete = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            const bool hidden = entry.path().filename().native().starts_with('.');
            complete += !hidden && entry.file_size(error) > 0 ? 1 : 0;
        }
        return complete;
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(qEnvironmentVariable("BURISORA_CLI")), "BURISORA_CLI not set");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(file("config").native()));
    }

    // A stop signal midway: the files in flight finish within the grace (one
    // signal) or are abandoned (a second signal). Either way no name is left
    // empty, no hidden temporary file stays, every output is a whole image
    // and the sources are as they were.
    void stoppedBySignalMidway_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("times");
        QTest::addColumn<int>("exitCode");
        const QString cli = qEnvironmentVariable("BURISORA_CLI");
        const QString window = qEnvironmentVariable("BURISORA_APP");
        QTest::newRow("cli, SIGTERM") << cli << SIGTERM << 1 << 143;
        QTest::newRow("cli, SIGINT twice") << cli << SIGINT << 2 << 130;
        QTest::newRow("cli, SIGHUP twice") << cli << SIGHUP << 2 << 129;
        QTest::newRow("window, SIGINT") << window << SIGINT << 1 << 130;
        QTest::newRow("window, SIGTERM twice") << window << SIGTERM << 2 << 143;
    }

    void stoppedBySignalMidway() {
        QFETCH(QString, program);
        QFETCH(int, signal);
        QFETCH(int, times);
        QFETCH(int, exitCode);
        if (program.isEmpty())
            QSKIP("built without the window");
        const fs::path folder = file("stop-" + std::to_string(++m_runs));
        const QMap<fs::path, QByteArray> before = makeBatch(folder);
        const bool isCli = program == qEnvironmentVariable("BURISORA_CLI");

        QProcess process;
        const QString source = QString::fromStdString(folder.native());
        process.start(program,
                      isCli ? QStringList{QStringLiteral("--size"), QStringLiteral("2000"), source}
                            : QStringList{source});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(completeOutputs(folder / "Resized") >= 4, 120000);
        for (int i = 0; i < times; ++i) {
            if (i > 0)
                QTest::qWait(300); // a signal still pending would absorb the next one
            ::kill(pid_t(process.processId()), signal);
        }
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);

        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(sha256(it.key()) == it.value(), it.key().c_str());
        QCOMPARE(temporaryFilesBelow(folder), QStringList());
        int complete = 0;
        for (const auto& entry : fs::directory_iterator(folder / "Resized")) {
            QVERIFY2(entry.file_size() > 0, entry.path().c_str());
            QVERIFY2(decodesCompletely(entry.path()), entry.path().c_str());
            ++complete;
        }
        qInfo("stopped after %d of %lld", complete, qlonglong(before.size()));
        QVERIFY2(complete < before.size(), "the batch ended before the stop");
        if (isCli) {
            const QStringList lines =
                QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            QVERIFY(!lines.isEmpty());
            QCOMPARE(lines.last(),
                     QStringLiteral("完了 %1 / スキップ 0 / 失敗 0 / 全 48").arg(complete));
        }
    }

    void killedMidway() {
        const fs::path folder = file("kill");
        const QMap<fs::path, QByteArray> before = makeBatch(folder);

        QProcess cli;
        cli.start(qEnvironmentVariable("BURISORA_CLI"),
                  {QStringLiteral("--json"), QStringLiteral("--size"), QStringLiteral("2000"),
                   QString::fromStdString(folder.native())});
        QVERIFY(cli.waitForStarted());
        int done = 0;
        while (done < 6 && cli.waitForReadyRead(60000)) {
            while (cli.canReadLine()) {
                cli.readLine();
                ++done;
            }
        }
        QVERIFY2(done >= 6, "no progress");
        cli.kill(); // SIGKILL: no handler, no clean-up of any kind
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);

        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(sha256(it.key()) == it.value(), it.key().c_str());
        int complete = 0;
        int placeholders = 0;
        int temporary = 0;
        for (const auto& entry : fs::directory_iterator(folder / "Resized")) {
            if (ImageEncoder::isTemporaryFileName(entry.path().filename().native()))
                ++temporary; // the writes in flight: hidden, never under a final name
            else if (entry.file_size() == 0)
                ++placeholders;
            else {
                QVERIFY2(decodesCompletely(entry.path()), entry.path().c_str());
                ++complete;
            }
        }
        qInfo("killed after %d results: %d complete, %d empty placeholders, %d hidden temporary",
              done, complete, placeholders, temporary);
        QVERIFY2(complete < int(before.size()), "the batch ended before the kill");
        QVERIFY(complete >= done);
        QVERIFY(placeholders + temporary <= 2 * VipsRuntime::parallelismLimit());
    }

    void peakMemoryForOneHugeImage() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's own bookkeeping dominates the figure");
#endif
        const fs::path source = file("huge/huge.png");
        fs::create_directories(source.parent_path());
        // 16000 x 12000, 192 megapixels: inside the limits.
        (vips::VImage::xyz(16000, 12000)[0] * 0.01)
            .cast(VIPS_FORMAT_UCHAR)
            .bandjoin_const({64, 128})
            .pngsave(source.c_str(), vips::VImage::option()->set("compression", 1));
        const double peak = peakMiB({QString::fromStdString(source.native())});
        qInfo("peak resident memory for a 16000x12000 PNG: %.0f MiB", peak);
        QVERIFY(peak > 0);
        QVERIFY2(peak < 1024, qPrintable(QString::number(peak)));
        QCOMPARE(decode(file("huge/Resized/huge.png")).width, 1280);
    }

    // The same files 200 and 2000 times over: the longer batch may not need
    // more than a few megabytes more (each leaked output would be ~100 KB).
    void memoryDoesNotGrowOverABatch() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer keeps freed memory in quarantine");
#endif
        const fs::path original =
            makeImage(file("batch/original.jpg"), {.width = 1000, .height = 750});
        const auto fill = [&](const std::string& name, int count) {
            const fs::path folder = file("batch/" + name);
            fs::create_directories(folder);
            for (int i = 0; i < count; ++i)
                fs::create_hard_link(original, folder / ("p" + std::to_string(i) + ".jpg"));
            return QString::fromStdString(folder.native());
        };
        const QStringList options{QStringLiteral("--size"), QStringLiteral("1000"),
                                  QStringLiteral("--quality"), QStringLiteral("100")};
        const double short_ = peakMiB(options + QStringList{fill("short", 200)});
        const double long_ = peakMiB(options + QStringList{fill("long", 2000)});
        qInfo("peak resident memory: %.0f MiB for 200 files, %.0f MiB for 2000", short_, long_);
        QVERIFY(short_ > 0 && long_ > 0);
        QVERIFY2(long_ - short_ < 32, qPrintable(QString::number(long_ - short_)));
    }
};

QTEST_GUILESS_MAIN(InterruptionTest)
#include "tst_Interruption.moc"
