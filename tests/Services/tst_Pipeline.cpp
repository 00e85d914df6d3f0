// SPDX-License-Identifier: GPL-3.0-or-later
#include "Services/Errors.h"
#include "Services/ImagePipeline.h"
#include "Services/ImageProcessor.h"
#include "Settings/OutputFormat.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <vips/vips8>

#include <sys/stat.h>

using namespace TestSupport;

class PipelineTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    static ResizeSettingsSnapshot settings(std::int64_t edge = 100, bool skipUpscale = true) {
        ResizeSettingsSnapshot s;
        s.longEdgePx = edge;
        s.skipUpscale = skipUpscale;
        return s;
    }

private Q_SLOTS:
    void initTestCase() { initialize(); }

    void exits_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("sourceLongEdge"); // -1: absent
        const int skipped = int(JobStatus::Kind::skipped);
        const int failed = int(JobStatus::Kind::failed);
        const QString notRegular = QStringLiteral("通常ファイルではありません");
        QTest::newRow("folder") << "folder" << skipped << notRegular << qint64(-1);
        QTest::newRow("dangling link") << "dangling" << skipped << notRegular << qint64(-1);
        QTest::newRow("fifo") << "fifo" << skipped << notRegular << qint64(-1);
        QTest::newRow("missing") << "missing" << failed << SystemError(ENOENT).errorDescription()
                                 << qint64(-1);
        QTest::newRow("unreadable")
            << "unreadable" << failed << QStringLiteral("ファイルの読み取り権限がありません")
            << qint64(-1);
        QTest::newRow("not an image")
            << "text" << failed << QStringLiteral("画像ファイルを開けませんでした") << qint64(-1);
        QTest::newRow("too wide") << "200001x1" << skipped
                                  << QStringLiteral("画像が大きすぎます (200001x1)")
                                  << qint64(200001);
        QTest::newRow("too many pixels")
            << "20000x10001" << skipped << QStringLiteral("画像が大きすぎます (20000x10001)")
            << qint64(20000);
        QTest::newRow("truncated")
            << "truncated" << failed << QStringLiteral("リサイズに失敗しました") << qint64(640);
    }
    void exits() {
        QFETCH(QString, setup);
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(qint64, sourceLongEdge);
        const fs::path source = file("exit-" + setup.toStdString() + ".jpg");
        if (setup == u"folder")
            fs::create_directories(source);
        else if (setup == u"dangling")
            fs::create_symlink(file("nowhere.jpg"), source);
        else if (setup == u"fifo")
            QCOMPARE(::mkfifo(source.c_str(), 0644), 0);
        else if (setup == u"unreadable") {
            if (runningAsRoot())
                QSKIP("root reads everything");
            makeImage(source);
            fs::permissions(source, fs::perms::none);
        } else if (setup == u"text")
            writeBytes(source, "hello");
        else if (setup == u"truncated") {
            makeImage(file("whole.jpg"), {.width = 640, .height = 480});
            writeBytes(source, readBytes(file("whole.jpg")).left(3000));
        } else if (setup != u"missing") {
            const QStringList size = setup.split(u'x');
            makePngClaiming(source, size[0].toUInt(), size[1].toUInt());
        }
        const ImageProcessingOutcome outcome = ImagePipeline::process(source, settings());
        QCOMPARE(int(outcome.status.kind()), kind);
        QCOMPARE(outcome.status.text(), text);
        QCOMPARE(outcome.sourcePixelLongEdge.value_or(-1), sourceLongEdge);
        QVERIFY(!outcome.outputURL && !outcome.outputPixelLongEdge);
        QVERIFY(!fs::exists(file("Resized")) || fs::is_empty(file("Resized")));
    }

    // Outputs too large to hold whole are streamed, turned when the source
    // says so, and 16-bit sources stay 16-bit in PNG and TIFF.
    void largeAndDeepOutputs_data() {
        QTest::addColumn<QString>("source"); // name: 16-bit "deep", EXIF 6 "turned"
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("expected"); // "WxH depth", or the failure message
        const int keep = int(OutputFormat::keepOriginal);
        const int png = int(OutputFormat::png);
        QTest::newRow("16-bit PNG") << "deep.png" << 80 << keep << "80x60 16";
        QTest::newRow("16-bit TIFF") << "deep.tif" << 80 << keep << "80x60 16";
        QTest::newRow("16-bit TIFF to PNG") << "deep.tif" << 80 << png << "80x60 16";
        QTest::newRow("16-bit PNG streamed") << "deep.png" << 3400 << keep << "3400x2550 16";
        QTest::newRow("turned JPEG streamed")
            << "turned.jpg" << 6000 << int(OutputFormat::jpeg) << "4500x6000 8";
        QTest::newRow("HEIC beyond one HEVC picture")
            << "small.heic" << 17000 << keep << "HEIC で書き出すには画像が大きすぎます";
    }
    void largeAndDeepOutputs() {
        QFETCH(QString, source);
        QFETCH(int, edge);
        QFETCH(int, format);
        QFETCH(QString, expected);
        const fs::path folder = file("large/" + std::string(QTest::currentDataTag()));
        const fs::path input = makeImage(folder / source.toStdString(),
                                         {.width = 120,
                                          .height = 90,
                                          .orientation = source.startsWith(u"turned") ? 6 : 0,
                                          .alpha = source.endsWith(u".png"),
                                          .bitDepth = source.startsWith(u"deep") ? 16 : 8});
        ResizeSettingsSnapshot s = settings(edge, false);
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
    }

    void largestAllowedImageIsProcessed() {
        const fs::path source = file("wide.png");
        vips::VImage::black(200000, 1000).write_to_file(source.c_str());
        const QByteArray before = sha256(source);
        const ImageProcessingOutcome outcome = ImagePipeline::process(source, settings(1280));
        QCOMPARE(outcome.status, JobStatus::succeeded());
        QCOMPARE(outcome.sourcePixelLongEdge, 200000);
        QCOMPARE(outcome.outputPixelLongEdge, 1280);
        QCOMPARE(decode(*outcome.outputURL).width, 1280);
        QCOMPARE(sha256(source), before);
    }

    void linkedImageIsReadFromItsTarget() {
        const fs::path target = makeImage(file("real/photo.jpg"), {.width = 300, .height = 200});
        fs::create_directories(file("links"));
        fs::create_symlink(target, file("links/alias.png"));
        const ImageProcessingOutcome outcome =
            ImagePipeline::process(file("links/alias.png"), settings());
        QCOMPARE(outcome.status, JobStatus::succeeded());
        QCOMPARE(*outcome.outputURL, file("real/Resized/photo.jpg")); // beside the target, its type
        QVERIFY(!fs::exists(file("links/Resized")));
    }

    void skipUpscaleTarget_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("skipUpscale");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("small, skip on") << 1000 << 800 << true << qint64(1000);
        QTest::newRow("small, skip off") << 1000 << 800 << false << qint64(1920);
        QTest::newRow("large, skip on") << 4000 << 3000 << true << qint64(1920);
        QTest::newRow("large, skip off") << 4000 << 3000 << false << qint64(1920);
    }
    void skipUpscaleTarget() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, skipUpscale);
        QFETCH(qint64, expected);
        const fs::path source = file("up" + std::to_string(width) + ".png");
        if (!fs::exists(source))
            makeImage(source, {.width = width, .height = height});
        const ImageProcessingOutcome outcome =
            ImagePipeline::process(source, settings(1920, skipUpscale));
        QCOMPARE(outcome.outputPixelLongEdge, expected);
        const Decoded decoded = decode(*outcome.outputURL);
        QCOMPARE(qint64(std::max(decoded.width, decoded.height)), expected);
    }

    void failedWriteLeavesNoOutput() {
        const fs::path source = makeImage(file("big/noisy.png"), {.width = 400, .height = 400});
        const ImageProcessingOutcome outcome = [&] {
            const FileSizeLimit fullDisk(4096);
            return ImagePipeline::process(source, settings(400));
        }();
        QCOMPARE(outcome.status, JobStatus::failed(QStringLiteral("画像の書き出しに失敗しました")));
        QCOMPARE(outcome.sourcePixelLongEdge, 400);
        QVERIFY(fs::is_empty(file("big/Resized")));
    }
};

QTEST_GUILESS_MAIN(PipelineTest)
#include "tst_Pipeline.moc"
