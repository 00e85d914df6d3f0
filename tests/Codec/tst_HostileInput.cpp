// SPDX-License-Identifier: GPL-3.0-or-later
// Files that come from anywhere: broken, lying, enormous or not files at all,
// and every input the fuzzer found a fault with (tests/fuzz-regressions/, under
// each accepted extension: how they end is not fixed, only that it is clean).
// Each must end as skipped or failed with its reason, with the source
// untouched and nothing left in the output folder. The sanitizer build runs this too, so a
// leak or memory error that comes back fails there; an input that takes
// minutes again runs into the test's time-out.
#include "Models/Errors.h"
#include "Batch/ImagePipeline.h"
#include "Batch/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace TestSupport;

namespace {

const QString openFailed = QStringLiteral("画像ファイルを開けませんでした");
const QString headerFailed = QStringLiteral("画像のメタデータを読み取れませんでした");
const QString decodeFailed = QStringLiteral("リサイズに失敗しました");
const QString notRegular = QStringLiteral("通常ファイルではありません");

// A GIF of `frames` 1x1 frames.
QByteArray gifWithFrames(int frames) {
    QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
    gif.append("\x00\x00\x00\xff\xff\xff", 6);
    const QByteArray frame("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 15);
    return gif.append(frame.repeated(frames)).append('\x3b');
}

} // namespace

class HostileInputTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    // From the environment rather than __FILE__, which a compiler cache may make relative.
    static QDir fuzzInputs() {
        return QDir(qEnvironmentVariable("BURISORA_TEST_DATA") + "/fuzz-regressions");
    }

