// SPDX-License-Identifier: GPL-3.0-or-later
#include "Services/ImageEncoder.h"

#include "Services/Errors.h"
#include "Services/FileDescriptor.h"
#include "Services/MetadataEdits.h"

#include <QUuid>

#include <libheif/heif.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

// PNG: zlib level 1 with every row "up"-filtered. On photos at 1280 px
// (bench/) that is 7% smaller than level 6 without filters, libvips' default,
// and a third of its time; choosing the filter row by row saves 2% more for
// half as much time again, level 6 with adaptive filters 15% for ten times.
constexpr int pngCompressionLevel = 1;
constexpr VipsForeignPngFilter pngFilter = VIPS_FOREIGN_PNG_FILTER_UP;
// x265 speed preset for HEIC. At 1280 px "ultrafast" costs a quarter of
// "fast" for 4% more bytes; its default, "slow", takes seconds per photo.
constexpr const char* heicEncoderPreset = "ultrafast";

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using HeifContext = std::unique_ptr<heif_context, Deleter<heif_context_free>>;
using HeifImage = std::unique_ptr<heif_image, Deleter<heif_image_release>>;
using HeifEncoder = std::unique_ptr<heif_encoder, Deleter<heif_encoder_release>>;
using HeifHandle = std::unique_ptr<heif_image_handle, Deleter<heif_image_handle_release>>;
using HeifOptions = std::unique_ptr<heif_encoding_options, Deleter<heif_encoding_options_free>>;
using GMemory = std::unique_ptr<void, Deleter<g_free>>;
void unrefBlob(VipsBlob* blob) {
    vips_area_unref(VIPS_AREA(blob));
}

// Removes the temporary file on every exit that did not move it into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : m_path(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!m_moved)
            ::unlink(m_path.c_str());
    }
    const std::filesystem::path& path() const { return m_path; }
    void markMoved() { m_moved = true; }

private:
    std::filesystem::path m_path;
    bool m_moved = false;
};

void writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EncoderError(EncoderError::finalizeFailed);
        p += n;
        size -= size_t(n);
    }
}

void removeField(vips::VImage& image, const char* name) {
    if (image.get_typeof(name))
        image.remove(name);
}

// The pixels with the metadata the output is to carry.
vips::VImage withMetadataPolicy(const vips::VImage& source, bool preserveExif) {
    vips::VImage image = source.copy();
    if (!preserveExif) {
        removeField(image, VIPS_META_EXIF_NAME);
        removeField(image, VIPS_META_IPTC_NAME);
        removeField(image, VIPS_META_XMP_NAME);
        // libvips mirrors every EXIF tag as an "exif-ifdN-..." field.
        std::unique_ptr<gchar*, Deleter<g_strfreev>> fields(
            vips_image_get_fields(image.get_image()));
        for (gchar** field = fields.get(); *field; ++field) {
            if (std::strncmp(*field, "exif-", 5) == 0)
                image.remove(*field);
        }
    }
    image.set(VIPS_META_ORIENTATION, 1);
    return image;
}

vips::VImage flattenedOntoWhite(const vips::VImage& image) {
    if (!image.has_alpha())
        return image;
    const bool sixteenBit = image.interpretation() == VIPS_INTERPRETATION_RGB16 ||
                            image.interpretation() == VIPS_INTERPRETATION_GREY16;
    const double white = sixteenBit ? 65535.0 : 255.0;
    return image.flatten(vips::VImage::option()->set(
        "background", std::vector<double>(size_t(image.bands() - 1), white)));
}

QByteArray encodeJpeg(const vips::VImage& image, double quality, bool preserveExif) {
    // The returned blob holds our one reference. Asking for "buffer" as an
    // option as well would take a second one that nothing releases.
    std::unique_ptr<VipsBlob, Deleter<unrefBlob>> blob(image.jpegsave_buffer(
        vips::VImage::option()->set("Q", ImageEncoder::encoderQuality(quality))));
    size_t size = 0;
    const void* data = vips_blob_get(blob.get(), &size);
    QByteArray bytes(static_cast<const char*>(data), qsizetype(size));
    // libvips writes a fresh EXIF block (resolution, orientation) even when
    // the image has none; without the setting it must not be there at all.
    return preserveExif ? bytes : MetadataEdits::jpegWithoutExif(bytes);
}

void check(heif_error error) {
    if (error.code != heif_error_Ok)
        throw EncoderError(EncoderError::finalizeFailed);
}

heif_error writeToDescriptor(heif_context*, const void* data, size_t size, void* userdata) {
    try {
        writeAll(*static_cast<int*>(userdata), data, size);
        return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
    } catch (const EncoderError&) {
        return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data, "write failed"};
    }
}

