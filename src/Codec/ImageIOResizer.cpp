// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ImageIOResizer.h"

#include "Codec/HeifPlaneDecoder.h"
#include "Codec/JpegIntegrity.h"
#include "Codec/PlaneResampler.h"
#include "Codec/PngCodec.h"
#include "Codec/ResizeBudget.h"
#include "Codec/ScaledJpegDecoder.h"
#include "Models/Errors.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace {

enum class Container { jpeg, png, heif, tiff, gif, webp, jxl };

struct OpenedSource {
    vips::VSource source;
    Container container;
};

std::optional<Container> containerForLoader(const char* loader) {
    // Class names such as "VipsForeignLoadJpegSource": only our seven families.
    const std::string name = loader ? loader : "";
    const auto family = [&](const char* stem) {
        return name.rfind(std::string("VipsForeignLoad") + stem, 0) == 0;
    };
    if (family("Jpeg"))
        return Container::jpeg;
    if (family("Png"))
        return Container::png;
    if (family("Heif"))
        return Container::heif;
    if (family("Tiff"))
        return Container::tiff;
    if (family("Nsgif"))
        return Container::gif;
    if (family("Webp"))
        return Container::webp;
    if (family("Jxl"))
        return Container::jxl;
    return std::nullopt;
}

// libpng takes an ancillary chunk's declared length at its word before it
// finds the file ends sooner: a few hundred bytes claiming a 2 GB text chunk
// cost gigabytes of memory and a minute. No such chunk can be complete, so
// the file is refused up front. Image data that stops short is left to the
// decoder, which reports the truncation.
bool pngChunksFitFile(ByteSpan png) {
    ContainerWalk::PngChunks chunks(png);
    while (const std::optional<ContainerWalk::PngChunk> chunk = chunks.next()) {
        if (!chunk->whole)
            return chunk->length <= 0x7FFFFFFFu && (chunk->is("IDAT") || chunk->is("fdAT"));
        if (chunk->is("IEND"))
            return true;
    }
    return true;
}

vips::VSource sourceOver(ByteSpan bytes) {
    VipsSource* raw = vips_source_new_from_memory(bytes.data(), bytes.size());
    if (!raw) {
        vips_error_clear();
        throw ResizeError(ResizeError::cannotOpenSource);
    }
    return vips::VSource(raw);
}

// Picks the loader by content, among ours only.
OpenedSource openSource(ByteSpan bytes) {
    if (bytes.empty())
        throw ResizeError(ResizeError::cannotOpenSource);
    vips::VSource source = sourceOver(bytes);
    const std::optional<Container> container =
        containerForLoader(vips_foreign_find_load_source(source.get_source()));
    vips_error_clear();
    if (!container)
        throw ResizeError(ResizeError::cannotOpenSource);
    if (*container == Container::png && !pngChunksFitFile(bytes))
        throw ResizeError(ResizeError::cannotReadProperties);
    return {std::move(source), *container};
}

// Lazily loads image 0: only the header is read until pixels are asked for.
vips::VImage load(const OpenedSource& opened, vips::VOption* options = nullptr) {
    if (!options)
        options = vips::VImage::option();
    options->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
    switch (opened.container) {
    case Container::jpeg:
        return vips::VImage::jpegload_source(opened.source, options);
    case Container::png:
        return vips::VImage::pngload_source(opened.source, options);
    // Always the primary image itself, never its embedded thumbnail.
    case Container::heif: {
        vips::VImage image =
            vips::VImage::heifload_source(opened.source, options->set("thumbnail", false));
        // HEIC and AVIF only: libheif may grow decoders for other kinds of
        // HEIF that have not been looked at here.
        const char* compression = image.get_typeof("heif-compression") == VIPS_TYPE_REF_STRING
                                      ? image.get_string("heif-compression")
                                      : "";
        if (std::strcmp(compression, "hevc") != 0 && std::strcmp(compression, "av1") != 0)
            throw ResizeError(ResizeError::unsupportedKind);
        return image;
    }
    case Container::tiff:
        return vips::VImage::tiffload_source(opened.source, options);
    case Container::gif:
        return vips::VImage::gifload_source(opened.source, options);
    case Container::webp:
        return vips::VImage::webpload_source(opened.source, options);
    case Container::jxl:
        return vips::VImage::jxlload_source(opened.source, options);
    }
    Q_UNREACHABLE();
}

