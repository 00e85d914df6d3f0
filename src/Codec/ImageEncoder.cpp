// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ImageEncoder.h"

#include "Codec/ContainerWalk.h"
#include "Codec/Metadata.h"
#include "Codec/MetadataEdits.h"
#include "Codec/PngCodec.h"
#include "Codec/ScaledJpegDecoder.h"
#include "Models/Errors.h"
#include "Runtime/Deleter.h"
#include "Runtime/ProcessLimits.h"

#include <libheif/heif.h>
#include <webp/mux.h>

#include <unistd.h>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// PNG too large for PngCodec to hold: zlib level 1 with every row
// "up"-filtered. On photos at 1280 px (bench/) that is 7% smaller than level
// 6 without filters, libvips' default, and a third of its time.
constexpr int pngCompressionLevel = 1;
constexpr VipsForeignPngFilter pngFilter = VIPS_FOREIGN_PNG_FILTER_UP;
// JPEG: Huffman tables made for the image rather than the standard ones, 2.6%
// smaller at 1280 px for 7% more encoding time (0.5 ms). libjpeg then holds
// every DCT coefficient, two bytes a sample, until the end: only up to 8 MP,
// where that stays within the working set. Progressive would save 2.4% more
// but takes 3.6 times as long to encode.
constexpr std::int64_t optimizedJpegMaximumPixels = 8'000'000;
// From this quality up JPEG chroma keeps every sample, as libvips' saver does.
constexpr int chromaKeptFromQuality = 90;
// x265 speed preset for HEIC. At 1280 px "ultrafast" costs a quarter of
// "fast" for 4% more bytes; its default, "slow", takes seconds per photo.
constexpr const char* heicEncoderPreset = "ultrafast";
// aom speed for AVIF, 0 (slowest) to 9. A 12-MP photo at 1920 px takes 0.35 s
// of CPU at 9, twice that at 8 for no fewer bytes, and 1.3 s at libheif's
// default, 6, for 4% fewer; at 9 it is a quarter smaller than JPEG at the
// same quality setting.
constexpr int avifEncoderSpeed = 9;
// The largest pictures HEVC (level 6.2) and AV1 (level 6.3) define. Beyond
// them an image must be a grid of tiles, which the libheif of this platform
// (1.15) cannot write; aom holds some 20 bytes per pixel as it is.
constexpr std::int64_t heifMaximumPixels = 35651584;
constexpr int heicMaximumSide = 16888;
constexpr int avifMaximumSide = 16384;
// WebP's own limit on either side.
constexpr int webpMaximumSide = 16383;

using HeifContext = std::unique_ptr<heif_context, Deleter<heif_context_free>>;
using HeifImage = std::unique_ptr<heif_image, Deleter<heif_image_release>>;
using HeifEncoder = std::unique_ptr<heif_encoder, Deleter<heif_encoder_release>>;
using HeifHandle = std::unique_ptr<heif_image_handle, Deleter<heif_image_handle_release>>;
using HeifOptions = std::unique_ptr<heif_encoding_options, Deleter<heif_encoding_options_free>>;
void unrefBlob(VipsBlob* blob) {
    vips_area_unref(VIPS_AREA(blob));
}

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

// The image's colour profile; empty where it has none.
ByteSpan profileOf(const vips::VImage& image) {
    if (!image.get_typeof(VIPS_META_ICC_NAME))
        return {};
    size_t size = 0;
    const void* icc = image.get_blob(VIPS_META_ICC_NAME, &size);
    return {static_cast<const unsigned char*>(icc), size};
}

// The pixels with only what libvips is to write besides them: the colour
// profile, the resolution and orientation 1. Every other block (Exif, XMP,
// IPTC, comments, PNG text) is the metadata policy's, applied afterwards.
vips::VImage pixelsOnly(const vips::VImage& source) {
    vips::VImage image = source.copy();
    // libvips 8.16 lists the header fields too (resolution, interpretation):
    // they are the image's own, not metadata, and stay.
    static const vips::VImage blank = vips::VImage::black(1, 1);
    std::unique_ptr<gchar*, Deleter<g_strfreev>> fields(vips_image_get_fields(image.get_image()));
    for (gchar** field = fields.get(); *field; ++field) {
        if (std::strcmp(*field, VIPS_META_ICC_NAME) != 0 &&
            std::strcmp(*field, VIPS_META_RESOLUTION_UNIT) != 0 && !blank.get_typeof(*field))
            vips_image_remove(image.get_image(), *field);
    }
    image.set(VIPS_META_ORIENTATION, 1);
    // A profile followed by padding, which HEIF files may carry: PNG writers
    // refuse one longer than its header says.
    const ByteSpan profile = profileOf(image);
    const size_t declared = profile.size() < 128 ? 0 : ContainerWalk::read32(profile.data());
    if (declared >= 128 && declared < profile.size())
        vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, profile.data(), declared);
    return image;
}

