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

    void outputTypeTable_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("type");
        const int keep = int(OutputFormat::keepOriginal);
        QTest::newRow("JPG") << keep << "JPG" << int(OutputType::jpeg);
        QTest::newRow("Jpe") << keep << "Jpe" << int(OutputType::jpeg);
        QTest::newRow("PNG") << keep << "PNG" << int(OutputType::png);
        QTest::newRow("HEIF") << keep << "HEIF" << int(OutputType::heic);
        QTest::newRow("tif") << keep << "tif" << int(OutputType::tiff);
        QTest::newRow("webp") << keep << "webp" << int(OutputType::jpeg);
        QTest::newRow("gif") << keep << "gif" << int(OutputType::jpeg);
        QTest::newRow("none") << keep << "" << int(OutputType::jpeg);
        QTest::newRow("png from jpg") << int(OutputFormat::png) << "jpg" << int(OutputType::png);
        QTest::newRow("jpeg from png") << int(OutputFormat::jpeg) << "png" << int(OutputType::jpeg);
    }
    void outputTypeTable() {
        QFETCH(int, format);
        QFETCH(QString, extension);
        QFETCH(int, type);
        QCOMPARE(int(OutputFormats::resolvedUTType(OutputFormat(format), extension)), type);
    }

    void quality_data() {
        QTest::addColumn<double>("quality");
        QTest::addColumn<int>("expected");
        QTest::newRow("above 1") << 1.7 << 100;
        QTest::newRow("negative") << -0.3 << 1;
        QTest::newRow("NaN") << std::nan("") << 1;
        QTest::newRow("0.85") << 0.85 << 85;
        QTest::newRow("0.29") << 0.29 << 29;
    }
    void quality() {
        QFETCH(double, quality);
        QFETCH(int, expected);
        QCOMPARE(ImageEncoder::encoderQuality(quality), expected);
    }

    void orientation_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("6 turns") << 6 << 300 << 400;
        QTest::newRow("8 turns") << 8 << 300 << 400;
        QTest::newRow("3 does not") << 3 << 400 << 300;
        QTest::newRow("none") << 0 << 400 << 300;
    }
    void orientation() {
        QFETCH(int, orientation);
        QFETCH(int, width);
        QFETCH(int, height);
        const fs::path source =
            makeImage(file("o" + std::to_string(orientation) + ".jpg"),
                      {.width = 400, .height = 300, .orientation = orientation});
        const PixelDimensions dimensions = ImageIOResizer::readPixelDimensions(source);
        QCOMPARE(dimensions.width, width);
        QCOMPARE(dimensions.height, height);
        QCOMPARE(dimensions.uti, QStringLiteral("image/jpeg"));

        const ResizedImage resized = ImageIOResizer::resize(source, 100);
        QCOMPARE(resized.image.width(), width / 4);
        QCOMPARE(resized.image.height(), height / 4);
        QCOMPARE(resized.sourceWidth, 400);
        QCOMPARE(resized.sourceHeight, 300);
        if (orientation == 6) {
            // Red grows left to right in the stored pixels; turned a quarter
            // clockwise it must grow top to bottom.
            const vips::VImage red = resized.image.extract_band(0);
            QVERIFY(red.crop(0, 0, 75, 10).avg() + 40 < red.crop(0, 90, 75, 10).avg());
        }
        const fs::path out = convert(source, 100, OutputType::jpeg, true,
                                     "upright" + std::to_string(orientation) + ".jpg");
        const Decoded decoded = decode(out);
        QCOMPARE(decoded.width, width / 4);
        QCOMPARE(decoded.height, height / 4);
        const QString written = metadataValue(out, QStringLiteral("Orientation"));
        QVERIFY2(written.isEmpty() || written == u"1", qPrintable(written));
    }

    void longEdgeIsExact_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("edge");
        QTest::newRow("jpeg shrink-on-load") << "big.jpg" << 4032 << 3024 << 1280;
        QTest::newRow("jpeg by 8") << "big8.jpg" << 4032 << 3024 << 500;
        QTest::newRow("webp shrink-on-load") << "big.webp" << 3001 << 2001 << 640;
        QTest::newRow("png odd") << "odd.png" << 1001 << 999 << 1000;
        QTest::newRow("enlarged") << "small.png" << 200 << 100 << 333;
    }
    void longEdgeIsExact() {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, edge);
        const fs::path source =
            makeImage(file(name.toStdString()), {.width = width, .height = height});
        const ResizedImage resized = ImageIOResizer::resize(source, edge);
        QCOMPARE(std::max(resized.image.width(), resized.image.height()), edge);
        const double aspect = double(width) / height;
        QVERIFY(std::abs(double(resized.image.width()) / resized.image.height() - aspect) < 0.01);
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
    void foreignFormatsAreRefused() {
        QFETCH(QByteArray, content);
        const fs::path source = file(std::string("foreign-") + QTest::currentDataTag() + ".jpg");
        QFile f(QString::fromStdString(source.native()));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
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

    void renamedFileOpensByContent() {
        const fs::path source = makeImage(file("really-a-png.png"));
        fs::rename(source, file("really-a-png.jpg"));
        QCOMPARE(ImageIOResizer::readPixelDimensions(file("really-a-png.jpg")).uti,
                 QStringLiteral("image/png"));
    }

    void failedWriteLeavesNoTemporaryFile() {
        const fs::path source = makeImage(file("noisy.png"), {.width = 300, .height = 300});
        const ResizedImage resized = ImageIOResizer::resize(source, 300);
        const fs::path out = file("full-disk.png");
        std::ofstream(out).flush();
        QString message;
        try {
            const FileSizeLimit fullDisk(4096);
            ImageEncoder::write(resized, out, OutputType::png, 1, false);
        } catch (const LocalizedError& error) {
            message = error.errorDescription();
        }
        QCOMPARE(message, QStringLiteral("画像の書き出しに失敗しました"));
        QVERIFY(temporaryFilesBelow(path(m_dir)).isEmpty());
        QCOMPARE(fs::file_size(out), 0u); // the placeholder is the caller's to remove
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
