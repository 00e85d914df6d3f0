// SPDX-License-Identifier: GPL-3.0-or-later
// Below the pipeline: decoding, encoding and naming the output. Every source
// type to every output type, with and without metadata, is in tst_Metadata;
// output folders that cannot be written or were swapped for links or files
// are in tst_Pipeline, where the whole pipeline meets them.
#include "Batch/OutputPathResolver.h"
#include "Codec/ContainerWalk.h"
#include "Codec/HevcDecoder.h"
#include "Codec/ImageEncoder.h"
#include "Codec/ImageIOResizer.h"
#include "Models/Characters.h"
#include "Models/Errors.h"
#include "Runtime/Deleter.h"
#include "Runtime/FileDescriptor.h"
#include "Settings/OutputFormat.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <libheif/heif.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

using namespace TestSupport;
namespace OPR = OutputPathResolver;

namespace {

template <typename T, auto Free> using Owned = std::unique_ptr<T, Deleter<Free>>;

void row(const char* tag, const QString& input, const QString& expected) {
    QTest::newRow(tag) << input << expected;
}

} // namespace

class CodecTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    fs::path touch(const std::string& name) {
        fs::create_directories(file(name).parent_path());
        ::close(::open(file(name).c_str(), O_WRONLY | O_CREAT, 0644));
        return file(name);
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
        for (const char* jpeg : {"JPG", "Jpe", "webp", "gif", "AVIF", "jxl", ""})
            row(jpeg, OutputType::jpeg, OutputFormat::keepOriginal);
        row("PNG", OutputType::png, OutputFormat::keepOriginal);
        row("HEIF", OutputType::heic, OutputFormat::keepOriginal);
        row("tif", OutputType::tiff, OutputFormat::keepOriginal);
        row("jpg", OutputType::png, OutputFormat::png);
        row("png", OutputType::jpeg, OutputFormat::jpeg);
        row("heic", OutputType::webp, OutputFormat::webp);
        row("webp", OutputType::avif, OutputFormat::avif);
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
        QTest::newRow("odd 4:2:0") << 1001 << 777 << 1 << "jpg[Q=90]" << false << 333;
        QTest::newRow("odd 4:4:4")
            << 1203 << 901 << 1 << "jpg[Q=95,subsample_mode=off]" << false << 351;
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
        QTest::newRow("HEIC planes, odd sizes") << 1201 << 901 << 1 << "heic[Q=80]" << false << 500;
        QTest::newRow("PNG, odd sizes") << 1001 << 999 << 1 << "png" << false << 1000;
        // Every row filter, chosen row by row; one pixel a byte in grey.
        QTest::newRow("PNG, adaptive filters")
            << 1203 << 801 << 1 << "png[filter=all,compression=9]" << false << 600;
        QTest::newRow("PNG grey, adaptive filters")
            << 801 << 1203 << 1 << "png[filter=all]" << true << 600;
        QTest::newRow("PNG, paeth") << 640 << 480 << 1 << "png[filter=paeth]" << false << 300;
        QTest::newRow("PNG grey, average") << 640 << 480 << 1 << "png[filter=avg]" << true << 300;
        QTest::newRow("PNG interlaced, turned 6")
            << 700 << 500 << 6 << "png[interlace=true]" << false << 300;
        QTest::newRow("AVIF") << 1201 << 799 << 1 << "avif" << false << 600;
        QTest::newRow("JPEG XL") << 999 << 1401 << 1 << "jxl" << false << 700;
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
        // Thin red diagonals: chroma detail that a chroma plane upsampled
        // by replication, or resampled at too low a resolution, loses.
        image = image.copy_memory();
        for (int x = -height; x < width; x += 97)
            image.draw_line({230, 20, 30}, x, 0, x + height, height);
        if (grey)
            image = image.colourspace(VIPS_INTERPRETATION_B_W);
        image = image.copy();
        image.set(VIPS_META_ORIENTATION, orientation);
        image.write_to_file(file(name + "." + written.toStdString()).c_str());
        const fs::path source = file(name + "." + written.section(u'[', 0, 0).toStdString());