// The savers' own options. Since libvips 8.15 they write an Exif block of
// their own unless told to keep only the colour profile; the policy adds
// what is to be kept afterwards.
vips::VOption* saverOptions() {
    vips::VOption* options = vips::VImage::option();
#if VIPS_MAJOR_VERSION > 8 || (VIPS_MAJOR_VERSION == 8 && VIPS_MINOR_VERSION >= 15)
    options->set("keep", int(VIPS_FOREIGN_KEEP_ICC));
#endif
    return options;
}

// libvips' own "unknown": 1 pixel per millimetre.
int dotsPerInch(double pixelsPerMillimetre) {
    return pixelsPerMillimetre == 1.0 ? 0 : int(std::lround(pixelsPerMillimetre * 25.4));
}

// Classic TIFF addresses at most 4 GiB; deflate may not shrink noise much.
bool needsBigTiff(const vips::VImage& image) {
    constexpr double classicLimit = 3.5 * 1024 * 1024 * 1024;
    return double(image.width()) * image.height() * image.bands() *
               double(vips_format_sizeof(image.format())) >
           classicLimit;
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

QByteArray bytesOf(VipsBlob* rawBlob) {
    // The returned blob holds our one reference. Asking for "buffer" as an
    // option as well would take a second one that nothing releases.
    std::unique_ptr<VipsBlob, Deleter<unrefBlob>> blob(rawBlob);
    size_t size = 0;
    const void* data = vips_blob_get(blob.get(), &size);
    return QByteArray(static_cast<const char*>(data), qsizetype(size));
}

// Passes an encoded JPEG or PNG on to a descriptor as libvips writes it,
// holding back only its header until it is complete, so that the metadata
// policy rewrites the header without the whole file ever being in memory.
class HeaderRewritingTarget {
public:
    using Rewrite = std::function<QByteArray(const QByteArray&)>;
    HeaderRewritingTarget(int fd, OutputType type, Rewrite rewrite)
        : m_fd(fd), m_type(type), m_rewrite(std::move(rewrite)),
          m_target(VIPS_TARGET(vips_target_custom_new())) {
        g_signal_connect(m_target.get_target(), "write", G_CALLBACK(&HeaderRewritingTarget::write),
                         this);
    }
    const vips::VTarget& target() const { return m_target; }
    // After the encoder is done: a header that never completed goes out rewritten as it is.
    void finish() {
        if (!m_passing)
            pass();
    }
    // After the encoder failed: the error that made this target refuse its bytes, if any.
    void rethrow() const {
        if (m_error)
            throw *m_error;
    }

private:
    static gint64 write(VipsTargetCustom*, const void* data, gint64 length, void* self) {
        try {
            static_cast<HeaderRewritingTarget*>(self)->take(static_cast<const char*>(data),
                                                            size_t(length));
            return length;
        } catch (const EncoderError& error) {
            static_cast<HeaderRewritingTarget*>(self)->m_error = error;
            return -1;
        }
    }
    void take(const char* data, size_t length) {
        if (m_passing)
            return writeAll(m_fd, data, length);
        m_header.append(data, qsizetype(length));
        if (MetadataEdits::holdsWholeHeader(
                {reinterpret_cast<const unsigned char*>(m_header.constData()),
                 size_t(m_header.size())},
                m_type == OutputType::png))
            pass();
    }
    void pass() {
        const QByteArray rewritten = m_rewrite(m_header);
        writeAll(m_fd, rewritten.constData(), size_t(rewritten.size()));
        m_header = {};
        m_passing = true;
    }

    int m_fd;
    OutputType m_type;
    Rewrite m_rewrite;
    vips::VTarget m_target;
    QByteArray m_header;
    bool m_passing = false;
    std::optional<EncoderError> m_error;
};

// Copies the rows libvips computes, strip by strip, into `plane`.
struct PlaneSink {
    uint8_t* plane;
    size_t stride;
    size_t pixelBytes;
    static int write(VipsRegion* region, VipsRect* area, void* a) {
        const auto* sink = static_cast<const PlaneSink*>(a);
        for (int y = area->top; y < area->top + area->height; ++y)
            std::memcpy(
                sink->plane + size_t(y) * sink->stride + size_t(area->left) * sink->pixelBytes,
                VIPS_REGION_ADDR(region, area->left, y), size_t(area->width) * sink->pixelBytes);
        return 0;
    }
};

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

// libjpeg's compressor, whose errors jump to `exit` rather than end the
// process. Started by begin(), after the caller's setjmp.
struct Compressor {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf exit{};
    bool created = false;
    unsigned char* output = nullptr; // libjpeg's, malloc'd
    unsigned long outputSize = 0;

    Compressor() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr common) {
            std::longjmp(static_cast<Compressor*>(common->client_data)->exit, 1);
        };
        errors.emit_message = [](j_common_ptr, int) {};
        info.client_data = this;
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    // Into memory, with libvips' saver's settings. Only after the caller's
    // setjmp: libjpeg's errors jump there.
    void begin(int width, int height, int components, J_COLOR_SPACE space, int quality,
               bool optimized) {
        jpeg_create_compress(&info);
        created = true;
        jpeg_mem_dest(&info, &output, &outputSize);
        info.image_width = JDIMENSION(width);
        info.image_height = JDIMENSION(height);
        info.input_components = components;
        info.in_color_space = space;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, quality, TRUE);
        info.optimize_coding = optimized ? TRUE : FALSE;
    }
    // With the sampling set: the headers, and the profile as libvips writes it.
    void start(ByteSpan profile) {
        jpeg_start_compress(&info, TRUE);
        if (!profile.empty())
            jpeg_write_icc_profile(&info, profile.data(), unsigned(profile.size()));
    }
    ~Compressor() {
        if (created)
            jpeg_destroy_compress(&info);
        std::free(output);
    }
};

