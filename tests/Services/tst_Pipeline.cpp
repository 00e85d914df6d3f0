// SPDX-License-Identifier: GPL-3.0-or-later
// The pipeline's ordinary road; its exits for files that do not qualify are
// in tst_HostileInput, for a world that changes in tst_Faults.
#include "Services/Errors.h"
#include "Services/ImageIOResizer.h"
#include "Services/ImagePipeline.h"
#include "Settings/OutputFormat.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <vips/vips8>

using namespace TestSupport;

class PipelineTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() { initialize(); }

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
            QVERIFY_THROWS_EXCEPTION(ResizeError, ImageIOResizer::resize(source, 100));
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
};

QTEST_GUILESS_MAIN(PipelineTest)
#include "tst_Pipeline.moc"
