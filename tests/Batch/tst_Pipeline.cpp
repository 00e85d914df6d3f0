// SPDX-License-Identifier: GPL-3.0-or-later
// The pipeline's ordinary road, and the world changing under a batch: a full
// disk, folders that cannot be written, an output folder swapped for a link,
// sources that vanish or change. After each failure: no hidden temporary
// file, nothing partial under a final name, and the job says why. Files that
// do not qualify are in tst_HostileInput.
#include "Batch/ImagePipeline.h"
#include "Batch/ImageProcessor.h"
#include "Codec/ImageIOResizer.h"
#include "Models/Errors.h"
#include "Models/FileURLs.h"
#include "Settings/OutputFormat.h"
#include "Support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <vips/vips8>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

using namespace TestSupport;

namespace {

const QString writeFailed = QStringLiteral("画像の書き出しに失敗しました");
const QString cannotCreate = QStringLiteral("出力ファイルを作成できませんでした");

// Stands in for a full disk: while it lives, no file of this process may grow
// beyond `bytes` (writes past it fail with EFBIG instead of killing us).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
};

ResizeSettingsSnapshot settings(std::int64_t edge = 800) {
    ResizeSettingsSnapshot s = snapshot(edge);
    s.jpegQuality = 1.0; // large outputs: the limit is met mid-write
    return s;
}

} // namespace

class PipelineTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
    }

    // Sources of 120 x 90. Outputs too large to hold whole are streamed,
    // turned when the source says so, and 16-bit sources stay 16-bit in PNG
    // and TIFF. Skipping upscales keeps a small source's size.
    void outputs_data() {
        QTest::addColumn<QString>(
            "source"); // name: 16-bit "deep", EXIF 6 "turned"; PNGs have alpha
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("skipUpscale");
        QTest::addColumn<QString>("expected"); // "WxH depth", or the failure message
        const int keep = int(OutputFormat::keepOriginal);
        const int png = int(OutputFormat::png);
        QTest::newRow("16-bit PNG") << "deep.png" << 80 << keep << true << "80x60 16";
        QTest::newRow("16-bit TIFF") << "deep.tif" << 80 << keep << true << "80x60 16";
        QTest::newRow("16-bit TIFF to PNG") << "deep.tif" << 80 << png << true << "80x60 16";
        QTest::newRow("16-bit PNG streamed")
            << "deep.png" << 3400 << keep << false << "3400x2550 16";
        QTest::newRow("turned JPEG streamed")
            << "turned.jpg" << 6000 << int(OutputFormat::jpeg) << false << "4500x6000 8";
        QTest::newRow("upscale skipped") << "small.jpg" << 200 << keep << true << "120x90 8";
        QTest::newRow("HEIC beyond one HEVC picture")
            << "small.heic" << 17000 << keep << false << "HEIC で書き出すには画像が大きすぎます";
    }
    void outputs() {
        QFETCH(QString, source);
        QFETCH(int, edge);
        QFETCH(int, format);
        QFETCH(bool, skipUpscale);
        QFETCH(QString, expected);
        const fs::path folder = file("large/" + std::string(QTest::currentDataTag()));
        const fs::path input = makeImage(folder / source.toStdString(),
                                         {.width = 120,
                                          .height = 90,
                                          .orientation = source.startsWith(u"turned") ? 6 : 0,
                                          .alpha = source.endsWith(u".png"),
                                          .bitDepth = source.startsWith(u"deep") ? 16 : 8});
        ResizeSettingsSnapshot s = snapshot(edge);
        s.skipUpscale = skipUpscale;
        s.outputFormat = OutputFormat(format);
        const ImageProcessingOutcome outcome = ImagePipeline::process(input, s);
        QVERIFY(temporaryFilesBelow(folder).isEmpty());
        if (!expected.front().isDigit()) {
            QCOMPARE(outcome.status, JobStatus::failed(expected));
            QVERIFY(fs::is_empty(folder / "Resized"));
            return;
        }
        QCOMPARE(outcome.status, JobStatus::succeeded());
        const Decoded decoded = decode(*outcome.outputURL);
        QCOMPARE(
            QStringLiteral("%1x%2 %3").arg(decoded.width).arg(decoded.height).arg(decoded.bitDepth),
            expected);
        QCOMPARE(*outcome.outputPixelLongEdge, std::max(decoded.width, decoded.height));
    }

    // At the limits a real image goes through. Past them the downscale
    // refuses it itself, as it must a source swapped for a huge image after
    // its size was read (the swap cannot be timed from here).
    void sizeLimits_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("fits");
        QTest::newRow("longest side, most pixels") << 200000 << 1000 << true;
        QTest::newRow("too wide") << 200001 << 1 << false;
        QTest::newRow("too many pixels") << 20000 << 10001 << false;
    }
    void sizeLimits() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, fits);
        const fs::path source = file("limits/" + std::to_string(width) + ".png");
        fs::create_directories(source.parent_path());
        vips::VImage::black(width, height).write_to_file(source.c_str());
        if (!fits) {
            QVERIFY_THROWS_EXCEPTION(ResizeError,
                                     ImageIOResizer::resize(span(readBytes(source)), 100));
            return;
        }
        const QByteArray before = sha256(source);
        const ImageProcessingOutcome outcome = ImagePipeline::process(source, snapshot(1280));
        QCOMPARE(outcome.status, JobStatus::succeeded());
        QCOMPARE(outcome.sourcePixelLongEdge, 200000);
        QCOMPARE(outcome.outputPixelLongEdge, 1280);
        QCOMPARE(decode(*outcome.outputURL).width, 1280);
        QCOMPARE(sha256(source), before);
    }

    // Under a file-size limit, relative to what the same image gives without
    // one: quality gives way first, then the long edge, down to 320 px; what
    // fits nowhere is skipped with nothing left behind. The sizes written are
    // the files' own.
    void fileSizeLimit_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<double>("share"); // of the unlimited output's size; 0: 10 kB
        QTest::addColumn<QString>("edge"); // same, smaller, or none
        QTest::newRow("above the unlimited size") << "jpg" << 1.01 << "same";
        QTest::newRow("JPEG by quality") << "jpg" << 0.7 << "same";
        QTest::newRow("JPEG by size") << "jpg" << 0.05 << "smaller";
        QTest::newRow("HEIC by quality") << "heic" << 0.7 << "same";
        QTest::newRow("PNG by size only") << "png" << 0.6 << "smaller";
        QTest::newRow("cannot fit") << "png" << 0.0 << "none";
    }
    void fileSizeLimit() {
        QFETCH(QString, extension);
        QFETCH(double, share);
        QFETCH(QString, edge);
        const std::string tag = QTest::currentDataTag();
        const fs::path source = makeImage(file("fit/" + tag + "/photo." + extension.toStdString()),
                                          {.width = 1600, .height = 1200});
        ResizeSettingsSnapshot limited = snapshot(1200);
        const ImageProcessingOutcome unlimited = ImagePipeline::process(source, limited);
        QCOMPARE(unlimited.status, JobStatus::succeeded());
        QCOMPARE(unlimited.outputBytes, std::int64_t(fs::file_size(*unlimited.outputURL)));
        QCOMPARE(unlimited.sourceBytes, std::int64_t(fs::file_size(source)));
        limited.maxFileBytes = share > 0 ? std::int64_t(double(*unlimited.outputBytes) * share)
                                         : SettingsDefaults::minimumMaxFileBytes;
        const ImageProcessingOutcome outcome = ImagePipeline::process(source, limited);
        if (edge == u"none") {
            QCOMPARE(outcome.status,
                     JobStatus::skipped(QStringLiteral("10 KB に収まりませんでした")));
            QCOMPARE(std::distance(fs::directory_iterator(source.parent_path() / "Resized"),
                                   fs::directory_iterator()),
                     1); // the unlimited one only
            return;
        }
        QCOMPARE(outcome.status, JobStatus::succeeded());
        const std::int64_t written = std::int64_t(fs::file_size(*outcome.outputURL));
        QCOMPARE(outcome.outputBytes, written);
        QVERIFY2(written <= limited.maxFileBytes, qPrintable(QString::number(written)));
        const Decoded decoded = decode(*outcome.outputURL);
        QCOMPARE(std::int64_t(std::max(decoded.width, decoded.height)),
                 *outcome.outputPixelLongEdge);
        if (edge == u"same") {
            QCOMPARE(outcome.outputPixelLongEdge, 1200);
            if (share > 1)
                QCOMPARE(written, *unlimited.outputBytes);
        } else {
            QVERIFY(*outcome.outputPixelLongEdge < 1200 && *outcome.outputPixelLongEdge >= 320);
        }
    }

    void linkedImageIsReadFromItsTarget() {
        const fs::path target = makeImage(file("real/photo.jpg"), {.width = 300, .height = 200});
        fs::create_directories(file("links"));
        fs::create_symlink(target, file("links/alias.png"));
        const ImageProcessingOutcome outcome =
            ImagePipeline::process(file("links/alias.png"), snapshot(100));
        QCOMPARE(outcome.status, JobStatus::succeeded());
        QCOMPARE(*outcome.outputURL, file("real/Resized/photo.jpg")); // beside the target, its type
        QVERIFY(!fs::exists(file("links/Resized")));
    }

    // An output gets the source's read and write bits, as cp gives them: a
    // private photo gets no public copy, and no copy is executable.
    void outputKeepsSourcePermissions_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("output");
        QTest::newRow("private") << 0600 << 0600;
        QTest::newRow("group") << 0640 << 0640;
        QTest::newRow("executable") << 0755 << 0644;
    }
    void outputKeepsSourcePermissions() {
        QFETCH(int, source);
        QFETCH(int, output);
        const mode_t mask = ::umask(022);
        const fs::path image =
            makeImage(file("modes") / (QTest::currentDataTag() + std::string(".png")));
        fs::permissions(image, fs::perms(source));
        const ImageProcessingOutcome outcome = ImagePipeline::process(image, snapshot(32));
        ::umask(mask);
        QCOMPARE(outcome.status, JobStatus::succeeded());
        QCOMPARE(int(fs::status(*outcome.outputURL).permissions()), output);
    }

    // Every encoder must notice the failed write, whichever call hits it.
    void diskFullDuringWrite_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qulonglong>("limit");
        QTest::newRow("jpeg") << "photo.jpg" << 4096ull;
        QTest::newRow("png") << "photo.png" << 4096ull;
        QTest::newRow("tiff") << "photo.tif" << 4096ull;
        QTest::newRow("heic") << "photo.heic" << 2048ull;
        QTest::newRow("png, first byte") << "first.png" << 0ull;
        QTest::newRow("jpeg, last bytes") << "last.jpg" << 60000ull;
    }
    void diskFullDuringWrite() {
        QFETCH(QString, name);
        QFETCH(qulonglong, limit);
        const fs::path folder = file("full/" + name.toStdString());
        const fs::path source =
            makeImage(folder / name.toStdString(), {.width = 800, .height = 600});
        const QByteArray before = sha256(source);
        const ImageProcessingOutcome outcome = [&] {
            const FileSizeLimit fullDisk(limit);
            return ImagePipeline::process(source, settings());
        }();
        QCOMPARE(outcome.status, JobStatus::failed(writeFailed));
        QCOMPARE(outcome.sourcePixelLongEdge, 800);
        QVERIFY(!outcome.outputURL);
        QCOMPARE(entries(folder / "Resized"), 0);
        QCOMPARE(sha256(source), before);
        // Once there is room again the same file goes through.
        QCOMPARE(ImagePipeline::process(source, settings()).status, JobStatus::succeeded());
    }

    // Between two jobs the output folder becomes unusable: read-only, or
    // replaced by a link elsewhere or a file.
    void outputFolderUnusable_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("message");
        const QString elsewhere = QStringLiteral("出力フォルダが想定外の場所を指しています");
        const QString exists = SystemError(EEXIST).errorDescription();
        if (::geteuid() != 0) { // root writes into read-only folders
            QTest::newRow("output folder read-only") << "read-only" << cannotCreate;
            QTest::newRow("source folder read-only")
                << "locked" << SystemError(EACCES).errorDescription();
        }
        QTest::newRow("link elsewhere") << "link" << elsewhere;
        QTest::newRow("link to a link elsewhere") << "chain" << elsewhere;
        QTest::newRow("dangling link") << "dangling" << exists;
        QTest::newRow("a file") << "file" << exists;
    }
    void outputFolderUnusable() {
        QFETCH(QString, change);
        QFETCH(QString, message);
        const fs::path folder = file("swap-" + change.toStdString());
        const fs::path first = makeImage(folder / "first.png");
        const fs::path second = makeImage(folder / "second.png");
        const fs::path outside = file("outside-" + change.toStdString());
        fs::create_directories(outside);

        QCOMPARE(ImagePipeline::process(first, settings()).status, JobStatus::succeeded());
        fs::rename(folder / "Resized", folder / "Moved");
        const bool readOnly = change == u"read-only" || change == u"locked";
        const fs::path locked = change == u"locked" ? folder : folder / "Resized";
        if (readOnly) {
            fs::create_directories(locked);
            fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        } else if (change == u"link") {
            fs::create_directory_symlink(outside, folder / "Resized");
        } else if (change == u"chain") {
            fs::create_directory_symlink(outside, folder / "hop");
            fs::create_directory_symlink("hop", folder / "Resized");
        } else if (change == u"dangling") {
            fs::create_symlink(outside / "gone", folder / "Resized");
        } else {
            writeBytes(folder / "Resized", "not a folder");
        }

        const ImageProcessingOutcome outcome = ImagePipeline::process(second, settings());
        if (readOnly)
            fs::permissions(locked, fs::perms::owner_all);
        QCOMPARE(outcome.status, JobStatus::failed(message));
        QCOMPARE(outcome.sourcePixelLongEdge, 64);
        QVERIFY(!outcome.outputURL);
        QCOMPARE(entries(folder / "Resized"), 0);
        QCOMPARE(entries(outside), 0);
        QVERIFY(!fs::exists(outside / "gone"));
        QCOMPARE(entries(folder / "Moved"), 1); // the first output, untouched
        QVERIFY(temporaryFilesBelow(folder).isEmpty() && temporaryFilesBelow(outside).isEmpty());
    }

    // Sources change after they were listed, before their turn comes.
    void sourcesChangeWhileTheBatchRuns() {
        const fs::path folder = file("moving");
        QList<QUrl> urls;
        std::vector<fs::path> sources;
        for (int i = 0; i < 11; ++i) {
            sources.push_back(makeImage(folder / ("p" + std::to_string(i) + ".png"),
                                        {.width = 600, .height = 400}));
            urls.append(FileURLs::fileURL(sources.back()));
        }
        ImageProcessor processor;
        processor.enqueue(urls, settings(300));
        bool changed = false;
        connect(&processor, &ImageProcessor::jobFinished, this, [&] {
            if (std::exchange(changed, true))
                return;
            // Jobs start only after this returns, and these are far behind.
            fs::remove(sources[8]);
            fs::remove(sources[9]);
            makeImage(sources[9], {.width = 333, .height = 222}); // replaced by another image
            fs::remove(sources[10]);
            QCOMPARE(::mkfifo(sources[10].c_str(), 0644), 0);
        });
        QSignalSpy idle(&processor, &ImageProcessor::isProcessingChanged);
        QVERIFY(idle.wait(120000));

        const QList<JobItem*>& jobs = processor.jobs();
        for (int i = 0; i < 8; ++i)
            QCOMPARE(jobs[i]->status(), JobStatus::succeeded());
        QCOMPARE(jobs[8]->status(), JobStatus::failed(SystemError(ENOENT).errorDescription()));
        QVERIFY(!jobs[8]->sourcePixelLongEdge());
        QCOMPARE(jobs[9]->status(), JobStatus::succeeded());
        QCOMPARE(jobs[9]->sourcePixelLongEdge(), 333);
        QCOMPARE(decode(*jobs[9]->outputURL()).width, 300);
        QCOMPARE(jobs[10]->status(),
                 JobStatus::skipped(QStringLiteral("通常ファイルではありません")));
        QCOMPARE(entries(folder / "Resized"), 9);
        QVERIFY(temporaryFilesBelow(folder).isEmpty());
    }
};

QTEST_GUILESS_MAIN(PipelineTest)
#include "tst_Pipeline.moc"