std::optional<int> orientationOf(const vips::VImage& header) {
    if (header.get_typeof(VIPS_META_ORIENTATION) != G_TYPE_INT)
        return std::nullopt;
    return header.get_int(VIPS_META_ORIENTATION);
}

// Some loaders (HEIF in libvips 8.14) attach metadata blobs whose memory
// belongs to the loader's own image; once that image is gone they dangle.
// The result gets copies it owns.
void ownMetadataBlobs(vips::VImage& image) {
    for (const char* field :
         {VIPS_META_ICC_NAME, VIPS_META_EXIF_NAME, VIPS_META_XMP_NAME, VIPS_META_IPTC_NAME}) {
        if (image.get_typeof(field) != VIPS_TYPE_BLOB)
            continue;
        size_t length = 0;
        const void* data = image.get_blob(field, &length);
        vips_image_set_blob_copy(image.get_image(), field, data, length);
    }
}

// Whether the image's orientation says to turn or mirror it.
bool isTurned(const vips::VImage& image) {
    const std::optional<int> orientation = orientationOf(image);
    return orientation && *orientation >= 2 && *orientation <= 8;
}

// `image` turned upright, or `image` itself where it is upright already:
// turning even by nothing makes a pipeline stage that each reader renders.
vips::VImage upright(const vips::VImage& image) {
    return isTurned(image) ? image.autorot() : image;
}

bool needsConversionToRGB(VipsInterpretation interpretation) {
    switch (interpretation) {
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB16:
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16:
    case VIPS_INTERPRETATION_MULTIBAND:
        return false;
    default:
        return true;
    }
}

// The size libvips' resize gives: the long edge is the target, the other
// rounded to the nearest pixel, never 0.
std::pair<int, int> scaledSize(std::int64_t width, std::int64_t height, std::int64_t target) {
    const auto other = [&](std::int64_t side, std::int64_t longEdge) {
        return int(
            std::max<long long>(1, std::llround(double(side) * double(target) / double(longEdge))));
    };
    if (width == height)
        return {int(target), int(target)};
    return width > height ? std::pair{int(target), other(height, width)}
                          : std::pair{other(width, height), int(target)};
}

// Up to this size a decoded 8-bit image is shrunk with zimg, which needs its
// planes whole in memory: 10 MP cost 30 MB per file in flight. Larger ones
// (a 12-MP HEIC adds 36 MB to the 100 MB its decoder holds) stream through
// libvips' own resampler, which also does every enlargement.
constexpr std::int64_t planeResamplerMaximumPixels = 10'000'000;

bool suitsPlaneResampler(const vips::VImage& image) {
    // HEIF is left to libvips: its pixels come upright from libheif, and an
    // Exif orientation beside them must not turn them again.
    return !image.get_typeof("heif-compression") && image.format() == VIPS_FORMAT_UCHAR &&
           !image.has_alpha() && (image.bands() == 1 || image.bands() == 3) &&
           std::int64_t(image.width()) * image.height() <= planeResamplerMaximumPixels;
}

// Scales so the long edge is exactly `target`, premultiplying alpha so that
// transparent pixels do not bleed dark fringes into the edges.
vips::VImage scaleToLongEdge(vips::VImage image, std::int64_t target) {
    if (image.interpretation() == VIPS_INTERPRETATION_CMYK && image.get_typeof(VIPS_META_ICC_NAME))
        image = image.icc_transform(
            "srgb",
            vips::VImage::option()->set("embedded", true)->set("intent", VIPS_INTENT_PERCEPTUAL));
    else if (needsConversionToRGB(image.interpretation()))
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);

    const std::int64_t longEdge = std::max(image.width(), image.height());
    if (longEdge == target)
        return image;
    if (longEdge > target && suitsPlaneResampler(image)) {
        const auto [width, height] = scaledSize(image.width(), image.height(), target);
        if (vips::VImage scaled = PlaneResampler::resize(image, width, height); scaled.get_image())
            return scaled;
    }
    const double scale = double(target) / double(longEdge);
    const VipsBandFormat format = image.format();
    const bool alpha = image.has_alpha();
    if (alpha)
        image = image.premultiply();
    image = image.resize(scale, vips::VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3));
    if (alpha)
        image = image.unpremultiply();
    if (image.format() != format)
        image = image.cast(format);
    return image;
}

