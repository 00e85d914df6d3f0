// SPDX-License-Identifier: GPL-3.0-or-later
// Files that come from anywhere: broken, lying, enormous or not files at all,
// and every input the fuzzer found a fault with (tests/fuzz-regressions/, into
// each output type: how they end is not fixed, only that it is clean). Each
// goes through the codec's entry points as a worker runs them, and must end
// with its reason (or as too large, which the caller skips), with the source
// untouched. The sanitizer build runs this too, so a leak or memory error
// that comes back fails there; an input that takes minutes again runs into
// the test's time-out.
#include "Batch/ImagePipeline.h"
#include "Batch/ImageProcessor.h"
#include "Codec/FileConversion.h"
#include "Codec/HevcDecoder.h"
#include "Codec/ImageIOResizer.h"
#include "Codec/ResizeBudget.h"
#include "Models/Errors.h"
#include "Runtime/FileDescriptor.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace TestSupport;

namespace {

const QString openFailed = QStringLiteral("画像ファイルを開けませんでした");
const QString headerFailed = QStringLiteral("画像のメタデータを読み取れませんでした");
const QString decodeFailed = QStringLiteral("リサイズに失敗しました");
const QString damagedData = QStringLiteral("画像データが壊れているか、途中で切れています");
const QString unsupportedKind = QStringLiteral("この種類の画像には対応していません");
const QString tooLarge = QStringLiteral("too large");
const QString succeeded = QStringLiteral("succeeded");

// A GIF of `frames` 1x1 frames.
QByteArray gifWithFrames(int frames) {
    QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
    gif.append("\x00\x00\x00\xff\xff\xff", 6);
    const QByteArray frame("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 15);
    return gif.append(frame.repeated(frames)).append('\x3b');
}

// A JPEG 5 pixels wide and 27397 high with a restart marker after every
// MCU, one of them replaced by a stray byte and a DHT marker: libjpeg warns
// of both and decodes on. Shrunk by 8 on load its width rounds to nothing.
QByteArray damagedThinJpeg() {
    const vips::VImage noise = vips::VImage::gaussnoise(5, 27397).cast(VIPS_FORMAT_UCHAR);
    VipsBlob* blob = noise.jpegsave_buffer(vips::VImage::option()->set("restart_interval", 1));
    size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    QByteArray jpeg(static_cast<const char*>(data), qsizetype(size));
    vips_area_unref(VIPS_AREA(blob));
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    qsizetype restart = jpeg.size() / 2;
    while (!(jpeg[restart] == char(0xFF) && (uchar(jpeg[restart + 1]) & 0xF8) == 0xD0))
        ++restart;
    return scan < 0 ? QByteArray() : jpeg.replace(restart, 2, QByteArray("\x00\xFF\xC4", 3));
}

QByteArray bytesOf(VipsBlob* blob) {
    size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    QByteArray bytes(static_cast<const char*>(data), qsizetype(size));
    vips_area_unref(VIPS_AREA(blob));
    return bytes;
}

// A 640x480 photo-like JPEG with the damage, or the harmless oddity, that
// `kind` names as libjpeg meets them in files from the wild.
QByteArray jpegWith(const QString& kind, const fs::path& scratch) {
    vips::VOption* options = vips::VImage::option();
    if (kind.contains(u"progressive"))
        options->set("interlace", true);
    if (kind.contains(u"restart"))
        options->set("restart_interval", 1);
    const vips::VImage image =
        vips::VImage::new_from_file(makeImage(scratch, {.width = 640, .height = 480}).c_str());
    QByteArray jpeg = bytesOf(image.jpegsave_buffer(options));
    const qsizetype end = jpeg.lastIndexOf("\xFF\xD9");
    if (kind.startsWith(u"cut")) // a partial download "repaired" with an end marker
        return jpeg.left(end / 2).append("\xFF\xD9");
    if (kind.startsWith(u"bad code")) // near the end, where even the fast decoder checks
        return jpeg.replace(end - 300, 24, QByteArray("\xFF\x00").repeated(12));
    if (kind.startsWith(u"lost restart")) {
        qsizetype marker = jpeg.size() / 2;
        while (!(jpeg[marker] == char(0xFF) && (uchar(jpeg[marker + 1]) & 0xF8) == 0xD0))
            ++marker;
        return jpeg.remove(marker, 2);
    }
    if (kind.startsWith(u"bytes before end"))
        return jpeg.insert(end, QByteArray(7, '\0'));
    if (kind.startsWith(u"empty APP5"))
        return jpeg.insert(2, QByteArray("\xFF\xE5\x00\x02", 4));
    if (kind.startsWith(u"12-bit")) { // libjpeg as Debian builds it reads 8-bit samples only
        jpeg[jpeg.indexOf("\xFF\xC0") + 4] = 12;
        return jpeg;
    }
    Q_ASSERT(kind.startsWith(u"junk after end"));
    return jpeg.append(QByteArray("garbage").repeated(10));
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
            {"gif with 50000 frames", gifWithFrames(50000)},
            {"damaged 5x27397 jpg", damagedThinJpeg()}};
        if (contents.contains(kind)) {
            writeBytes(target, contents[kind]);
        } else if (kind.endsWith(u" jpeg")) {
            writeBytes(target, jpegWith(kind, file("whole.jpg")));
        } else if (kind.startsWith(u"truncated ") || kind.startsWith(u"header only ")) {
            const std::string ext = kind.section(u' ', -1).toStdString();
            const QByteArray bytes =
                readBytes(makeImage(file("whole." + ext), {.width = 640, .height = 480}));
            writeBytes(target, bytes.left(bytes.size() * (kind.startsWith(u"t") ? 50 : 2) / 100));
        } else if (kind == u"zeroed block heic") { // within the picture's data
            QByteArray bytes =
                readBytes(makeImage(file("whole.heic"), {.width = 640, .height = 480}));
            writeBytes(target, bytes.replace(bytes.size() * 6 / 10, 64, QByteArray(64, '\0')));
        } else if (kind.startsWith(u"claims ")) {
            const QStringList size = kind.section(u' ', 1).split(u'x');
            makePngClaiming(target, size[0].toUInt(), size[1].toUInt());
        } else if (kind == u"folder") {
            fs::create_directories(target);
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(target.c_str(), 0644), 0);
        } else {
            // Device nodes cannot be made unprivileged; a link to a system
            // device opens as the same case.
            QVERIFY(kind.startsWith(u"link to /dev/"));
            fs::create_symlink(kind.section(u' ', 2).toStdString(), target);
        }
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
    }

    void hostileFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("outcome");       // the error's text; empty: any clean end
        QTest::addColumn<qint64>("sourceLongEdge"); // -1: the header is not read
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("targetLongEdge");
        const auto row = [](const QString& kind, const QString& outcome, qint64 edge = -1,
                            OutputType type = OutputType::jpeg, int target = 200) {
            QTest::newRow(qPrintable(kind)) << kind << outcome << edge << int(type) << target;
        };
        // Where a reader notices the damage differs by format: a header cut
        // short fails before the size is known, broken pixel data after. TIFF
        // keeps its directory at the end; GIF reads its frames up front, and
        // libheif checks that the AVIF's data are all there. libjxl 0.7
        // (Debian 12) fails a cut file while decoding, 0.11 (Debian 13) at
        // its header: either is a clean end.
        const char* cuts[][3] = {{"jpg", "damaged", "header"}, {"png", "decode", "decode"},
                                 {"heic", "header", "header"}, {"tif", "open", "open"},
                                 {"gif", "header", "header"},  {"webp", "header", "header"},
                                 {"avif", "header", "header"}, {"jxl", "either", "either"}};
        const QMap<QString, QString> messages{{"either", QString()},
                                              {"decode", decodeFailed},
                                              {"damaged", damagedData},
                                              {"header", headerFailed},
                                              {"open", openFailed}};
        for (const auto& [ext, truncated, headerOnly] : cuts) {
            for (const auto& [cut, stage] :
                 {std::pair{"truncated", truncated}, {"header only", headerOnly}})
                row(QStringLiteral("%1 %2").arg(QLatin1String(cut), QLatin1String(ext)),
                    messages[stage], QLatin1String(stage).startsWith(u'd') ? 640 : -1);
        }
        // Opened by content, among our formats only (all of these are named .jpg).
        for (const char* foreign : {"zero bytes", "svg"})
            row(foreign, openFailed);
        // Just past the long-edge limit, just past the pixel limit, and 196
        // megapixels within the limits.
        row("claims 200001x1", tooLarge, 200001);
        row("claims 20000x10001", tooLarge, 20000);
        row("claims 14000x14000", decodeFailed, 14000);
        row("gif with 50000 frames", succeeded, 1); // only the first frame is read
        row("damaged 5x27397 jpg", damagedData, 27397);
        // Damage is a failure on both decoders: the fast one that shrinks in
        // the DCT and libvips' own (no shrink); what every viewer ignores is not.
        for (const auto& [kind, outcome] : {std::pair{"cut and closed", damagedData},
                                            {"cut and closed progressive", damagedData},
                                            {"bad code", damagedData},
                                            {"bad code progressive", damagedData},
                                            {"lost restart marker", damagedData},
                                            {"bytes before end marker", succeeded},
                                            {"empty APP5", succeeded},
                                            {"junk after end", succeeded}}) {
            for (const int target : {200, 640})
                row(QStringLiteral("%1 to %2 jpeg").arg(QLatin1String(kind)).arg(target), outcome,
                    640, OutputType::jpeg, target);
        }
        row("12-bit jpeg", unsupportedKind);
        // libde265 decodes damaged HEVC into garbage without an error; only
        // our own decoder plugin (libheif before 1.19) notices.
        row("zeroed block heic", HevcDecoder::reportsDamage() ? damagedData : QString(), 640);
        for (const char* notAFile : {"folder", "fifo", "link to /dev/zero"})
            row(notAFile, openFailed);
        const QStringList inputs = fuzzInputs().entryList(QDir::Files, QDir::Name);
        QVERIFY2(!inputs.isEmpty(), "tests/fuzz-regressions not found");
        for (const QString& name : inputs) {
            for (OutputType type :
                 {OutputType::jpeg, OutputType::png, OutputType::heic, OutputType::tiff})
                row("fuzz " + name + " to " + OutputTypes::preferredFilenameExtension(type), {}, -1,
                    type);
        }
    }
    void hostileFile() {
        QFETCH(QString, kind);
        QFETCH(QString, outcome);
        QFETCH(qint64, sourceLongEdge);
        QFETCH(int, type);
        QFETCH(int, targetLongEdge);
        const fs::path folder = file("single/" + QString::number(qHash(kind)).toStdString());
        fs::create_directories(folder);
        const bool fuzz = kind.startsWith(u"fuzz ");
        const fs::path source = folder / "image.jpg";
        if (fuzz)
            writeBytes(source,
                       readBytes(fuzzInputs().filePath(kind.section(u' ', 1, 1)).toStdString()));
        else
            make(kind, source);
        const QByteArray before = fs::is_regular_file(source) ? sha256(source) : QByteArray();

        // As the parent opens a source: a FIFO must not block.
        const FileDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        QVERIFY(input.isValid());
        const fs::path output = folder / "output";
        const FileDescriptor out(::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        QString ended;
        qint64 edge = -1;
        std::int64_t outputEdge = 0;
        try {
            const FileConversion::SourceInfo info = FileConversion::inspect(input.get());
            edge = std::max(info.width, info.height);
            if (!ResizeBudget::withinSizeLimits(info.width, info.height)) {
                ended = tooLarge;
            } else {
                outputEdge = FileConversion::convert(
                    input.get(), out.get(),
                    {fuzz ? 48 : targetLongEdge, OutputType(type), 0.85, true});
                ended = succeeded;
            }
        } catch (const LocalizedError& error) {
            ended = error.errorDescription();
        }
        QVERIFY(!ended.isEmpty());
        if (!outcome.isEmpty()) {
            QCOMPARE(ended, outcome);
            QCOMPARE(edge, sourceLongEdge);
        }
        if (!before.isEmpty())
            QCOMPARE(sha256(source), before);
        if (ended == succeeded) {
            const Decoded decoded = decode(output);
            QCOMPARE(std::max(decoded.width, decoded.height), int(outputEdge));
        }
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