    // Writes the fixture `kind` at `target`.
    void make(const QString& kind, const fs::path& target) {
        const QMap<QString, QByteArray> contents{
            {"zero bytes", {}},
            {"svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>"},
            {"gif with 50000 frames", gifWithFrames(50000)}};
        if (contents.contains(kind)) {
            writeBytes(target, contents[kind]);
        } else if (kind.startsWith(u"truncated ") || kind.startsWith(u"header only ")) {
            const std::string ext = kind.section(u' ', -1).toStdString();
            const QByteArray bytes =
                readBytes(makeImage(file("whole." + ext), {.width = 640, .height = 480}));
            writeBytes(target, bytes.left(bytes.size() * (kind.startsWith(u"t") ? 50 : 2) / 100));
        } else if (kind == u"unreadable") {
            makeImage(target);
            fs::permissions(target, fs::perms::none);
        } else if (kind == u"dangling link") {
            fs::create_symlink(file("nowhere.jpg"), target);
        } else if (kind.startsWith(u"claims ")) {
            const QStringList size = kind.section(u' ', 1).split(u'x');
            makePngClaiming(target, size[0].toUInt(), size[1].toUInt());
        } else if (kind == u"folder") {
            fs::create_directories(target);
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(target.c_str(), 0644), 0);
        } else if (kind.startsWith(u"link to /dev/")) {
            // Device nodes cannot be made unprivileged; the pipeline follows
            // links, so a link to a system device is the same case.
            fs::create_symlink(kind.section(u' ', 2).toStdString(), target);
        } else {
            QCOMPARE(kind, QStringLiteral("missing"));
        }
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
    }

    void hostileFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<JobStatus>("status");      // pending: any end, if a clean one
        QTest::addColumn<qint64>("sourceLongEdge"); // -1: absent
        const auto row = [](const QString& kind, const JobStatus& status, qint64 edge = -1) {
            QTest::newRow(qPrintable(kind)) << kind << status << edge;
        };
        // Where a reader notices the damage differs by format: a header cut
        // short fails before the size is known, broken pixel data after. TIFF
        // keeps its directory at the end; GIF reads its frames up front.
        const char* cuts[][3] = {{"jpg", "decode", "header"},  {"png", "decode", "decode"},
                                 {"heic", "header", "header"}, {"tif", "open", "open"},
                                 {"gif", "header", "header"},  {"webp", "header", "header"}};
        const QMap<QString, QString> messages{
            {"decode", decodeFailed}, {"header", headerFailed}, {"open", openFailed}};
        for (const auto& [ext, truncated, headerOnly] : cuts) {
            for (const auto& [cut, stage] :
                 {std::pair{"truncated", truncated}, {"header only", headerOnly}})
                row(QStringLiteral("%1 %2").arg(QLatin1String(cut), QLatin1String(ext)),
                    JobStatus::failed(messages[stage]), messages[stage] == decodeFailed ? 640 : -1);
        }
        const auto tooLarge = [](const char* size) {
            return JobStatus::skipped(QStringLiteral("画像が大きすぎます (%1)").arg(size));
        };
        row("missing", JobStatus::failed(SystemError(ENOENT).errorDescription()));
        if (::geteuid() != 0) // root reads everything
            row("unreadable",
                JobStatus::failed(QStringLiteral("ファイルの読み取り権限がありません")));
        // Opened by content, among our formats only (all of these are named .jpg).
        for (const char* foreign : {"zero bytes", "svg"})
            row(foreign, JobStatus::failed(openFailed));
        // Just past the long-edge limit, just past the pixel limit, and 196
        // megapixels within the limits.
        row("claims 200001x1", tooLarge("200001x1"), 200001);
        row("claims 20000x10001", tooLarge("20000x10001"), 20000);
        row("claims 14000x14000", JobStatus::failed(decodeFailed), 14000);
        row("gif with 50000 frames", JobStatus::succeeded(), 1); // only the first frame is read
        for (const char* notAFile : {"folder", "dangling link", "fifo", "link to /dev/zero"})
            row(notAFile, JobStatus::skipped(notRegular));
        const QStringList inputs = fuzzInputs().entryList(QDir::Files, QDir::Name);
        QVERIFY2(!inputs.isEmpty(), "tests/fuzz-regressions not found");
        for (const QString& name : inputs) {
            for (const QString& extension : ImageProcessor::acceptedExtensions())
                row("fuzz " + name + "." + extension, JobStatus::pending());
        }
    }
    void hostileFile() {
        QFETCH(QString, kind);
        QFETCH(JobStatus, status);
        QFETCH(qint64, sourceLongEdge);
        const fs::path folder = file("single/" + QString::number(qHash(kind)).toStdString());
        fs::create_directories(folder);
        const bool fuzz = kind.startsWith(u"fuzz ");
        const fs::path source =
            folder / (fuzz ? "input." + kind.section(u'.', -1).toStdString() : "image.jpg");
        if (fuzz)
            writeBytes(
                source,
                readBytes(fuzzInputs().filePath(kind.mid(5).section(u'.', 0, -2)).toStdString()));
        else
            make(kind, source);
        const QByteArray before = fs::is_regular_file(source) ? sha256(source) : QByteArray();
        const ImageProcessingOutcome outcome =
            ImagePipeline::process(source, snapshot(fuzz ? 48 : 200));
        if (status != JobStatus::pending()) {
            QCOMPARE(outcome.status, status);
            QCOMPARE(outcome.sourcePixelLongEdge.value_or(-1), sourceLongEdge);
        }
        if (!before.isEmpty())
            QCOMPARE(sha256(source), before);
        if (outcome.status == JobStatus::succeeded()) {
            const Decoded decoded = decode(*outcome.outputURL);
            QCOMPARE(std::max(decoded.width, decoded.height), int(*outcome.outputPixelLongEdge));
        } else {
            QVERIFY(!outcome.status.text().isEmpty());
            QVERIFY(!outcome.outputURL && !outcome.outputPixelLongEdge);
            QCOMPARE(entries(folder / "Resized"), 0);
        }
        QVERIFY(temporaryFilesBelow(folder).isEmpty());
    }

    // Names a shell or a naive argument parser would trip over, given to
    // burisora-cli after "--".
    void oddNamesThroughTheCli_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("byFolder"); // QProcess cannot pass bytes that are not UTF-8
        QTest::newRow("leading dash") << QByteArray("-rf.jpg") << false;
        QTest::newRow("double dash") << QByteArray("--help.png") << false;
        QTest::newRow("newline") << QByteArray("two\nlines.jpg") << false;
        QTest::newRow("tab and quotes") << QByteArray("a\t'b\".png") << false;
        QTest::newRow("not UTF-8") << QByteArray("bad-\xc3\x28.jpg") << true;
    }
    void oddNamesThroughTheCli() {
        QFETCH(QByteArray, name);
        QFETCH(bool, byFolder);
        const fs::path folder = file("names/" + QString::number(qHash(name)).toStdString());
        const fs::path source = folder / name.toStdString();
        fs::rename(makeImage(folder / ("plain" + source.extension().native())), source);
        // Relative, as a shell glob would pass it.
        const CliRun run = runCli({QStringLiteral("--json"), QStringLiteral("--"),
                                   byFolder ? QStringLiteral(".") : QString::fromUtf8(name)},
                                  file("config"), folder);
        QCOMPARE(run.exitCode, 0);
        const QJsonObject result = QJsonDocument::fromJson(run.lines.value(0).toUtf8()).object();
        QCOMPARE(result.value(QStringLiteral("status")).toString(), QStringLiteral("succeeded"));
        const fs::path output = folder / "Resized" / name.toStdString();
        QVERIFY(fs::is_regular_file(output) && fs::file_size(output) > 0);
        fs::remove_all(folder); // names QTemporaryDir may not decode
    }
};

QTEST_GUILESS_MAIN(HostileInputTest)
#include "tst_HostileInput.moc"
