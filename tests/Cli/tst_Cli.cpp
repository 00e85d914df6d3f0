// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-cli run as a new user would (a fresh config folder, real files),
// and it and the window stopped by a signal or killed outright midway through
// a batch. Their peak memory is bench/memory.sh's.
#include "Services/ImageEncoder.h"
#include "Services/VipsRuntime.h"
#include "Support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <vips/vips8>

#include <csignal>
#include <set>

using namespace TestSupport;

namespace {

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

class CliTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }
    int m_runs = 0;
    QMap<fs::path, QByteArray> m_originals; // and their hashes

    // 48 sources of six types, each a link to one of six images made once:
    // a run costs no encoding, and a source is as it was when it is still
    // the same file as its original and the original's bytes are unchanged.
    QMap<fs::path, fs::path> makeBatch(const fs::path& folder) {
        const char* types[] = {"png", "jpg", "tif", "heic", "png", "webp"};
        QMap<fs::path, fs::path> sources;
        fs::create_directories(folder);
        for (int i = 0; i < 48; ++i) {
            const std::string name =
                std::to_string(i % std::size(types)) + "." + types[i % std::size(types)];
            const fs::path original = file("originals/" + name);
            if (!m_originals.contains(original)) {
                makeImage(original, {.width = 2400, .height = 1800});
                m_originals.insert(original, sha256(original));
            }
            const fs::path source = folder / ("img" + std::to_string(i) + "-" + name);
            fs::create_hard_link(original, source);
            sources.insert(source, original);
        }
        return sources;
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

    CliRun cli(const QStringList& arguments) { return runCli(arguments, file("config")); }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(qEnvironmentVariable("BURISORA_CLI")), "BURISORA_CLI not set");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(file("config").native()));
    }

    void folderAsJson() {
        const fs::path folder = file("photos");
        makeImage(folder / "a.jpg", {.width = 3000, .height = 2000});
        makeImage(folder / "b.png", {.width = 800, .height = 600});
        makePngClaiming(folder / "bomb.png", 100000, 100000);
        writeBytes(folder / "broken.jpg", "not an image");
        writeBytes(folder / "readme.txt", "ignored");

        const CliRun run = cli({"--json", QString::fromStdString(folder.native())});
        QCOMPARE(run.exitCode, 1); // one file failed
        QCOMPARE(run.lines.size(), 5);
        QCOMPARE(run.lines.last(), QStringLiteral("完了 2 / スキップ 1 / 失敗 1 / 全 4"));
        QMap<QString, QJsonObject> bySource;
        for (const QString& line : run.lines.mid(0, 4)) {
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
            bySource.insert(QFileInfo(object.value(QStringLiteral("source")).toString()).fileName(),
                            object);
        }
        const QJsonObject a = bySource.value(QStringLiteral("a.jpg"));
        QCOMPARE(a, (QJsonObject{{"source", QString::fromStdString((folder / "a.jpg").native())},
                                 {"status", "succeeded"},
                                 {"sourcePixelLongEdge", 3000},
                                 {"outputPixelLongEdge", 1280},
                                 {"output", QString::fromStdString(
                                                (folder / "Resized" / "a.jpg").native())}}));
        QCOMPARE(decode(folder / "Resized" / "a.jpg").width, 1280);
        QCOMPARE(decode(folder / "Resized" / "b.png").width, 800); // never enlarged by default
        QCOMPARE(bySource.value("bomb.png").value("reason").toString(),
                 QStringLiteral("画像が大きすぎます (100000x100000)"));
        QCOMPARE(bySource.value("broken.jpg").value("message").toString(),
                 QStringLiteral("画像ファイルを開けませんでした"));
        QVERIFY(!fs::exists(file("config/burisora/settings.json"))); // read, never written
    }

    void overridesApplyToThisRunOnly() {
        const fs::path image = makeImage(file("single/s.jpg"), {.width = 1000, .height = 500});
        const CliRun run = cli({"--size", "640", "--format=png", "--prefix", "web_",
                                QString::fromStdString(image.native())});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.lines.first().startsWith(u"succeeded\t"));
        QVERIFY(run.lines.first().contains(QStringLiteral("1000px → 640px")));
        QCOMPARE(decode(file("single/Resized/web_s.png")).width, 640);

        const CliRun settings = cli({QStringLiteral("--show-settings")});
        const QJsonObject stored =
            QJsonDocument::fromJson(settings.lines.value(0).toUtf8()).object();
        QCOMPARE(stored.value(QStringLiteral("preset")).toString(), QStringLiteral("1280"));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "--bogus";
        QTest::newRow("quality range") << QStringList{"--quality", "101"} << "--quality";
        QTest::newRow("format") << QStringList{"--format", "gif", "x.jpg"} << "gif";
        QTest::newRow("size missing") << QStringList{"--size"} << "--size";
        QTest::newRow("size zero") << QStringList{"--size=0"} << "--size";
    }
    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);
        const CliRun run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errors.contains(mentions), qPrintable(run.errors));
    }

    void nothingAccepted() {
        const CliRun run = cli({QString::fromStdString(file("nothing-here.txt").native())});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines, QStringList{QStringLiteral("完了 0 / スキップ 0 / 失敗 0 / 全 0")});
    }

    // A stop signal midway: the files in flight finish within the grace (one
    // signal) or are abandoned (a second signal). Either way no name is left
    // empty, no hidden temporary file stays, every output is a whole image
    // and the sources are as they were. SIGKILL allows no clean-up at all:
    // the writes in flight may stay, but only as empty placeholders or hidden
    // temporary files, never as a cut-off image under a final name.
    void stoppedMidway_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("times");
        QTest::addColumn<int>("exitCode");
        const QString cli = qEnvironmentVariable("BURISORA_CLI");
        const QString window = qEnvironmentVariable("BURISORA_APP");
        QTest::newRow("cli, SIGTERM") << cli << SIGTERM << 1 << 143;
        QTest::newRow("cli, SIGINT twice") << cli << SIGINT << 2 << 130;
        QTest::newRow("cli, SIGHUP twice") << cli << SIGHUP << 2 << 129;
        QTest::newRow("cli, SIGKILL") << cli << SIGKILL << 1 << -1;
        QTest::newRow("window, SIGINT") << window << SIGINT << 1 << 130;
        QTest::newRow("window, SIGTERM twice") << window << SIGTERM << 2 << 143;
    }

    void stoppedMidway() {
        QFETCH(QString, program);
        QFETCH(int, signal);
        QFETCH(int, times);
        QFETCH(int, exitCode);
        if (program.isEmpty())
            QSKIP("built without the window");
        const fs::path folder = file("stop-" + std::to_string(++m_runs));
        const QMap<fs::path, fs::path> sources = makeBatch(folder);
        const bool isCli = program == qEnvironmentVariable("BURISORA_CLI");
        const bool killed = signal == SIGKILL;

        QProcess process;
        const QString source = QString::fromStdString(folder.native());
        process.start(program, isCli
                                   ? QStringList{QStringLiteral("--json"), QStringLiteral("--size"),
                                                 QStringLiteral("2000"), source}
                                   : QStringList{source});
        QVERIFY(process.waitForStarted());
        int reported = 0; // files the CLI said were done before the kill
        if (killed) {     // at once after a report: the other file in flight is then being written
            while (reported < 6 && process.waitForReadyRead(60000)) {
                for (; process.canReadLine(); ++reported)
                    process.readLine();
            }
            QVERIFY2(reported >= 6, "no progress");
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(completeOutputs(folder / "Resized") >= 4, 120000);
        }
        const pid_t pid = pid_t(process.processId());
        for (int i = 0; i < times; ++i) {
            // Soon enough to land within the grace, late enough not to be
            // absorbed by the first while that is still pending.
            if (i > 0)
                QTest::qWait(50);
            if (process.state() == QProcess::Running) // else the pid may be another's
                ::kill(pid, signal);
        }
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), killed ? QProcess::CrashExit : QProcess::NormalExit);
        if (!killed)
            QCOMPARE(process.exitCode(), exitCode);

        std::set<fs::path> names; // of the outputs, without the extension
        for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
            std::error_code error;
            QVERIFY2(fs::equivalent(it.key(), it.value(), error), it.key().c_str());
            names.insert(it.key().stem());
        }
        for (auto it = m_originals.cbegin(); it != m_originals.cend(); ++it)
            QVERIFY2(sha256(it.key()) == it.value(), it.key().c_str());
        int complete = 0;
        int leftovers = 0; // empty placeholders and hidden temporary files
        for (const auto& entry : fs::directory_iterator(folder / "Resized")) {
            const bool temporary = ImageEncoder::isTemporaryFileName(entry.path().filename());
            QVERIFY2(temporary || names.contains(entry.path().stem()), entry.path().c_str());
            if (temporary || entry.file_size() == 0) {
                ++leftovers;
                continue;
            }
            QVERIFY2(decodesCompletely(entry.path()), entry.path().c_str());
            ++complete;
        }
        qInfo("stopped after %d of %lld, %d left behind", complete, qlonglong(sources.size()),
              leftovers);
        QVERIFY2(complete < sources.size(), "the batch ended before the stop");
        if (killed) {
            QVERIFY(complete >= reported);
            QVERIFY(leftovers <= 2 * VipsRuntime::parallelismLimit());
            return;
        }
        QCOMPARE(leftovers, 0);
        QCOMPARE(temporaryFilesBelow(folder), QStringList());
        if (isCli) {
            const QStringList lines =
                QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.value(lines.size() - 1),
                     QStringLiteral("完了 %1 / スキップ 0 / 失敗 0 / 全 48").arg(complete));
        }
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_Cli.moc"
