// SPDX-License-Identifier: GPL-3.0-or-later
// JPEGs are decoded by libjpeg-turbo at M/8 scales and resampled as YCbCr
// planes; the result must be the image libvips' own shrink-on-load and
// Lanczos3 give: same size, same way up, same colours.
#include "Services/ImageIOResizer.h"
#include "Support/TestSupport.h"

#include <QTest>

using namespace TestSupport;

class ScaledDecodeTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() { initialize(); }

    void sameAsLibvips_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("options"); // libvips' JPEG writer options
        QTest::addColumn<bool>("grey");
        QTest::addColumn<int>("edge");
        QTest::newRow("4:2:0 to 3/8") << 1600 << 1200 << 1 << "Q=90" << false << 500;
        QTest::newRow("odd 4:2:0, turned 6") << 1001 << 777 << 6 << "Q=90" << false << 333;
        QTest::newRow("odd 4:2:0, turned 8") << 999 << 1001 << 8 << "Q=90" << false << 250;
        QTest::newRow("half turn, 7/8") << 800 << 600 << 3 << "Q=90" << false << 640;
        QTest::newRow("transposed 5") << 640 << 480 << 5 << "Q=90" << false << 201;
        QTest::newRow("transverse 7") << 641 << 479 << 7 << "Q=90" << false << 199;
        QTest::newRow("4:4:4, turned 6")
            << 1200 << 900 << 6 << "Q=95,subsample_mode=off" << false << 350;
        QTest::newRow("progressive, mirrored 2")
            << 1500 << 1000 << 2 << "Q=90,interlace=true" << false << 500;
        QTest::newRow("grey") << 900 << 701 << 1 << "Q=90" << true << 256;
        QTest::newRow("enlarged") << 300 << 201 << 1 << "Q=90" << false << 450;
    }
    void sameAsLibvips() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, orientation);
        QFETCH(QString, options);
        QFETCH(bool, grey);
        QFETCH(int, edge);
        const std::string name = QTest::currentDataTag();
        vips::VImage image = vips::VImage::new_from_file(
            makeImage(path(m_dir) / (name + ".png"), {.width = width, .height = height}).c_str());
        if (grey)
            image = image.colourspace(VIPS_INTERPRETATION_B_W);
        image = image.copy();
        image.set(VIPS_META_ORIENTATION, orientation);
        const fs::path source = path(m_dir) / (name + ".jpg");
        image.write_to_file((source.native() + "[" + options.toStdString() + "]").c_str());

        const int factor = ImageIOResizer::loadShrinkFactor(std::max(width, height), edge);
        const vips::VImage shrunk =
            vips::VImage::jpegload(source.c_str(), vips::VImage::option()->set("shrink", factor));
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
    }
};

QTEST_GUILESS_MAIN(ScaledDecodeTest)
#include "tst_ScaledDecode.moc"