// Everything between the setjmp and the end is plain data: libjpeg's error
// exit jumps over it.
bool compress(Compressor& compressor, const std::uint8_t* const* rows, int width, int height,
              int bands, int quality, bool optimized, ByteSpan profile) {
    jpeg_compress_struct& info = compressor.info;
    if (setjmp(compressor.exit))
        return false;
    compressor.begin(width, height, bands, bands == 1 ? JCS_GRAYSCALE : JCS_RGB, quality,
                     optimized);
    // As libvips' saver does by default: no chroma subsampling from 90 up.
    if (bands == 3 && quality >= chromaKeptFromQuality) {
        for (int c = 0; c < 3; ++c)
            info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    }
    compressor.start(profile);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows[info.next_scanline]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

// As compress(), from planes already in the output's colour space and
// sampling, which libjpeg then takes as they are.
bool compressRaw(Compressor& compressor, const ScaledJpegDecoder::YCbCrPlanes& image, int quality,
                 bool optimized, ByteSpan profile) {
    jpeg_compress_struct& info = compressor.info;
    if (setjmp(compressor.exit))
        return false;
    compressor.begin(image.width, image.height, 3, JCS_YCbCr, quality, optimized);
    info.raw_data_in = TRUE;
    const int lumaSampling = image.chromaHalved ? 2 : 1;
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = lumaSampling;
    for (int c = 1; c < 3; ++c)
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    compressor.start(profile);
    // One row of blocks of each plane per call, of luma two when chroma is
    // halved; rows past a plane's end are never read, but must point somewhere.
    std::array<std::array<JSAMPROW, 2 * DCTSIZE>, 3> rows{};
    std::array<JSAMPARRAY, 3> planes{rows[0].data(), rows[1].data(), rows[2].data()};
    for (int band = 0; info.next_scanline < info.image_height; ++band) {
        for (int c = 0; c < 3; ++c) {
            const Plane& plane = image.planes[size_t(c)];
            const int count = (c == 0 ? lumaSampling : 1) * DCTSIZE;
            for (int y = 0; y < count; ++y)
                rows[size_t(c)][size_t(y)] =
                    const_cast<JSAMPROW>(plane.row(std::min(band * count + y, plane.height() - 1)));
        }
        if (jpeg_write_raw_data(&info, planes.data(), JDIMENSION(lumaSampling * DCTSIZE)) == 0)
            return false;
    }
    jpeg_finish_compress(&info);
    return true;
}

// Up to this many bytes of pixels a JPEG is compressed here, into memory.
constexpr std::int64_t largestDirectJpegPixels = 16 * 1024 * 1024;

// 8-bit grey or RGB compressed by libjpeg straight from the pixels, with the
// same settings libvips' saver uses and without its pipeline around it: a
// third less time at 1280 px. The colour profile goes in as libvips writes
// it; the density and every other block are the policy's. Empty for any
// other image, which libvips' saver then streams.
// `pixels` are read for the rows; `image`, the same pixels with the metadata
// to write, gives the profile.
QByteArray jpegBytes(const vips::VImage& pixels, const vips::VImage& image, int quality,
                     bool optimized) {
    const int bands = pixels.bands();
    if (pixels.format() != VIPS_FORMAT_UCHAR || (bands != 1 && bands != 3) ||
        std::int64_t(pixels.width()) * pixels.height() * bands > largestDirectJpegPixels ||
        (bands == 3) != (pixels.interpretation() == VIPS_INTERPRETATION_sRGB))
        return {};
    const vips::VRegion region = vips::VRegion::new_from_image(pixels);
    region.prepare(0, 0, pixels.width(), pixels.height());
    std::vector<const std::uint8_t*> rows(static_cast<size_t>(pixels.height()));
    for (int y = 0; y < pixels.height(); ++y)
        rows[size_t(y)] = reinterpret_cast<const std::uint8_t*>(region.addr(0, y));
    Compressor compressor;
    if (!compress(compressor, rows.data(), pixels.width(), pixels.height(), bands, quality,
                  optimized, profileOf(image)))
        return {};
    return QByteArray(reinterpret_cast<const char*>(compressor.output),
                      qsizetype(compressor.outputSize));
}

// A JPEG compressed here, written out with the density of `image` (the
// pixels' own, or the source's) and the metadata policy's blocks.
void writeJpeg(const QByteArray& jpeg, const vips::VImage& image, int width, int height,
               const SourceMetadata& metadata, int fd, bool preserveExif) {
    const QByteArray bytes = Metadata::applied(
        MetadataEdits::jpegWithDensity(jpeg, dotsPerInch(image.xres()), dotsPerInch(image.yres())),
        OutputType::jpeg, metadata, preserveExif, width, height);
    writeAll(fd, bytes.constData(), size_t(bytes.size()));
}

// libvips' HEIF writer adds an EXIF block whether asked or not, so HEIC and
// AVIF are written with libheif directly.
void encodeHeif(vips::VImage image, int fd, OutputType type, double quality,
                const SourceMetadata* metadata) {
    const bool avif = type == OutputType::avif;
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.bands() < 3)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR)
        image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() > 4)
        image = image.extract_band(0, vips::VImage::option()->set("n", 4));
    const bool alpha = image.bands() == 4;
    const int width = image.width();
    const int height = image.height();

    const int maximumSide = avif ? avifMaximumSide : heicMaximumSide;
    if (std::int64_t(width) * height > heifMaximumPixels || width > maximumSide ||
        height > maximumSide)
        throw EncoderError(avif ? EncoderError::tooLargeForAvif : EncoderError::tooLargeForHeic);

    HeifContext context(heif_context_alloc());
    heif_image* rawImage = nullptr;
    check(heif_image_create(width, height, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            &rawImage));
    HeifImage heifImage(rawImage);
    check(heif_image_add_plane(heifImage.get(), heif_channel_interleaved, width, height, 8));
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(heifImage.get(), heif_channel_interleaved, &stride);
    // Straight from the pipeline into the plane: no second copy of the image.
    PlaneSink sink{plane, size_t(stride), size_t(image.bands())};
    if (vips_sink_disc(image.get_image(), &PlaneSink::write, &sink) != 0)
        throw vips::VError();
    if (const ByteSpan profile = profileOf(image); !profile.empty())
        check(heif_image_set_raw_color_profile(heifImage.get(), "prof", profile.data(),
                                               profile.size()));

    heif_encoder* rawEncoder = nullptr;
    check(heif_context_get_encoder_for_format(
        context.get(), avif ? heif_compression_AV1 : heif_compression_HEVC, &rawEncoder));
    HeifEncoder encoder(rawEncoder);
    check(heif_encoder_set_lossy_quality(encoder.get(), ImageEncoder::encoderQuality(quality)));
    if (avif) {
        // Files already run side by side, one per core.
        check(heif_encoder_set_parameter_integer(encoder.get(), "speed", avifEncoderSpeed));
        check(heif_encoder_set_parameter_integer(encoder.get(), "threads", 1));
    } else {
        heif_encoder_set_parameter_string(encoder.get(), "preset", heicEncoderPreset);
        // x265 codes rows in wavefronts on a pool of threads, as the decoder
        // decodes them (5 photos on 2 cores: 4% less time). The pool asks
        // libnuma to place its threads, which a worker refuses: no harm.
        const int threads = ProcessLimits::hevcThreads();
        heif_encoder_set_parameter_string(encoder.get(), "x265:pools",
                                          threads > 1 ? std::to_string(threads).c_str() : "none");
    }

    HeifOptions options(heif_encoding_options_alloc());
    options->save_alpha_channel = alpha;
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_encode_image(context.get(), heifImage.get(), encoder.get(), options.get(),
                                    &rawHandle));
    HeifHandle handle(rawHandle);

    if (metadata) {
        const Metadata::Payloads payloads = Metadata::payloads(*metadata, width, height);
        if (!payloads.exif.isEmpty())
            check(heif_context_add_exif_metadata(
                context.get(), handle.get(), payloads.exif.constData(), int(payloads.exif.size())));
        if (!payloads.xmp.isEmpty())
            check(heif_context_add_XMP_metadata(
                context.get(), handle.get(), payloads.xmp.constData(), int(payloads.xmp.size())));
    }

    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = writeToDescriptor;
    int descriptor = fd;
    check(heif_context_write(context.get(), &writer, &descriptor));
}

