// SPDX-License-Identifier: GPL-3.0-or-later
// Files that come from anywhere: broken, lying, enormous or not files at all.
// Each must end as skipped or failed with its reason, quickly, with the source
// untouched and nothing left in the output folder, and the batch must go on.
#include "Models/FileURLs.h"
#include "Services/ImagePipeline.h"
#include "Services/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <vips/vips8>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

using namespace TestSupport;

namespace {

const QString openFailed = QStringLiteral("画像ファイルを開けませんでした");
const QString headerFailed = QStringLiteral("画像のメタデータを読み取れませんでした");
const QString decodeFailed = QStringLiteral("リサイズに失敗しました");
const QString notRegular = QStringLiteral("通常ファイルではありません");

// A little-endian TIFF with one directory. Arrays that do not fit an entry
// go after it; an entry with `count` beyond its values claims data that is
// not there.
struct TiffEntry {
    quint16 tag;
    quint16 type; // 3 SHORT, 4 LONG
    quint32 count;
    std::vector<quint32> values;
};
QByteArray tiff(std::vector<TiffEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.tag < b.tag; });
    QByteArray out("II*\0", 4);
    const auto put16 = [](QByteArray& b, quint32 v) {
        b.append(char(v & 0xFF)).append(char(v >> 8));
    };
    const auto put32 = [&](QByteArray& b, quint32 v) { put16(b, v & 0xFFFF), put16(b, v >> 16); };
    put32(out, 8);
    const quint32 extraStart = 8 + 2 + 12 * quint32(entries.size()) + 4;
    QByteArray extra;
    put16(out, quint32(entries.size()));
    for (const TiffEntry& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, e.count);
        const int size = e.type == 3 ? 2 : 4;
        QByteArray data;
        for (quint32 v : e.values)
            size == 2 ? put16(data, v) : put32(data, v);
        if (quint64(e.count) * size <= 4) {
            out.append(data.leftJustified(4, '\0', true));
        } else {
            put32(out, extraStart + quint32(extra.size()));
            extra.append(data);
        }
    }
    put32(out, 0);
    return out + extra;
}