// libvips' HEIF writer adds an EXIF block whether asked or not, so HEIC is
// written with libheif directly.
void encodeHeic(vips::VImage image, int fd, double quality, bool preserveExif) {
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.bands() < 3)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR)
        image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() > 4)
        image = image.extract_band(0, vips::VImage::option()->set("n", 4));
    const bool alpha = image.bands() == 4;
    const int width = image.width();
    const int height = image.height();

    size_t size = 0;
    GMemory pixels(vips_image_write_to_memory(image.get_image(), &size));
    if (!pixels)
        throw EncoderError(EncoderError::finalizeFailed);

    HeifContext context(heif_context_alloc());
    heif_image* rawImage = nullptr;
    check(heif_image_create(width, height, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            &rawImage));
    HeifImage heifImage(rawImage);
    check(heif_image_add_plane(heifImage.get(), heif_channel_interleaved, width, height, 8));
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(heifImage.get(), heif_channel_interleaved, &stride);
    const size_t rowBytes = size_t(width) * size_t(image.bands());
    for (int y = 0; y < height; ++y)
        std::memcpy(plane + size_t(y) * size_t(stride),
                    static_cast<const uint8_t*>(pixels.get()) + size_t(y) * rowBytes, rowBytes);
    if (image.get_typeof(VIPS_META_ICC_NAME)) {
        size_t iccSize = 0;
        const void* icc = image.get_blob(VIPS_META_ICC_NAME, &iccSize);
        check(heif_image_set_raw_color_profile(heifImage.get(), "prof", icc, iccSize));
    }

    heif_encoder* rawEncoder = nullptr;
    check(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder));
    HeifEncoder encoder(rawEncoder);
    check(heif_encoder_set_lossy_quality(encoder.get(), ImageEncoder::encoderQuality(quality)));
    heif_encoder_set_parameter_string(encoder.get(), "preset", heicEncoderPreset);
    // x265 would start a thread per core for every file; files already run
    // side by side, so each encoder gets the same share as libvips does.
    heif_encoder_set_parameter_string(encoder.get(), "x265:pools",
                                      std::to_string(vips_concurrency_get()).c_str());

    HeifOptions options(heif_encoding_options_alloc());
    options->save_alpha_channel = alpha;
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_encode_image(context.get(), heifImage.get(), encoder.get(), options.get(),
                                    &rawHandle));
    HeifHandle handle(rawHandle);

    if (preserveExif) {
        if (image.get_typeof(VIPS_META_EXIF_NAME)) {
            size_t exifSize = 0;
            const void* exif = image.get_blob(VIPS_META_EXIF_NAME, &exifSize);
            // libheif wants the TIFF structure itself and adds its own offset header.
            QByteArray upright = MetadataEdits::exifWithUprightOrientation(
                QByteArray(static_cast<const char*>(exif), qsizetype(exifSize)));
            if (upright.startsWith(QByteArray("Exif\0\0", 6)))
                upright.remove(0, 6);
            check(heif_context_add_exif_metadata(context.get(), handle.get(), upright.constData(),
                                                 int(upright.size())));
        }
        if (image.get_typeof(VIPS_META_XMP_NAME)) {
            size_t xmpSize = 0;
            const void* xmp = image.get_blob(VIPS_META_XMP_NAME, &xmpSize);
            check(heif_context_add_XMP_metadata(context.get(), handle.get(), xmp, int(xmpSize)));
        }
    }

    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = writeToDescriptor;
    int descriptor = fd;
    check(heif_context_write(context.get(), &writer, &descriptor));
}

void encode(const ResizedImage& resized, int fd, OutputType type, double quality,
            bool preserveExif) {
    const vips::VImage image = withMetadataPolicy(resized.image, preserveExif);
    switch (type) {
    case OutputType::jpeg: {
        const QByteArray bytes = encodeJpeg(flattenedOntoWhite(image), quality, preserveExif);
        writeAll(fd, bytes.constData(), size_t(bytes.size()));
        return;
    }
    case OutputType::png:
        image.pngsave_target(vips::VTarget::new_to_descriptor(fd),
                             vips::VImage::option()
                                 ->set("compression", pngCompressionLevel)
                                 ->set("filter", pngFilter));
        return;
    case OutputType::tiff:
        image.tiffsave_target(vips::VTarget::new_to_descriptor(fd),
                              vips::VImage::option()
                                  ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE)
                                  ->set("predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL));
        return;
    case OutputType::heic:
        encodeHeic(image, fd, quality, preserveExif);
        return;
    }
}

} // namespace

namespace ImageEncoder {

int encoderQuality(double quality) {
    const double clamped = std::min(quality >= 0.0 ? quality : 0.0, 1.0);
    return std::clamp(int(std::lround(clamped * 100.0)), 1, 100);
}

bool isTemporaryFileName(const std::string& name) {
    return name.size() == 41 && name.front() == '.' && name.ends_with(".tmp");
}

void write(const ResizedImage& image, const std::filesystem::path& to, OutputType type,
           double quality, bool preserveExif) {
    const std::string uuid =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    const std::filesystem::path temporaryPath = to.parent_path() / ("." + uuid + ".tmp");

    FileDescriptor fd(
        ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.isValid())
        throw EncoderError(EncoderError::cannotCreateDestination);
    TemporaryFile temporary(temporaryPath);

    try {
        encode(image, fd.get(), type, quality, preserveExif);
    } catch (const vips::VError&) {
        vips_error_clear();
        throw EncoderError(EncoderError::finalizeFailed);
    }
    if (fd.close() != 0)
        throw EncoderError(EncoderError::finalizeFailed);

    if (::rename(temporary.path().c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        throw SystemError(error);
    }
    temporary.markMoved();
}

} // namespace ImageEncoder