using WebPMuxPtr = std::unique_ptr<WebPMux, Deleter<WebPMuxDelete>>;

void checkMux(WebPMuxError error) {
    if (error != WEBP_MUX_OK)
        throw EncoderError(EncoderError::finalizeFailed);
}

// libvips' WebP writer adds an EXIF chunk of its own before 8.15: it writes
// the pixels and the colour profile, and the chunks are set here.
void encodeWebp(const vips::VImage& image, int fd, double quality, const SourceMetadata* metadata) {
    if (image.width() > webpMaximumSide || image.height() > webpMaximumSide)
        throw EncoderError(EncoderError::tooLargeForWebp);
    const QByteArray encoded = bytesOf(
        image.webpsave_buffer(saverOptions()->set("Q", ImageEncoder::encoderQuality(quality))));
    const auto webpData = [](const QByteArray& bytes) {
        return WebPData{reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
    };
    const WebPData input = webpData(encoded);
    WebPMuxPtr mux(WebPMuxCreate(&input, 0));
    if (!mux)
        throw EncoderError(EncoderError::finalizeFailed);
    for (const char* chunk : {"EXIF", "XMP "}) {
        const WebPMuxError deleted = WebPMuxDeleteChunk(mux.get(), chunk);
        if (deleted != WEBP_MUX_NOT_FOUND)
            checkMux(deleted);
    }
    if (metadata) {
        const Metadata::Payloads payloads =
            Metadata::payloads(*metadata, image.width(), image.height());
        // Both copied: the payloads go before the mux does.
        if (!payloads.exif.isEmpty()) {
            const WebPData exif = webpData(payloads.exif);
            checkMux(WebPMuxSetChunk(mux.get(), "EXIF", &exif, 1));
        }
        if (!payloads.xmp.isEmpty()) {
            const WebPData xmp = webpData(payloads.xmp);
            checkMux(WebPMuxSetChunk(mux.get(), "XMP ", &xmp, 1));
        }
    }
    WebPData output{};
    checkMux(WebPMuxAssemble(mux.get(), &output));
    const std::unique_ptr<WebPData, Deleter<WebPDataClear>> assembled(&output);
    writeAll(fd, output.bytes, output.size);
}

void encodeAs(const vips::VImage& pixels, const SourceMetadata& metadata, int fd, OutputType type,
              double quality, bool preserveExif) {
    const vips::VImage image = pixelsOnly(pixels);
    // The encoders that read rows themselves read them from `pixels`, held
    // in memory as a rule: `image` is a copy stage over them, which a reader
    // would render into a new buffer first.
    const auto policy = [&](QByteArray encoded) { // its one holder: a TIFF is the whole image
        return Metadata::applied(std::move(encoded), type, metadata, preserveExif, image.width(),
                                 image.height());
    };
    // JPEG and PNG stream to the file; the policy rewrites only their header.
    const auto streamed = [&](const vips::VImage& pixels, auto save, vips::VOption* options,
                              HeaderRewritingTarget::Rewrite rewrite) {
        HeaderRewritingTarget target(fd, type, std::move(rewrite));
        try {
            (pixels.*save)(target.target(), options);
        } catch (const vips::VError&) {
            vips_error_clear();
            target.rethrow();
            throw;
        }
        target.finish();
    };
    switch (type) {
    case OutputType::jpeg: {
        const int xDensity = dotsPerInch(image.xres());
        const int yDensity = dotsPerInch(image.yres());
        const vips::VImage flat = flattenedOntoWhite(image);
        const int encoderQuality = ImageEncoder::encoderQuality(quality);
        const bool optimized =
            std::int64_t(image.width()) * image.height() <= optimizedJpegMaximumPixels;
        if (const QByteArray jpeg =
                jpegBytes(image.has_alpha() ? flat : pixels, image, encoderQuality, optimized);
            !jpeg.isEmpty()) {
            writeJpeg(jpeg, image, image.width(), image.height(), metadata, fd, preserveExif);
            return;
        }
        // libvips writes the density into its Exif block only, which the policy replaces.
        streamed(flat, &vips::VImage::jpegsave_target,
                 saverOptions()->set("Q", encoderQuality)->set("optimize_coding", optimized),
                 [&](const QByteArray& header) {
                     return policy(MetadataEdits::jpegWithDensity(header, xDensity, yDensity));
                 });
        return;
    }
    case OutputType::png:
        if (QByteArray png = PngCodec::encode(pixels, image); !png.isEmpty()) {
            const QByteArray bytes = policy(std::move(png));
            writeAll(fd, bytes.constData(), size_t(bytes.size()));
            return;
        }
        streamed(image, &vips::VImage::pngsave_target,
                 saverOptions()->set("compression", pngCompressionLevel)->set("filter", pngFilter),
                 policy);
        return;
    case OutputType::tiff: {
        vips::VOption* options = saverOptions()
                                     ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE)
                                     ->set("predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL)
                                     ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH)
                                     ->set("bigtiff", needsBigTiff(image));
        // A TIFF's metadata live in directories that may follow the pixels, so
        // only a TIFF that keeps them is held whole; without them it streams.
        if (preserveExif) {
            const QByteArray bytes = policy(bytesOf(image.tiffsave_buffer(options)));
            writeAll(fd, bytes.constData(), size_t(bytes.size()));
        } else {
            image.tiffsave_target(vips::VTarget::new_to_descriptor(fd), options);
        }
        return;
    }
    case OutputType::heic:
    case OutputType::avif:
        encodeHeif(image, fd, type, quality, preserveExif ? &metadata : nullptr);
        return;
    case OutputType::webp:
        encodeWebp(image, fd, quality, preserveExif ? &metadata : nullptr);
        return;
    }
}

} // namespace