// libvips' JPEG loader lets every warning but the end of the file through:
// before it decodes, the data is checked for the damage it would paper over.
void requireWholeJpeg(ByteSpan jpeg) {
    switch (JpegIntegrity::check(jpeg)) {
    case JpegIntegrity::Verdict::damaged:
        throw ResizeError(ResizeError::damagedImageData);
    case JpegIntegrity::Verdict::unsupported:
        throw ResizeError(ResizeError::unsupportedKind);
    case JpegIntegrity::Verdict::whole:
    case JpegIntegrity::Verdict::unreadable: // libvips' own error follows
        return;
    }
}

bool tellsItsOwnStory(const ResizeError& error) {
    return error.errorCase() == ResizeError::damagedImageData ||
           error.errorCase() == ResizeError::unsupportedKind;
}

std::int64_t pixelBytes(const vips::VImage& image) {
    return std::int64_t(image.width()) * image.height() * image.bands() *
           std::int64_t(vips_format_sizeof(image.format()));
}

// Orientations other than 1 and 2 (a mirror within each row) read the
// pixels out of row order.
bool turnsOrFlipsRows(const vips::VImage& header) {
    const std::optional<int> orientation = orientationOf(header);
    return orientation && *orientation >= 3 && *orientation <= 8;
}

// The shrink-on-load factor for the file's container and the size libvips
// gives after its own shrink-on-load, which drops a partial last pixel: the
// output does not depend on which decoder ran.
struct DecodedSize {
    int factor;
    int width;
    int height;
};
DecodedSize decodedSize(const vips::VImage& header, Container container, std::int64_t longEdgePx) {
    const bool shrinksOnLoad = container == Container::jpeg || container == Container::webp;
    const int factor = shrinksOnLoad ? ImageIOResizer::loadShrinkFactor(header.width(),
                                                                        header.height(), longEdgePx)
                                     : 1;
    const auto [width, height] =
        scaledSize(header.width() / factor, header.height() / factor, longEdgePx);
    return {factor, width, height};
}

// The JPEG and HEIF plane decoders hold their planes and the result whole,
// and only shrink: larger outputs, and enlargements, go through libvips.
bool suitsPlaneDecoders(const vips::VImage& header, const DecodedSize& size,
                        std::int64_t longEdgePx) {
    return std::max(header.width(), header.height()) > longEdgePx &&
           std::int64_t(size.width) * size.height <= planeResamplerMaximumPixels;
}

} // namespace