// A GIF of `frames` 1x1 frames.
QByteArray gifWithFrames(int frames) {
    QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
    gif.append("\x00\x00\x00\xff\xff\xff", 6);
    const QByteArray frame("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 15);
    gif.reserve(gif.size() + frames * frame.size() + 1);
    for (int i = 0; i < frames; ++i)
        gif.append(frame);
    return gif.append('\x3b');
}

// A progressive JPEG whose frame header claims `width` x `height`: decoding
// it would need the whole coefficient buffer, hundreds of megabytes.
QByteArray progressiveJpegClaiming(const fs::path& scratch, quint16 width, quint16 height) {
    vips::VImage::black(64, 64, vips::VImage::option()->set("bands", 3))
        .write_to_file((scratch.native() + "[interlace]").c_str());
    QByteArray jpeg = readBytes(scratch);
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc2", 2));
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

ResizeSettingsSnapshot settings() {
    ResizeSettingsSnapshot s;
    s.longEdgePx = 200;
    return s;
}

struct Expected {
    JobStatus status = JobStatus::pending();
    qint64 sourceLongEdge = -1; // -1: absent
};

} // namespace

class HostileInputTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    // Writes the fixture `kind` at `target` and says how it must end.
    Expected make(const QString& kind, const fs::path& target) {
        const std::string k = kind.toStdString();
        const auto cut = [&](const std::string& ext, double fraction) {
            const fs::path whole =
                makeImage(file("whole/" + k + "." + ext), {.width = 640, .height = 480});
            const QByteArray bytes = readBytes(whole);
            writeBytes(target, bytes.left(qsizetype(bytes.size() * fraction)));
        };
        // Where a reader notices the damage differs by format: a header cut
        // short fails before the size is known, broken pixel data after.
        static const QMap<QString, Expected> cuts{
            {QStringLiteral("truncated jpg"), {JobStatus::failed(decodeFailed), 640}},
            {QStringLiteral("truncated png"), {JobStatus::failed(decodeFailed), 640}},
            {QStringLiteral("truncated heic"), {JobStatus::failed(headerFailed)}},
            {QStringLiteral("truncated tif"),
             {JobStatus::failed(openFailed)}}, // directory at the end
            {QStringLiteral("truncated gif"),
             {JobStatus::failed(headerFailed)}}, // frames read up front
            {QStringLiteral("truncated webp"), {JobStatus::failed(headerFailed)}},
            {QStringLiteral("header only jpg"), {JobStatus::failed(headerFailed)}},
            {QStringLiteral("header only png"), {JobStatus::failed(decodeFailed), 640}},
            {QStringLiteral("header only heic"), {JobStatus::failed(headerFailed)}},
            {QStringLiteral("header only tif"), {JobStatus::failed(openFailed)}},
            {QStringLiteral("header only gif"), {JobStatus::failed(headerFailed)}},
            {QStringLiteral("header only webp"), {JobStatus::failed(headerFailed)}},
        };
        if (cuts.contains(kind)) {
            cut(kind.section(u' ', -1).toStdString(), kind.startsWith(u"truncated") ? 0.5 : 0.02);
            return cuts.value(kind);
        }
        if (kind == u"zero bytes") {
            writeBytes(target, {});
            return {JobStatus::failed(openFailed)};
        }
        if (kind == u"random bytes") {
            QByteArray noise(64 * 1024, '\0');
            QRandomGenerator generator(7);
            generator.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
            writeBytes(target, noise);
            return {JobStatus::failed(openFailed)};
        }
        if (kind == u"bomb") {
            makePngClaiming(target, 100000, 100000);
            return {JobStatus::skipped(QStringLiteral("画像が大きすぎます (100000x100000)")),
                    100000};
        }
        if (kind == u"gigabyte png") { // 196 megapixels: within the limits
            makePngClaiming(target, 14000, 14000);
            return {JobStatus::failed(decodeFailed), 14000};
        }
        if (kind == u"gigabyte progressive jpeg") {
            // libjpeg fills the missing scans with grey: a complete image.
            writeBytes(target, progressiveJpegClaiming(file("scratch.jpg"), 14000, 14000));
            return {JobStatus::succeeded(), 14000};
        }
        if (kind == u"tiff strip count") {
            // 199999 one-row strips whose offset tables point past the end.
            writeBytes(target, tiff({{256, 4, 1, {1}},
                                     {257, 4, 1, {199999}},
                                     {258, 3, 1, {8}},
                                     {259, 3, 1, {1}},
                                     {262, 3, 1, {1}},
                                     {273, 4, 199999, {}},
                                     {277, 3, 1, {1}},
                                     {278, 4, 1, {1}},
                                     {279, 4, 199999, {}}}));
            return {JobStatus::failed(openFailed)};
        }
        if (kind == u"tiff huge tile") {
            // A 16x16 image in one 65536x65536 tile: 4 GiB for one tile.
            writeBytes(target, tiff({{256, 4, 1, {16}},
                                     {257, 4, 1, {16}},
                                     {258, 3, 1, {8}},
                                     {259, 3, 1, {1}},
                                     {262, 3, 1, {1}},
                                     {277, 3, 1, {1}},
                                     {322, 4, 1, {65536}},
                                     {323, 4, 1, {65536}},
                                     {324, 4, 1, {8}},
                                     {325, 4, 1, {256}}}));
            return {JobStatus::failed(headerFailed)};
        }
        if (kind == u"gif with 50000 frames") {
            writeBytes(target, gifWithFrames(50000));
            return {JobStatus::succeeded(), 1}; // only the first frame is read
        }
        if (kind == u"folder") {
            fs::create_directories(target);
            return {JobStatus::skipped(notRegular)};
        }
        if (kind == u"fifo") {
            if (::mkfifo(target.c_str(), 0644) != 0)
                qFatal("mkfifo failed");
            return {JobStatus::skipped(notRegular)};
        }
        if (kind == u"socket") {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, target.c_str(), sizeof address.sun_path - 1);
            const bool bound =
                ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(fd); // the socket file stays
            if (!bound)
                qFatal("bind failed");
            return {JobStatus::skipped(notRegular)};
        }
        if (kind.startsWith(u"link to /dev/")) {
            // Device nodes cannot be made unprivileged; the pipeline follows
            // links, so a link to a system device is the same case.
            fs::create_symlink(kind.section(u' ', 2).toStdString(), target);
            return {JobStatus::skipped(notRegular)};
        }
        qFatal("unknown fixture");
    }

    static QStringList kinds() {
        QStringList all;
        for (const char* ext : {"jpg", "png", "heic", "tif", "gif", "webp"}) {
            all << QStringLiteral("truncated %1").arg(QLatin1String(ext));
            all << QStringLiteral("header only %1").arg(QLatin1String(ext));
        }
        all << QStringLiteral("zero bytes") << QStringLiteral("random bytes")
            << QStringLiteral("bomb") << QStringLiteral("gigabyte png")
            << QStringLiteral("gigabyte progressive jpeg") << QStringLiteral("tiff strip count")
            << QStringLiteral("tiff huge tile") << QStringLiteral("gif with 50000 frames")
            << QStringLiteral("folder") << QStringLiteral("fifo") << QStringLiteral("socket")
            << QStringLiteral("link to /dev/zero") << QStringLiteral("link to /dev/null");
        return all;
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
    }

    void hostileFile_data() {
        QTest::addColumn<QString>("kind");
        for (const QString& kind : kinds())
            QTest::newRow(qPrintable(kind)) << kind;
    }
    void hostileFile() {
        QFETCH(QString, kind);
        const fs::path folder = file("single/" + QString::number(qHash(kind)).toStdString());
        fs::create_directories(folder);
        const fs::path source = folder / "image.jpg";
        const Expected expected = make(kind, source);
        const QByteArray before = fs::is_regular_file(source) ? sha256(source) : QByteArray();

        QElapsedTimer clock;
        clock.start();
        const ImageProcessingOutcome outcome = ImagePipeline::process(source, settings());
        const qint64 elapsed = clock.elapsed();

        QCOMPARE(outcome.status, expected.status);
        QCOMPARE(outcome.sourcePixelLongEdge.value_or(-1), expected.sourceLongEdge);
        QVERIFY2(elapsed < 20000, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
        if (!before.isEmpty())
            QCOMPARE(sha256(source), before);
        if (outcome.status != JobStatus::succeeded())
            QVERIFY(!fs::exists(folder / "Resized") || fs::is_empty(folder / "Resized"));
        QVERIFY(temporaryFilesBelow(folder).isEmpty());
    }

    // All of them in one drop, between good images: every job completes and
    // the good ones are written.
    void batchGoesOn() {
        const fs::path folder = file("batch");
        fs::create_directories(folder);
        QList<QUrl> urls;
        QMap<fs::path, Expected> expected;
        const auto good = [&](const std::string& name) {
            const fs::path image = makeImage(folder / name, {.width = 500, .height = 300});
            urls.append(FileURLs::fileURL(image));
            expected.insert(image, {JobStatus::succeeded(), 500});
        };
        good("first.png");
        const QStringList all = kinds();
        for (qsizetype i = 0; i < all.size(); ++i) {
            const fs::path source = folder / ("hostile-" + std::to_string(i) + ".jpg");
            const Expected want = make(all[i], source);
            urls.append(FileURLs::fileURL(source));
            if (all[i] == u"folder")
                continue; // a dropped folder is listed, not processed: it adds no job
            expected.insert(source, want);
            if (i == all.size() / 2)
                good("middle.jpg");
        }
        good(std::string("last-\xff\xfe.webp")); // not UTF-8

        const auto cleanUp = qScopeGuard([&] { // names QTemporaryDir cannot remove
            fs::remove(folder / std::string("last-\xff\xfe.webp"));
            fs::remove(folder / "Resized" / std::string("last-\xff\xfe.jpg"));
        });
        ImageProcessor processor;
        QElapsedTimer clock;
        clock.start();
        processor.enqueue(urls, settings());
        QSignalSpy idle(&processor, &ImageProcessor::isProcessingChanged);
        QVERIFY(idle.wait(180000));
        QVERIFY(!processor.isProcessing());
        qInfo("%lld jobs in %lld ms", qlonglong(processor.jobs().size()),
              qlonglong(clock.elapsed()));

        QCOMPARE(processor.jobs().size(), expected.size());
        qsizetype succeeded = 0;
        for (const JobItem* job : processor.jobs()) {
            const Expected want = expected.value(job->sourceURL());
            succeeded += job->status() == JobStatus::succeeded();
            QVERIFY2(job->status() == want.status,
                     qPrintable(QString::fromStdString(job->sourceURL().native()) + u": " +
                                job->status().text()));
            QCOMPARE(job->sourcePixelLongEdge().value_or(-1), want.sourceLongEdge);
        }
        // An output for each success and nothing else.
        QCOMPARE(
            std::distance(fs::directory_iterator(folder / "Resized"), fs::directory_iterator()),
            succeeded);
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
        const fs::path plain = makeImage(folder / ("plain" + source.extension().native()));
        fs::rename(plain, source);

        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           QString::fromStdString(file("config").native()));
        cli.setProcessEnvironment(environment);
        cli.setWorkingDirectory(QString::fromStdString(folder.native()));
        // Relative, as a shell glob would pass it.
        cli.start(qEnvironmentVariable("BURISORA_CLI"),
                  {QStringLiteral("--json"), QStringLiteral("--"),
                   byFolder ? QStringLiteral(".") : QString::fromUtf8(name)});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QList<QByteArray> lines = cli.readAllStandardOutput().split('\n');
        const QJsonObject result = QJsonDocument::fromJson(lines.value(0)).object();
        QCOMPARE(result.value(QStringLiteral("status")).toString(), QStringLiteral("succeeded"));
        const fs::path output = folder / "Resized" / name.toStdString();
        QVERIFY(fs::is_regular_file(output) && fs::file_size(output) > 0);
        fs::remove_all(folder); // names QTemporaryDir may not decode
    }
};

QTEST_GUILESS_MAIN(HostileInputTest)
#include "tst_HostileInput.moc"