namespace ImageEncoder {

int encoderQuality(double quality) {
    const double clamped = std::min(quality >= 0.0 ? quality : 0.0, 1.0);
    return std::clamp(int(std::lround(clamped * 100.0)), 1, 100);
}

bool halvesJpegChroma(double quality) {
    return encoderQuality(quality) < chromaKeptFromQuality;
}

bool encodeJpeg(const ScaledJpegDecoder::YCbCrPlanes& planes, const vips::VImage& header,
                const SourceMetadata& metadata, int fd, double quality, bool preserveExif) {
    if (preserveExif && metadata.unreadable)
        throw EncoderError(EncoderError::metadataUnreadable);
    if (planes.planes.size() != 3 || planes.chromaHalved != halvesJpegChroma(quality))
        return false;
    try {
        const vips::VImage image = pixelsOnly(header);
        Compressor compressor;
        if (!compressRaw(compressor, planes, encoderQuality(quality),
                         std::int64_t(planes.width) * planes.height <= optimizedJpegMaximumPixels,
                         profileOf(image)))
            return false;
        writeJpeg(QByteArray::fromRawData(reinterpret_cast<const char*>(compressor.output),
                                          qsizetype(compressor.outputSize)),
                  image, planes.width, planes.height, metadata, fd, preserveExif);
        return true;
    } catch (const vips::VError&) {
        vips_error_clear();
        throw EncoderError(EncoderError::finalizeFailed);
    }
}

void encode(const vips::VImage& image, const SourceMetadata& metadata, int fd, OutputType type,
            double quality, bool preserveExif) {
    if (preserveExif && metadata.unreadable)
        throw EncoderError(EncoderError::metadataUnreadable);
    try {
        encodeAs(image, metadata, fd, type, quality, preserveExif);
    } catch (const vips::VError&) {
        vips_error_clear();
        throw EncoderError(EncoderError::finalizeFailed);
    }
}

} // namespace ImageEncoder
