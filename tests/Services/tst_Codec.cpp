// SPDX-License-Identifier: GPL-3.0-or-later
#include "Services/Errors.h"
#include "Services/ImageEncoder.h"
#include "Services/ImageIOResizer.h"
#include "Settings/OutputFormat.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QTest>

#include <cmath>
#include <fstream>

using namespace TestSupport;

class CodecTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    // Encodes `source` resized to `edge` as `type`; returns the output path.
    fs::path convert(const fs::path& source, std::int64_t edge, OutputType type, bool preserve,
                     const std::string& name) {
        const ResizedImage resized = ImageIOResizer::resize(source, edge);
        const fs::path out = file(name);
        std::ofstream(out).flush(); // the claimed placeholder
        ImageEncoder::write(resized, out, type, 0.8, preserve);
        return out;
    }

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

    // Sizes are read and images turned upright by their orientation; the long
    // edge comes out exact, whatever shrink-on-load did first.
    void resize_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("edge");
        QTest::newRow("6 turns") << "o6.jpg" << 400 << 300 << 6 << 100;
        QTest::newRow("8 turns") << "o8.jpg" << 400 << 300 << 8 << 100;
        QTest::newRow("3 does not") << "o3.jpg" << 400 << 300 << 3 << 100;
        QTest::newRow("jpeg shrink-on-load") << "big.jpg" << 4032 << 3024 << 0 << 1280;
        QTest::newRow("jpeg by 8") << "big8.jpg" << 4032 << 3024 << 0 << 500;
        QTest::newRow("webp shrink-on-load") << "big.webp" << 3001 << 2001 << 0 << 640;
        QTest::newRow("png odd") << "odd.png" << 1001 << 999 << 0 << 1000;
        QTest::newRow("enlarged") << "small.png" << 200 << 100 << 0 << 333;
    }
    void resize() {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, orientation);
        QFETCH(int, edge);
        const fs::path source =
            makeImage(file(name.toStdString()),
                      {.width = width, .height = height, .orientation = orientation});
        const bool turned = orientation >= 5;
        const int uprightWidth = turned ? height : width;
        const int uprightHeight = turned ? width : height;
        const PixelDimensions dimensions = ImageIOResizer::readPixelDimensions(source);
        QCOMPARE(dimensions.width, uprightWidth);
        QCOMPARE(dimensions.height, uprightHeight);
        const QString extension = name.section(u'.', -1);
        QCOMPARE(dimensions.uti,
                 u"image/" + (extension == u"jpg" ? QStringLiteral("jpeg") : extension));

        const ResizedImage resized = ImageIOResizer::resize(source, edge);
        QCOMPARE(std::max(resized.image.width(), resized.image.height()), edge);
        const double aspect = double(uprightWidth) / uprightHeight;
        QVERIFY(std::abs(double(resized.image.width()) / resized.image.height() - aspect) < 0.01);
        QCOMPARE(resized.sourceWidth, width);
        QCOMPARE(resized.sourceHeight, height);
        if (orientation == 6) {
            // Red grows left to right in the stored pixels; turned a quarter
            // clockwise it must grow top to bottom.
            const vips::VImage red = resized.image.extract_band(0);
            QVERIFY(red.crop(0, 0, 75, 10).avg() + 40 < red.crop(0, 90, 75, 10).avg());
        }
        const fs::path out =
            convert(source, edge, OutputType::jpeg, true, "upright-" + name.toStdString() + ".jpg");
        const Decoded decoded = decode(out);
        QCOMPARE(decoded.width, resized.image.width());
        QCOMPARE(decoded.height, resized.image.height());
        const QString written = metadataValue(out, QStringLiteral("Orientation"));
        QVERIFY2(written.isEmpty() || written == u"1", qPrintable(written));
    }

    void formatsRoundTrip_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("type");
        for (const char* input : {"jpg", "png", "heic", "tif", "gif", "webp"})
            for (OutputType type :
                 {OutputType::jpeg, OutputType::png, OutputType::heic, OutputType::tiff})
                QTest::addRow("%s to %s", input,
                              qPrintable(OutputTypes::preferredFilenameExtension(type)))
                    << QString::fromLatin1(input) << int(type);
    }
    void formatsRoundTrip() {
        QFETCH(QString, input);
        QFETCH(int, type);
        const fs::path source = file("round." + input.toStdString());
        if (!fs::exists(source))
            makeImage(source, {.width = 160, .height = 120, .pages = input == u"gif" ? 3 : 1});
        const QByteArray before = sha256(source);
        const std::string ext =
            OutputTypes::preferredFilenameExtension(OutputType(type)).toStdString();
        const fs::path out = convert(source, 80, OutputType(type), false,
                                     "round-" + input.toStdString() + "." + ext);
        const Decoded decoded = decode(out);
        QCOMPARE(decoded.width, 80);
        QCOMPARE(decoded.height, 60);
        const QString expectedLoader = ext == "jpg"   ? "jpeg"
                                       : ext == "tif" ? "tiff"
                                                      : QString::fromStdString(ext);
        QCOMPARE(decoded.loader, expectedLoader);
        QCOMPARE(sha256(source), before);
        QVERIFY(temporaryFilesBelow(path(m_dir)).isEmpty());
    }

    void transparencyBecomesWhiteInJpeg() {
        const fs::path source = file("clear.png");
        vips::VImage::black(50, 40, vips::VImage::option()->set("bands", 4))
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .write_to_file(source.c_str());
        const fs::path out = convert(source, 50, OutputType::jpeg, false, "clear.jpg");
        QVERIFY(bandMean(out, 0) > 250);
    }

    void foreignFormatsAreRefused_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("svg") << QByteArray(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>");
        QTest::newRow("pdf") << QByteArray(
            "%PDF-1.4\n1 0 obj<</Type/Catalog>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n");
        QTest::newRow("ppm") << QByteArray("P6\n2 2\n255\n").append(12, 'x');
        QTest::newRow("empty") << QByteArray();
    }
    // Opened by content, among our formats only: a PNG named .jpg is a PNG.
    void foreignFormatsAreRefused() {
        QFETCH(QByteArray, content);
        const fs::path png = makeImage(file("really-a-png.png"));
        fs::rename(png, file("really-a-png.jpg"));
        QCOMPARE(ImageIOResizer::readPixelDimensions(file("really-a-png.jpg")).uti,
                 QStringLiteral("image/png"));
        const fs::path source = file(std::string("foreign-") + QTest::currentDataTag() + ".jpg");
        writeBytes(source, content);
        for (int call = 0; call < 2; ++call) {
            try {
                if (call == 0)
                    ImageIOResizer::readPixelDimensions(source);
                else
                    ImageIOResizer::resize(source, 10);
                QFAIL("opened");
            } catch (const ResizeError& error) {
                QCOMPARE(error.errorDescription(),
                         QStringLiteral("画像ファイルを開けませんでした"));
            }
        }
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
