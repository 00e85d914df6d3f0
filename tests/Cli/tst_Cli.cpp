// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-cli run as a new user would (a fresh config folder, real files),
// and it and the window stopped by a signal or killed outright midway through
// a batch. Their peak memory is bench/memory.sh's.
#include "Batch/OutputClaims.h"
#include "Runtime/ProcessLimits.h"
#include "Support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <link.h>

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

    CliRun cli(const QStringList& arguments) { return runCli(arguments, file("config")); }

    // The interpreter this test program runs under, as burisora-cli does.
    static QString dynamicLoader() {
        QString loader;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* out) {
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    if (info->dlpi_phdr[i].p_type == PT_INTERP) {
                        *static_cast<QString*>(out) =
                            QString::fromLocal8Bit(reinterpret_cast<const char*>(
                                info->dlpi_addr + info->dlpi_phdr[i].p_vaddr));
                        return 1;
                    }
                }
                return 0; // the program itself comes first
            },
            &loader);
        return loader;
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(qEnvironmentVariable("BURISORA_CLI")), "BURISORA_CLI not set");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(file("config").native()));
    }

    // A folder with this run's options: one JSON object per image, then the
    // summary, and exit status 1 as one failed. The options are this run's
    // only: the settings file is read, never written.
    // Started through the dynamic loader too, as wrappers and noexec mounts
    // do: /proc/self/exe then names the loader, not the program.
    void folderAsJson_data() {
        QTest::addColumn<QString>("loader");
        QTest::newRow("directly") << QString();
        QTest::newRow("through the dynamic loader") << dynamicLoader();
    }
    void folderAsJson() {
        QFETCH(QString, loader);
        const fs::path folder = file(loader.isEmpty() ? "photos" : "photos-loader");
        makeImage(folder / "a.jpg", {.width = 3000, .height = 2000});
        makePngClaiming(folder / "bomb.png", 100000, 100000);
        writeBytes(folder / "broken.jpg", "not an image");
        writeBytes(folder / "readme.txt", "ignored");
        const fs::path latin1 = folder / "caf\xe9.jpg"; // not valid UTF-8
        makeImage(latin1);

        const CliRun run = runCli({"--json", "--size", "640", "--format=png", "--prefix", "web_",
                                   "--max-bytes", "2M", QString::fromStdString(folder.native())},
                                  file("config"), {}, loader);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.lines.size(), 5);
        QMap<QString, QJsonObject> bySource;
        for (const QString& line : run.lines.first(4)) {
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
            bySource.insert(QFileInfo(object.value("source").toString()).fileName(), object);
        }
        const fs::path output = folder / "Resized" / "web_a.png";
        QCOMPARE(bySource.value("a.jpg"),
                 (QJsonObject{{"source", QString::fromStdString((folder / "a.jpg").native())},
                              {"status", "succeeded"},
                              {"sourcePixelLongEdge", 3000},
                              {"outputPixelLongEdge", 640},
                              {"output", QString::fromStdString(output.native())},
                              {"sourceBytes", qint64(fs::file_size(folder / "a.jpg"))},
                              {"outputBytes", qint64(fs::file_size(output))}}));
        QCOMPARE(decode(output).width, 640);
        QCOMPARE(bySource.value("bomb.png").value("reason").toString(),
                 QStringLiteral("画像が大きすぎます (100000x100000)"));
        QCOMPARE(bySource.value("broken.jpg").value("message").toString(),
                 QStringLiteral("画像ファイルを開けませんでした"));
        // Names that are no valid text also come as their bytes, which name the files.
        const QJsonObject cafe = bySource.value(QStringLiteral("caf\uFFFD.jpg"));
        QCOMPARE(QByteArray::fromBase64(cafe.value("sourcePathBytes").toString().toLatin1()),
                 QByteArray::fromStdString(latin1.native()));
        QVERIFY(
            fs::exists(QByteArray::fromBase64(cafe.value("outputPathBytes").toString().toLatin1())
                           .toStdString()));
        QVERIFY(!bySource.value("a.jpg").contains("sourcePathBytes"));
        const CliRun settings = cli({"--show-settings", "--max-bytes", "1.5M"});
        const QJsonDocument shown = QJsonDocument::fromJson(settings.lines.value(0).toUtf8());
        QCOMPARE(shown["preset"].toString(), QStringLiteral("1280"));
        QCOMPARE(shown["maxFileBytes"].toInteger(), 1500000);
        QVERIFY(!fs::exists(file("config/burisora/settings.json")));
    }

    // Usage errors exit with 2 and name what was wrong; nothing to do is no
    // error. What is written, in a sandboxed worker, another decoder reads at
    // the size reported.
    void exitStatus_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("mentions");
        const auto source = [&](const char* name) {
            return QString::fromStdString(
                makeImage(file(std::string("formats/") + name), {.width = 900, .height = 600})
                    .native());
        };
        QTest::newRow("AVIF source to WebP")
            << QStringList{"--format", "webp", "--size", "300", source("a.avif")} << 0
            << "900px → 300px";
        QTest::newRow("JPEG XL source to AVIF")
            << QStringList{"--format", "avif", "--size", "300", source("b.jxl")} << 0
            << "900px → 300px";
        QTest::newRow("HEIC source to HEIC")
            << QStringList{"--format", "keep", "--size", "300", source("c.heic")} << 0
            << "900px → 300px";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "--bogus";
        QTest::newRow("quality range") << QStringList{"--quality", "101"} << 2 << "--quality";
        QTest::newRow("format") << QStringList{"--format", "gif", "x.jpg"} << 2 << "gif";
        QTest::newRow("size missing") << QStringList{"--size"} << 2 << "--size";
        QTest::newRow("size zero") << QStringList{"--size=0"} << 2 << "--size";
        QTest::newRow("size limit unit") << QStringList{"--max-bytes", "2G"} << 2 << "--max-bytes";
        QTest::newRow("size limit sign") << QStringList{"--max-bytes=-5k"} << 2 << "--max-bytes";
        QTest::newRow("nothing accepted")
            << QStringList{"nothing-here.txt"} << 0 << "完了 0 / スキップ 0 / 失敗 0 / 全 0";
    }
    void exitStatus() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, mentions);
        const CliRun run = cli(arguments);
        QCOMPARE(run.exitCode, exitCode);
        const QString output = run.errors + run.lines.join(u'\n');
        QVERIFY2(output.contains(mentions), qPrintable(output));
        // What a worker's libraries might print has no place beside the results.
        QVERIFY2(exitCode != 0 || run.errors.isEmpty(), qPrintable(run.errors));
        for (const QString& line : run.lines) {
            // succeeded, source, "900px → 300px", output
            const QStringList fields = line.split(u'\t');
            if (fields.size() != 4)
                continue;
            const Decoded decoded = decode(fields[3].toStdString());
            QCOMPARE(std::max(decoded.width, decoded.height),
                     fields[2].section(u' ', -1).chopped(2).toInt());
            QCOMPARE(decoded.loader, QLatin1String(fields[3].endsWith(u"webp") ? "webp" : "heic"));
        }
    }

    // The window's program answers --help and --version without a display. In
    // English: other languages get the Japanese in the code.
    void answersWithoutDisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("start");
        QTest::newRow("help") << QStringLiteral("--help") << QStringLiteral("Usage: burisora");
        QTest::newRow("version") << QStringLiteral("--version")
                                 << QStringLiteral("burisora " BURISORA_VERSION);
    }

    void answersWithoutDisplay() {
        QFETCH(QString, option);
        QFETCH(QString, start);
        const QString window = qEnvironmentVariable("BURISORA_APP");
        if (window.isEmpty())
            QSKIP("built without the window");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        process.setProcessEnvironment(environment);
        process.start(window, {option});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(QString::fromUtf8(process.readAllStandardOutput()).startsWith(start),
                 qPrintable(QString::fromUtf8(process.readAllStandardError())));
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
        QTest::newRow("cli, SIGHUP twice") << cli << SIGHUP << 2 << 129;
        QTest::newRow("cli, SIGQUIT") << cli << SIGQUIT << 1 << 131;
        QTest::newRow("cli, reader gone") << cli << SIGPIPE << 1 << 141; // `| head -n 6`
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
        const QStringList arguments =
            isCli ? QStringList{"--json", "--size", "2000", source} : QStringList{source};
        if (signal == SIGPIPE) // the reader goes after six lines; pipefail shows our status
            process.start("bash",
                          QStringList{"-c", "set -o pipefail; \"$@\" | head -n 6", "-", program} +
                              arguments);
        else
            process.start(program, arguments);
        QVERIFY(process.waitForStarted());
        int reported = 0; // files the CLI said were done before the signal
        if (isCli) {      // at once after a report: the other file in flight is then being written
            while (reported < 6 && process.waitForReadyRead(60000)) {
                for (; process.canReadLine(); ++reported)
                    process.readLine();
            }
            QVERIFY2(reported >= 6, "no progress");
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(entries(folder / "Resized") >= 4, 120000);
        }
        const pid_t pid = pid_t(process.processId());
        for (int i = 0; i < times; ++i) {
            // Soon enough to land within the grace, late enough not to be
            // absorbed by the first while that is still pending.
            if (i > 0)
                QTest::qWait(50);
            if (signal != SIGPIPE &&
                process.state() == QProcess::Running) // else the pid may be another's
                ::kill(pid, signal);
        }
        // It may have ended already, within the pause before a second signal.
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(60000));
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
            const bool temporary = OutputClaims::isTemporaryFileName(entry.path().filename());
            QVERIFY2(temporary || names.contains(entry.path().stem()), entry.path().c_str());
            if (temporary || entry.file_size() == 0) {
                ++leftovers;
                continue;
            }
            QVERIFY2(decodesCompletely(entry.path()), entry.path().c_str());
            ++complete;
        }
        QVERIFY2(complete < sources.size(), "the batch ended before the stop");
        QVERIFY(complete >= reported);
        if (killed) {
            QVERIFY(leftovers <= 2 * ProcessLimits::parallelismLimit());
            return;
        }
        QCOMPARE(leftovers, 0);
        if (isCli && signal != SIGPIPE) // the summary still comes, and counts what was written
            QCOMPARE(
                QString::fromUtf8(process.readAllStandardOutput().trimmed().split('\n').last()),
                QStringLiteral("完了 %1 / スキップ 0 / 失敗 0 / 全 48").arg(complete));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_Cli.moc"