        const bool jpeg = written.startsWith(u"jpg");
        const int factor = ImageIOResizer::loadShrinkFactor(width, height, edge);
        const vips::VImage shrunk =
            jpeg ? vips::VImage::jpegload(source.c_str(),
                                          vips::VImage::option()->set("shrink", factor))
                 : vips::VImage::new_from_file(source.c_str());
        const vips::VImage expected =
            shrunk
                .resize(double(edge) / std::max(shrunk.width(), shrunk.height()),
                        vips::VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3))
                .autorot();

        const QByteArray bytes = readBytes(source);
        const vips::VImage actual = ImageIOResizer::resize(span(bytes), edge);
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
        // HEVC is decoded by our own libde265 plugin, for libvips as for us:
        // what comes back is what was encoded, lossy coding apart.
        if (written.startsWith(u"heic")) {
            const vips::VImage encoded =
                image.resize(double(actual.width()) / width,
                             vips::VImage::option()
                                 ->set("vscale", double(actual.height()) / height)
                                 ->set("kernel", VIPS_KERNEL_LANCZOS3));
            const double off =
                (actual.cast(VIPS_FORMAT_FLOAT) - encoded.cast(VIPS_FORMAT_FLOAT)).abs().avg();
            QVERIFY2(off < 3.0, qPrintable(QString::number(off)));
        }
        // A JPEG written again as JPEG goes from its own planes to the
        // encoder, without RGB between: at either chroma sampling the same
        // picture as through RGB, and never one that must turn first.
        for (const double quality : {0.85, 0.95}) {
            if (!jpeg || grey)
                break;
            const auto planes = ImageIOResizer::resizeToYCbCr(
                span(bytes), edge, ImageEncoder::halvesJpegChroma(quality));
            QCOMPARE(planes.has_value(), orientation == 1 && edge < std::max(width, height));
            if (!planes)
                break;
            const std::string stem = name + "-" + std::to_string(int(quality * 100));
            const fs::path viaPlanes = file(stem + "-planes.jpg");
            const fs::path viaRgb = file(stem + "-rgb.jpg");
            {
                const FileDescriptor fd(::open(viaPlanes.c_str(), O_WRONLY | O_CREAT, 0644));
                QVERIFY(ImageEncoder::encodeJpeg(planes->planes, planes->header, {}, fd.get(),
                                                 quality, false));
                const FileDescriptor rgb(::open(viaRgb.c_str(), O_WRONLY | O_CREAT, 0644));
                ImageEncoder::encode(actual, {}, rgb.get(), OutputType::jpeg, quality, false);
            }
            const vips::VImage once = vips::VImage::new_from_file(viaPlanes.c_str());
            const vips::VImage twice = vips::VImage::new_from_file(viaRgb.c_str());
            QCOMPARE(once.width(), twice.width());
            QCOMPARE(once.height(), twice.height());
            const double apart =
                (once.cast(VIPS_FORMAT_FLOAT) - twice.cast(VIPS_FORMAT_FLOAT)).abs().avg();
            // Halved chroma is resampled from the planes rather than averaged
            // from RGB; whole chroma differs by the round trip's rounding.
            QVERIFY2(apart < (quality < 0.9 ? 1.0 : 0.2), qPrintable(QString::number(apart)));
        }
        // Against the whole image decoded and resampled at once, as faithful
        // as libvips' own shrink-on-load, within half a decibel.
        if (!jpeg || factor == 1)
            return;
        const vips::VImage full = vips::VImage::new_from_file(source.c_str()).autorot();
        const vips::VImage reference =
            full.resize(double(actual.width()) / full.width(),
                        vips::VImage::option()
                            ->set("vscale", double(actual.height()) / full.height())
                            ->set("kernel", VIPS_KERNEL_LANCZOS3)
                            ->set("gap", 0.0));
        const auto psnr = [&](const vips::VImage& image) {
            const vips::VImage error =
                image.cast(VIPS_FORMAT_DOUBLE) - reference.cast(VIPS_FORMAT_DOUBLE);
            return 10.0 * std::log10(255.0 * 255.0 / std::max(1e-9, (error * error).avg()));
        };
        QVERIFY2(psnr(actual) >= psnr(expected) - 0.5,
                 qPrintable(QStringLiteral("%1 dB against libvips' %2 dB")
                                .arg(psnr(actual))
                                .arg(psnr(expected))));
        // The header's size is the upright one too.
        const FileConversion::SourceInfo dimensions = ImageIOResizer::inspect(span(bytes));
        QCOMPARE(dimensions.width > dimensions.height, actual.width() > actual.height());
    }

    // Where our plugin hands libheif its pictures in RGB, they are the very
    // bytes libheif's own conversion gives, whatever the chroma sampling,
    // range and matrix.
    void hevcInRgbAsLibheifConverts_data() {
        QTest::addColumn<QString>("chroma");
        QTest::addColumn<int>("matrix");
        QTest::addColumn<bool>("fullRange");
        QTest::newRow("4:2:0, BT.601, full range") << "420" << 6 << true;
        QTest::newRow("4:2:0, BT.709, limited range") << "420" << 1 << false;
        QTest::newRow("4:2:2, BT.2020, limited range") << "422" << 9 << false;
        QTest::newRow("4:4:4, unspecified, full range") << "444" << 2 << true;
    }
    void hevcInRgbAsLibheifConverts() {
        QFETCH(QString, chroma);
        QFETCH(int, matrix);
        QFETCH(bool, fullRange);
        if (!HevcDecoder::reportsDamage())
            QSKIP("this libheif takes no decoder plugin of ours");
        const std::string name = QTest::currentDataTag();
        const vips::VImage pixels = vips::VImage::new_from_file(
            makeImage(file(name + ".png"), {.width = 640, .height = 480}).c_str());
        const auto ok = [](heif_error error) { return error.code == heif_error_Ok; };

        Owned<heif_context, heif_context_free> context(heif_context_alloc());
        heif_image* rawImage = nullptr;
        QVERIFY(ok(heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                                     heif_chroma_interleaved_RGB, &rawImage)));
        Owned<heif_image, heif_image_release> image(rawImage);
        QVERIFY(ok(heif_image_add_plane(image.get(), heif_channel_interleaved, pixels.width(),
                                        pixels.height(), 8)));
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
        size_t size = 0;
        const auto bytes = static_cast<std::uint8_t*>(pixels.write_to_memory(&size));
        for (int y = 0; y < pixels.height(); ++y)
            std::memcpy(plane + y * stride, bytes + size_t(y) * size_t(pixels.width()) * 3,
                        size_t(pixels.width()) * 3);
        g_free(bytes);
        heif_encoder* rawEncoder = nullptr;
        QVERIFY(ok(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC,
                                                       &rawEncoder)));
        Owned<heif_encoder, heif_encoder_release> encoder(rawEncoder);
        QVERIFY(ok(heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast")));
        QVERIFY(ok(heif_encoder_set_parameter_string(encoder.get(), "chroma",
                                                     chroma.toLatin1().constData())));
        Owned<heif_color_profile_nclx, heif_nclx_color_profile_free> nclx(
            heif_nclx_color_profile_alloc());
        QVERIFY(
            ok(heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), std::uint16_t(matrix))));
        nclx->full_range_flag = fullRange;
        QVERIFY(ok(heif_image_set_nclx_color_profile(image.get(), nclx.get())));
        QVERIFY(ok(heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr,
                                             nullptr)));
        heif_writer writer{};
        writer.writer_api_version = 1;
        writer.write = [](heif_context*, const void* data, size_t size, void* into) {
            static_cast<QByteArray*>(into)->append(static_cast<const char*>(data), qsizetype(size));
            return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
        };
        QByteArray file;
        QVERIFY(ok(heif_context_write(context.get(), &writer, &file)));
        Owned<heif_context, heif_context_free> written(heif_context_alloc());
        QVERIFY(ok(heif_context_read_from_memory_without_copy(written.get(), file.constData(),
                                                              size_t(file.size()), nullptr)));
        heif_image_handle* rawHandle = nullptr;
        QVERIFY(ok(heif_context_get_primary_image_handle(written.get(), &rawHandle)));
        Owned<heif_image_handle, heif_image_handle_release> handle(rawHandle);

        // The three planes, and how many pictures our plugin handed over in RGB.
        const auto decoded = [&](bool inRgb) {
            std::optional<HevcDecoder::RgbPictures> scope;
            if (inRgb)
                scope.emplace(handle.get());
            heif_image* raw = nullptr;
            QByteArray all;
            if (!ok(heif_decode_image(handle.get(), &raw, heif_colorspace_RGB, heif_chroma_444,
                                      nullptr)))
                return std::pair(all, -1);
            const Owned<heif_image, heif_image_release> result(raw);
            for (const heif_channel channel : {heif_channel_R, heif_channel_G, heif_channel_B}) {
                int rowBytes = 0;
                const std::uint8_t* data =
                    heif_image_get_plane_readonly(result.get(), channel, &rowBytes);
                for (int y = 0; data && y < pixels.height(); ++y)
                    all.append(reinterpret_cast<const char*>(data + y * rowBytes), pixels.width());
            }
            return std::pair(all, scope ? scope->delivered : 0);
        };
        const auto [ours, delivered] = decoded(true);
        const auto [libheifs, none] = decoded(false);
        QCOMPARE(delivered, 1);
        QCOMPARE(ours.size(), pixels.width() * pixels.height() * 3);
        QVERIFY(ours == libheifs);
    }

    // PNGs from our own deflate writer and JPEGs from libjpeg called
    // directly read back exactly as libvips' own savers' do, with the same
    // chunks or the same chroma sampling, and the profile and resolution.
    void writtenAsLibvipsWrites_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("bands");
        QTest::addColumn<bool>("sixteenBit");
        QTest::addColumn<bool>("flat"); // a drawing rather than a photo
        QTest::addColumn<bool>("profile");
        QTest::addColumn<double>("quality");
        const int png = int(OutputType::png), jpeg = int(OutputType::jpeg);
        QTest::newRow("PNG grey") << png << 1 << false << false << false << 0.8;
        QTest::newRow("PNG grey and alpha, flat") << png << 2 << false << true << false << 0.8;
        QTest::newRow("PNG RGB with profile") << png << 3 << false << false << true << 0.8;
        QTest::newRow("PNG RGB, flat") << png << 3 << false << true << false << 0.8;
        QTest::newRow("PNG RGBA") << png << 4 << false << false << true << 0.8;
        QTest::newRow("PNG grey 16") << png << 1 << true << false << false << 0.8;
        QTest::newRow("PNG RGB 16, flat") << png << 3 << true << true << true << 0.8;
        QTest::newRow("PNG RGBA 16") << png << 4 << true << false << false << 0.8;
        QTest::newRow("JPEG RGB with profile") << jpeg << 3 << false << false << true << 0.85;
        QTest::newRow("JPEG RGB at 90, unsubsampled")
            << jpeg << 3 << false << false << false << 0.9;
        QTest::newRow("JPEG grey") << jpeg << 1 << false << true << false << 0.5;
    }
    void writtenAsLibvipsWrites() {
        QFETCH(int, type);
        QFETCH(int, bands);
        QFETCH(bool, sixteenBit);
        QFETCH(bool, flat);
        QFETCH(bool, profile);
        QFETCH(double, quality);
        const bool isPng = OutputType(type) == OutputType::png;
        const std::string name = QTest::currentDataTag();
        vips::VImage image = vips::VImage::new_from_file(
            makeImage(file(name + "-source.png"), {.width = 301, .height = 203}).c_str());
        if (flat) // large areas of one colour, hard edges
            image = (image / 64).floor() * 64;
        image = image.cast(VIPS_FORMAT_UCHAR);
        if (bands < 3)
            image = image.colourspace(VIPS_INTERPRETATION_B_W);
        if (bands % 2 == 0)
            image = image.bandjoin(image.extract_band(0).linear(-1, 255).cast(VIPS_FORMAT_UCHAR));
        if (sixteenBit)
            image = image.colourspace(bands < 3 ? VIPS_INTERPRETATION_GREY16
                                                : VIPS_INTERPRETATION_RGB16);
        image =
            image.copy(vips::VImage::option()->set("xres", 300 / 25.4)->set("yres", 150 / 25.4));
        if (profile) {
            VipsBlob* srgb = vips::VImage::profile_load("srgb");
            size_t size = 0;
            const void* icc = vips_blob_get(srgb, &size);
            vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, icc, size);
            vips_area_unref(VIPS_AREA(srgb));
        }
        image = image.copy_memory();

        const std::string extension = isPng ? ".png" : ".jpg";
        const fs::path ours = file(name + extension);
        {
            const FileDescriptor fd(::open(ours.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
            ImageEncoder::encode(image, {}, fd.get(), OutputType(type), quality, false);
        }
        const fs::path theirs = file(name + "-libvips" + extension);
        // Since 8.15 libvips' savers write an Exif block unless told to keep
        // only the profile, as ours keep it.
        vips::VOption* options = vips::VImage::option();
#if VIPS_MAJOR_VERSION > 8 || (VIPS_MAJOR_VERSION == 8 && VIPS_MINOR_VERSION >= 15)
        options->set("keep", int(VIPS_FOREIGN_KEEP_ICC));
#endif
        if (isPng)
            image.pngsave(theirs.c_str(), options);
        else
            image.jpegsave(theirs.c_str(), options->set("Q", ImageEncoder::encoderQuality(quality))
                                               ->set("optimize_coding", true));
        // PNG: the chunks in order; JPEG: each component's sampling factors.
        const auto layout = [isPng](const fs::path& path) {
            const QByteArray bytes = readBytes(path);
            QStringList parts;
            if (isPng) {
                ContainerWalk::PngChunks walk(span(bytes));
                while (const auto chunk = walk.next())
                    if (parts.isEmpty() || parts.last() != QLatin1String(chunk->type))
                        parts << QString::fromLatin1(chunk->type);
                return parts;
            }
            ContainerWalk::JpegSegments walk(span(bytes));
            while (const auto segment = walk.next()) {
                if (segment->marker != 0xC0 && segment->marker != 0xC1) // the frame header
                    continue;
                const qsizetype components = bytes[qsizetype(segment->offset) + 9];
                for (qsizetype c = 0; c < components; ++c)
                    parts << QString::number(quint8(bytes[qsizetype(segment->offset) + 11 + 3 * c]),
                                             16);
            }
            return parts;
        };
        QCOMPARE(layout(ours), layout(theirs));
        const vips::VImage read = vips::VImage::new_from_file(ours.c_str());
        const vips::VImage expected = vips::VImage::new_from_file(theirs.c_str());
        QCOMPARE(read.bands(), expected.bands());
        QCOMPARE(read.format(), expected.format());
        QCOMPARE(read.interpretation(), expected.interpretation());
        // Against what was asked: libvips 8.16 writes a PNG's vertical
        // resolution as its horizontal one.
        QVERIFY(std::abs(read.xres() - image.xres()) < 0.01);
        QVERIFY(std::abs(read.yres() - image.yres()) < 0.01);
        QCOMPARE((read - expected).abs().max(), 0.0);
        QCOMPARE(bool(read.get_typeof(VIPS_META_ICC_NAME)), profile);
    }

    void transparencyBecomesWhiteInJpeg() {
        const fs::path source = file("clear.png");
        vips::VImage::black(50, 40, vips::VImage::option()->set("bands", 4))
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .write_to_file(source.c_str());
        const fs::path out = file("clear.jpg");
        QCOMPARE(convertFile(source, out, {50, OutputType::jpeg, 0.8, false}), 50);
        QVERIFY(vips::VImage::new_from_file(out.c_str()).extract_band(0).avg() > 250);
    }

    // A write that fails (a full disk) fails the conversion, whichever
    // encoder met it, rather than leaving a short file that passes for done.
    void failedWriteFails_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("preserve"); // a TIFF with metadata is written in one piece
        for (OutputType type : {OutputType::jpeg, OutputType::png, OutputType::heic})
            QTest::addRow("%s", qPrintable(OutputTypes::preferredFilenameExtension(type)))
                << int(type) << false;
        QTest::newRow("tif streamed") << int(OutputType::tiff) << false;
        QTest::newRow("tif whole") << int(OutputType::tiff) << true;
    }
    void failedWriteFails() {
        QFETCH(int, type);
        QFETCH(bool, preserve);
        const fs::path source = makeImage(file("full.png"), {.width = 300, .height = 200});
        try {
            convertFile(source, "/dev/full", {300, OutputType(type), 0.8, preserve});
            QFAIL("written");
        } catch (const EncoderError& error) {
            QCOMPARE(error.errorCase(), EncoderError::finalizeFailed);
        }
    }

    void sanitizing_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString flags = QString(60, QChar()).replace(QChar(), QStringLiteral("🇯🇵"));
        // Folder names (default "Resized") and, after "prefix:", file-name prefixes.
        const char* blanks[][2] = {{"empty", ""},
                                   {"dot", "."},
                                   {"dot dot", ".."},
                                   {"dot dot padded", " \n..\t "},
                                   {"only controls", "\1\2"}};
        for (const auto& [tag, blank] : blanks)
            row(tag, QString::fromUtf8(blank), QStringLiteral("Resized"));
        row("ideographic space", QStringLiteral("\u3000out\u3000"), "out");
        row("three dots", "...", "...");
        row("dot name", ".thumbs", ".thumbs");
        row("separators", "a/b:c\\d", "a_b_c_d");
        row("inner tab", "a\tb", "ab");
        row("NUL", QString::fromUtf16(u"a\u0000b", 3), "a_b");
        row("zero width edges", QStringLiteral("\u200Bout\u200B"), "out");
        row("150 characters", QString(150, u'x'), QString(100, u'x'));
        row("prefix padded", "prefix:  web_  ", "web_");
        row("prefix empty", "prefix:", "");
        row("prefix dot kept", "prefix:.", ".");
        row("prefix slash", "prefix:a/", "a_");
        row("prefix 60", "prefix:" + QString(60, u'p'), QString(50, u'p'));
        row("prefix flags count once", "prefix:" + flags, flags.left(200));
    }
    void sanitizing() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        if (input.startsWith(u"prefix:"))
            QCOMPARE(OPR::sanitizeFilenamePrefix(input.mid(7)), expected);
        else
            QCOMPARE(OPR::sanitizedFolderName(input), expected);
    }

    void collisionsAreNumberedAndLongNamesCut() {
        const fs::path source = touch("photos/IMG_0001.HEIC");
        const fs::path folder = file("photos/Resized");
        for (const char* name : {"s_IMG_0001.heic", "s_IMG_0001-1.heic", "s_IMG_0001-2.heic"})
            QCOMPARE(OPR::resolve(source, OutputType::heic, QStringLiteral("Resized"),
                                  QStringLiteral("s_")),
                     folder / name);
        QCOMPARE(fs::file_size(folder / "s_IMG_0001-2.heic"), 0u); // claimed
        // Only the last extension goes.
        QCOMPARE(OPR::resolve(touch("photos/a.b.jpg"), OutputType::png, {}, {}).filename(),
                 fs::path("a.b.png"));
        // Cut to the byte budget by whole characters: 78 of three bytes, a
        // letter and its combining accent, fill 234 of the 236.
        const QString accented = QStringLiteral("e\u0301").repeated(100);
        const fs::path out = OPR::resolve(touch("long/" + accented.toStdString() + ".jpg"),
                                          OutputType::jpeg, {}, {});
        QCOMPARE(QString::fromStdString(out.filename().native()), accented.left(156) + u".jpg");
        // A character beyond the budget on its own stays whole.
        QCOMPARE(Characters::truncateToUTF8Bytes(QStringLiteral("あい"), 2), QStringLiteral("あ"));
    }

    // The output folder must be the source's folder or below it: a link back
    // to it is fine, "/" holds "/Resized", a sibling sharing the name's start
    // is elsewhere (links elsewhere are in tst_Pipeline).
    void containment() {
        const fs::path source = touch("linked/a.jpg");
        fs::create_directory_symlink(source.parent_path(), source.parent_path() / "Here");
        const fs::path out = OPR::resolve(source, OutputType::png, QStringLiteral("Here"), {});
        QVERIFY(fs::equivalent(out, source.parent_path() / "a.png"));
        QVERIFY(OPR::isContained("/", "/Resized"));
        QVERIFY(!OPR::isContained("/home/u", "/home/user/Resized"));
    }

    void tooManyCollisions() {
        const fs::path source = touch("full/p.jpg");
        touch("full/Resized/p.jpg");
        for (int n = 1; n <= 9998; ++n)
            touch("full/Resized/p-" + std::to_string(n) + ".jpg");
        QString message;
        try {
            OPR::resolve(source, OutputType::jpeg, {}, {});
        } catch (const LocalizedError& error) {
            message = error.errorDescription();
        }
        QCOMPARE(message, QStringLiteral("同名ファイルが多すぎます"));
        fs::remove(file("full/Resized/p-9998.jpg"));
        QCOMPARE(OPR::resolve(source, OutputType::jpeg, {}, {}).filename(), fs::path("p-9998.jpg"));
    }
};

QTEST_GUILESS_MAIN(CodecTest)
#include "tst_Codec.moc"
