// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding and encoding below the pipeline. Every source type to every output
// type, with and without metadata, is in tst_Metadata.
#include "Services/Errors.h"
#include "Services/ImageEncoder.h"
#include "Services/ImageIOResizer.h"
#include "Settings/OutputFormat.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <cmath>

using namespace TestSupport;

class CodecTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() { initialize(); }

    void outputType_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("type");
        const auto row = [](const char* extension, OutputType type, OutputFormat format) {
            QTest::addRow("%s from %s", extension,
                          OutputFormats::storageValue(format).toUtf8().data())
                << int(format) << QString::fromLatin1(extension) << int(type);
        };
        for (const char* jpeg : {"JPG", "Jpe", "webp", "gif", ""})
            row(jpeg, OutputType::jpeg, OutputFormat::keepOriginal);
        row("PNG", OutputType::png, OutputFormat::keepOriginal);
        row("HEIF", OutputType::heic, OutputFormat::keepOriginal);
        row("tif", OutputType::tiff, OutputFormat::keepOriginal);
        row("jpg", OutputType::png, OutputFormat::png);
        row("png", OutputType::jpeg, OutputFormat::jpeg);
    }
    void outputType() {
        QFETCH(int, format);
        QFETCH(QString, extension);
        QFETCH(int, type);
        QCOMPARE(int(OutputFormats::resolvedUTType(OutputFormat(format), extension)), type);
    }

    void quality() {
        // The quality scale, clamped, rounded rather than cut (0.29 * 100 is 28.999...).
        const std::pair<double, int> qualities[] = {
            {1.7, 100}, {-0.3, 1}, {std::nan(""), 1}, {0.85, 85}, {0.29, 29}};
        for (const auto& [quality, expected] : qualities)
            QCOMPARE(ImageEncoder::encoderQuality(quality), expected);
    }

    // Whatever the decoder (JPEGs: libjpeg-turbo at M/8 scales, resampled as
    // YCbCr planes; WebP shrunk on load; small 8-bit images through zimg), the
    // result must be the image libvips' own shrink-on-load and Lanczos3 give:
    // same size, same way up, same colours.
    void sameAsLibvips_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("written"); // extension[libvips writer options]
        QTest::addColumn<bool>("grey");
        QTest::addColumn<int>("edge");
        QTest::newRow("4:2:0 to 3/8") << 1600 << 1200 << 1 << "jpg[Q=90]" << false << 500;
        QTest::newRow("to 1/8") << 4032 << 3024 << 1 << "jpg[Q=90]" << false << 500;
        QTest::newRow("odd 4:2:0, turned 6") << 1001 << 777 << 6 << "jpg[Q=90]" << false << 333;
        QTest::newRow("odd 4:2:0, turned 8") << 999 << 1001 << 8 << "jpg[Q=90]" << false << 250;
        QTest::newRow("half turn, 7/8") << 800 << 600 << 3 << "jpg[Q=90]" << false << 640;
        QTest::newRow("transposed 5") << 640 << 480 << 5 << "jpg[Q=90]" << false << 201;
        QTest::newRow("transverse 7") << 641 << 479 << 7 << "jpg[Q=90]" << false << 199;
        QTest::newRow("4:4:4, turned 6")
            << 1200 << 900 << 6 << "jpg[Q=95,subsample_mode=off]" << false << 350;
        QTest::newRow("progressive, mirrored 2")
            << 1500 << 1000 << 2 << "jpg[Q=90,interlace=true]" << false << 500;
        QTest::newRow("grey") << 900 << 701 << 1 << "jpg[Q=90]" << true << 256;
        QTest::newRow("enlarged") << 300 << 201 << 1 << "jpg[Q=90]" << false << 450;
        QTest::newRow("WebP shrunk on load") << 3001 << 2001 << 1 << "webp" << false << 640;
        QTest::newRow("PNG, odd sizes") << 1001 << 999 << 1 << "png" << false << 1000;
        QTest::newRow("PNG enlarged") << 200 << 100 << 1 << "png" << false << 333;
    }
    void sameAsLibvips() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, orientation);
        QFETCH(QString, written);
        QFETCH(bool, grey);
        QFETCH(int, edge);
        const std::string name = QTest::currentDataTag();
        vips::VImage image = vips::VImage::new_from_file(
            makeImage(file(name + "-pixels.png"), {.width = width, .height = height}).c_str());
        if (grey)
            image = image.colourspace(VIPS_INTERPRETATION_B_W);
        image = image.copy();
        image.set(VIPS_META_ORIENTATION, orientation);
        image.write_to_file(file(name + "." + written.toStdString()).c_str());
        const fs::path source = file(name + "." + written.section(u'[', 0, 0).toStdString());

        const bool jpeg = written.startsWith(u"jpg");
        const int factor = ImageIOResizer::loadShrinkFactor(std::max(width, height), edge);
        const vips::VImage shrunk =
            jpeg ? vips::VImage::jpegload(source.c_str(),
                                          vips::VImage::option()->set("shrink", factor))
                 : vips::VImage::new_from_file(source.c_str());
        const vips::VImage expected =
            shrunk
                .resize(double(edge) / std::max(shrunk.width(), shrunk.height()),
                        vips::VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3))
                .autorot();

        const vips::VImage actual = ImageIOResizer::resize(source, edge).image;
        QCOMPARE(actual.width(), expected.width());
        QCOMPARE(actual.height(), expected.height());
        QCOMPARE(actual.bands(), expected.bands());
        QCOMPARE(actual.interpretation(), expected.interpretation());
        // A turn or mirror the wrong way, or chroma put beside its luma,
        // differs by tens of levels on these gradients; the two resamplers
        // and DCT scalings by about one.
        const double difference =
            (actual.cast(VIPS_FORMAT_FLOAT) - expected.cast(VIPS_FORMAT_FLOAT)).abs().avg();
        QVERIFY2(difference < 2.5, qPrintable(QString::number(difference)));
        // The header's size is the upright one too.
        const PixelDimensions dimensions = ImageIOResizer::readPixelDimensions(source);
        QCOMPARE(dimensions.width > dimensions.height, actual.width() > actual.height());
    }

    void transparencyBecomesWhiteInJpeg() {
        const fs::path source = file("clear.png");
        vips::VImage::black(50, 40, vips::VImage::option()->set("bands", 4))
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .write_to_file(source.c_str());
        const fs::path out = file("clear.jpg");
        ImageEncoder::write(ImageIOResizer::resize(source, 50), out, OutputType::jpeg, 0.8, false);
        QVERIFY(vips::VImage::new_from_file(out.c_str()).extract_band(0).avg() > 250);
    }

    void missingFolderCannotBeCreated() {
        const ResizedImage resized = ImageIOResizer::resize(makeImage(file("tiny.png")), 10);
        try {
            ImageEncoder::write(resized, file("no/such/folder/out.jpg"), OutputType::jpeg, 1,
                                false);
            QFAIL("written");
        } catch (const EncoderError& error) {
            QCOMPARE(error.errorDescription(),
                     QStringLiteral("出力ファイルを作成できませんでした"));
        }
    }
};

QTEST_GUILESS_MAIN(CodecTest)
#include "tst_Codec.moc"