namespace ImageIOResizer {

int loadShrinkFactor(std::int64_t width, std::int64_t height, std::int64_t targetLongEdge) {
    // libvips' shrink-on-load drops a partial last pixel: a side shrunk to
    // nothing would make an image no operation accepts.
    const std::int64_t longEdge = std::max(width, height);
    const std::int64_t shortEdge = std::min(width, height);
    int factor = 1;
    while (factor < 8 && longEdge / (factor * 2) >= targetLongEdge && shortEdge / (factor * 2) >= 1)
        factor *= 2;
    return factor;
}

FileConversion::SourceInfo inspect(ByteSpan source) {
    const OpenedSource opened = openSource(source);
    try {
        const vips::VImage header = load(opened);
        FileConversion::SourceInfo result;
        result.width = header.width();
        result.height = header.height();
        if (const std::optional<int> orientation = orientationOf(header);
            orientation && *orientation >= 5 && *orientation <= 8)
            std::swap(result.width, result.height);
        result.bytesPerPixel = header.bands() * int(vips_format_sizeof(header.format()));
        // libjpeg holds a progressive JPEG whole as coefficients, two bytes
        // each, up to one per sample.
        if (header.get_typeof("jpeg-multiscan") == G_TYPE_INT && header.get_int("jpeg-multiscan"))
            result.bytesPerPixel = 2 * header.bands();
        return result;
    } catch (const vips::VError&) {
        vips_error_clear();
        if (opened.container == Container::jpeg &&
            JpegIntegrity::check(source) == JpegIntegrity::Verdict::unsupported)
            throw ResizeError(ResizeError::unsupportedKind);
        throw ResizeError(ResizeError::cannotReadProperties);
    }
}

vips::VImage resize(ByteSpan source, std::int64_t longEdgePx) {
    if (!ResizeBudget::withinSizeLimits(longEdgePx, 1))
        throw ResizeError(ResizeError::cannotCreateThumbnail);
    const OpenedSource opened = openSource(source);
    try {
        vips::VImage header = load(opened);
        if (!ResizeBudget::withinSizeLimits(header.width(), header.height()))
            throw ResizeError(ResizeError::cannotCreateThumbnail);

        vips::VImage image;
        const std::int64_t longEdge = std::max(header.width(), header.height());
        const auto [factor, width, height] = decodedSize(header, opened.container, longEdgePx);
        const bool planeDecoders = suitsPlaneDecoders(header, {factor, width, height}, longEdgePx);
        if (opened.container == Container::jpeg && planeDecoders) {
            if (auto decoded = ScaledJpegDecoder::decode(source, header, factor, width, height))
                image = upright(*decoded); // in memory already, and smaller than the source
        }
        // Upright already: libheif applies the file's turns and mirrors.
        if (opened.container == Container::heif && planeDecoders) {
            if (auto decoded = HeifPlaneDecoder::decode(source, header, width, height))
                image = *decoded;
        }
        if (opened.container == Container::png && longEdge > longEdgePx &&
            suitsPlaneResampler(header)) {
            if (vips::VImage decoded = PngCodec::decodeResized(source, header, width, height);
                decoded.get_image())
                image = upright(decoded); // in memory already, and smaller than the source
        }
        if (!image.get_image()) {
            if (opened.container == Container::jpeg)
                requireWholeJpeg(source);
            vips::VImage decoded = header;
            if (factor > 1) {
                // Its own source: the header's load holds the first one's position.
                const OpenedSource again{sourceOver(source), opened.container};
                decoded = opened.container == Container::jpeg
                              ? load(again, vips::VImage::option()->set("shrink", factor))
                              : load(again, vips::VImage::option()->set("scale", 1.0 / factor));
            }
            image = scaleToLongEdge(decoded, longEdgePx);
            if (pixelBytes(image) <= ResizeBudget::wholeImageBytes) {
                // Decoded here, once: a file that cannot be decoded fails now, not
                // later while encoding. Rotating after the downscale touches far
                // fewer pixels, and the long edge is the same either way round.
                image = upright(image.copy_memory());
            } else if (turnsOrFlipsRows(header)) {
                // Turning needs the whole image: turn the smaller side in memory.
                image = pixelBytes(decoded) < pixelBytes(image)
                            ? scaleToLongEdge(decoded.copy_memory().autorot(), longEdgePx)
                            : image.copy_memory().autorot();
            }
            // Otherwise the image stays a pipeline: the encoder pulls it through
            // the decoder and the resampler a strip at a time.
        }
        ownMetadataBlobs(image); // while the loader's image still lives
        return image;
    } catch (const vips::VError&) {
        vips_error_clear();
        throw ResizeError(ResizeError::cannotCreateThumbnail);
    } catch (const ResizeError& error) {
        if (tellsItsOwnStory(error))
            throw;
        throw ResizeError(ResizeError::cannotCreateThumbnail);
    }
}

std::optional<ResizedYCbCr> resizeToYCbCr(ByteSpan source, std::int64_t longEdgePx,
                                          bool chromaHalved) {
    if (!ResizeBudget::withinSizeLimits(longEdgePx, 1))
        return std::nullopt;
    try {
        const OpenedSource opened = openSource(source);
        if (opened.container != Container::jpeg)
            return std::nullopt;
        vips::VImage header = load(opened);
        // The decoder and sizes resize() picks for the same file.
        const DecodedSize size = decodedSize(header, opened.container, longEdgePx);
        if (!ResizeBudget::withinSizeLimits(header.width(), header.height()) || isTurned(header) ||
            !suitsPlaneDecoders(header, size, longEdgePx))
            return std::nullopt;
        std::optional<ScaledJpegDecoder::YCbCrPlanes> planes = ScaledJpegDecoder::decodeYCbCr(
            source, header, size.factor, size.width, size.height, chromaHalved);
        if (!planes)
            return std::nullopt;
        ownMetadataBlobs(header);
        return ResizedYCbCr{std::move(*planes), std::move(header)};
    } catch (const vips::VError&) {
        vips_error_clear();
    } catch (const ResizeError& error) {
        if (error.errorCase() == ResizeError::damagedImageData)
            throw;
    }
    return std::nullopt; // resize() tells what is wrong
}

vips::VImage shrunkTo(const vips::VImage& image, std::int64_t longEdgePx) {
    try {
        return scaleToLongEdge(image, longEdgePx).copy_memory();
    } catch (const vips::VError&) {
        vips_error_clear();
        throw ResizeError(ResizeError::cannotCreateThumbnail);
    }
}

} // namespace ImageIOResizer
