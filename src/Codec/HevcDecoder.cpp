// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/HevcDecoder.h"

#include "Runtime/Deleter.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Above libheif's own libde265 plugin (100), so that this one is chosen.
constexpr int priority = 150;
int workerThreads = 1;
bool registered = false;

// libheif passes a plugin's message on within its own.
constexpr const char* damagedMessage = "HEVC data damaged or cut short";

// Warnings about the decoder's own set-up rather than the data.
bool isBenign(de265_error warning) {
    return warning == DE265_WARNING_NO_WPP_CANNOT_USE_MULTITHREADING ||
           warning == DE265_WARNING_WARNING_BUFFER_FULL ||
           warning == DE265_WARNING_NUMBER_OF_THREADS_LIMITED_TO_MAXIMUM;
}

heif_error success() {
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error failure(heif_suberror_code code, const char* message) {
    return {heif_error_Decoder_plugin_error, code, message};
}

struct Decoder {
    de265_decoder_context* context = nullptr;
    ~Decoder() {
        if (context)
            de265_free_decoder(context);
    }
};

using Image = std::unique_ptr<heif_image, Deleter<heif_image_release>>;
using Nclx = std::unique_ptr<heif_color_profile_nclx, Deleter<heif_nclx_color_profile_free>>;

thread_local HevcDecoder::RgbPictures* rgbPictures = nullptr;

// libheif 1.15's own YCbCr to RGB conversion, rewritten for speed but to the
// same bits: its coefficients, its float arithmetic in its order, and each
// chroma sample for the pixels it covers. Matrices it converts another way
// (identity, YCgCo, chromaticity-derived) are left to it.
struct RgbCoefficients {
    float rCr, gCb, gCr, bCb;
};

std::optional<RgbCoefficients> rgbCoefficients(std::uint16_t matrix) {
    float kr = 0.0f;
    float kb = 0.0f;
    switch (matrix) {
    case 0:
    case 8:
    case 12:
    case 13:
        return std::nullopt;
    case 1:
        kr = 0.2126f, kb = 0.0722f;
        break;
    case 4:
        kr = 0.30f, kb = 0.11f;
        break;
    case 5:
    case 6:
        kr = 0.299f, kb = 0.114f;
        break;
    case 7:
        kr = 0.212f, kb = 0.087f;
        break;
    case 9:
    case 10:
        kr = 0.2627f, kb = 0.0593f;
        break;
    default: // unspecified: BT.601
        return RgbCoefficients{1.402f, -0.344136f, -0.714136f, 1.772f};
    }
    return RgbCoefficients{2 * (-kr + 1), 2 * kb * (-kb + 1) / (kb + kr - 1),
                           2 * kr * (-kr + 1) / (kb + kr - 1), 2 * (-kb + 1)};
}

inline std::uint8_t rounded(float value) {
    const int v = int(value + 0.5f);
    return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Each chroma sample's share of R, G and B, for the pixels it covers.
struct ChromaTerms {
    std::vector<float> red, greenFromBlue, greenFromRed, blue, perSample;
    explicit ChromaTerms(int width)
        : red(size_t(width) + 1), greenFromBlue(size_t(width) + 1), greenFromRed(size_t(width) + 1),
          blue(size_t(width) + 1), perSample(size_t(width) + 1) {}
};

// `samples` chroma samples across, each covering 1 << `shift` pixels.
void chromaTerms(const std::uint8_t* __restrict cb, const std::uint8_t* __restrict cr, int samples,
                 int shift, bool fullRange, const RgbCoefficients& k, ChromaTerms& terms) {
    const auto each = [&](std::vector<float>& into, const std::uint8_t* __restrict plane,
                          float coefficient) {
        float* __restrict term = shift == 0 ? into.data() : terms.perSample.data();
        for (int x = 0; x < samples; ++x) {
            float value = float(int(plane[x]) - 128);
            if (!fullRange)
                value = value * 1.1429f;
            term[x] = coefficient * value;
        }
        if (shift != 0) {
            float* __restrict spread = into.data();
            for (int x = 0; x < samples; ++x)
                spread[2 * x] = spread[2 * x + 1] = term[x];
        }
    };
    each(terms.red, cr, k.rCr);
    each(terms.greenFromBlue, cb, k.gCb);
    each(terms.greenFromRed, cr, k.gCr);
    each(terms.blue, cb, k.bCb);
}

template <bool fullRange>
void rgbRow(const std::uint8_t* __restrict y, const ChromaTerms& terms, int width,
            std::uint8_t* __restrict r, std::uint8_t* __restrict g, std::uint8_t* __restrict b) {
    const float* __restrict red = terms.red.data();
    const float* __restrict greenFromBlue = terms.greenFromBlue.data();
    const float* __restrict greenFromRed = terms.greenFromRed.data();
    const float* __restrict blue = terms.blue.data();
    for (int x = 0; x < width; ++x) {
        float luma = float(y[x]);
        if constexpr (!fullRange)
            luma = (luma - 16.0f) * 1.1689f;
        r[x] = rounded(luma + red[x]);
        g[x] = rounded(luma + greenFromBlue[x] + greenFromRed[x]);
        b[x] = rounded(luma + blue[x]);
    }
}

// The picture as libheif's RGB planes, or false where libheif would convert
// it another way.
bool toRgb(const de265_image* picture, const heif_color_profile_nclx& profile, heif_image* image) {
    const de265_chroma chroma = de265_get_chroma_format(picture);
    const std::optional<RgbCoefficients> k = rgbCoefficients(profile.matrix_coefficients);
    if (!k || chroma == de265_chroma_mono)
        return false;
    for (int c = 0; c < 3; ++c)
        if (de265_get_bits_per_pixel(picture, c) != 8)
            return false;
    const int width = de265_get_image_width(picture, 0);
    const int height = de265_get_image_height(picture, 0);
    const int shiftH = chroma == de265_chroma_444 ? 0 : 1;
    const int shiftV = chroma == de265_chroma_420 ? 1 : 0;
    if (de265_get_image_width(picture, 1) < (width + shiftH) >> shiftH ||
        de265_get_image_height(picture, 1) < (height + shiftV) >> shiftV)
        return false;
    int strides[3] = {};
    const std::uint8_t* planes[3] = {};
    for (int c = 0; c < 3; ++c)
        planes[c] = de265_get_image_plane(picture, c, &strides[c]);
    int outStrides[3] = {};
    std::uint8_t* out[3] = {};
    const heif_channel channels[] = {heif_channel_R, heif_channel_G, heif_channel_B};
    for (int c = 0; c < 3; ++c) {
        if (heif_image_add_plane(image, channels[c], width, height, 8).code != heif_error_Ok)
            return false;
        out[c] = heif_image_get_plane(image, channels[c], &outStrides[c]);
    }
    const bool full = profile.full_range_flag != 0;
    ChromaTerms terms(width);
    for (int y = 0; y < height; ++y) {
        const int cy = y >> shiftV;
        if (y == 0 || cy != (y - 1) >> shiftV)
            chromaTerms(planes[1] + std::ptrdiff_t(cy) * strides[1],
                        planes[2] + std::ptrdiff_t(cy) * strides[2], (width + shiftH) >> shiftH,
                        shiftH, full, *k, terms);
        std::uint8_t* rows[3];
        for (int c = 0; c < 3; ++c)
            rows[c] = out[c] + std::ptrdiff_t(y) * outStrides[c];
        (full ? rgbRow<true> : rgbRow<false>)(planes[0] + std::ptrdiff_t(y) * strides[0], terms,
                                              width, rows[0], rows[1], rows[2]);
    }
    return true;
}

// The colour description the bitstream gives.
Nclx streamProfile(const de265_image* picture) {
    Nclx nclx(heif_nclx_color_profile_alloc());
    if (nclx) {
        // A value libheif does not know leaves its default in place.
        heif_nclx_color_profile_set_color_primaries(
            nclx.get(), std::uint16_t(de265_get_image_colour_primaries(picture)));
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx.get(), std::uint16_t(de265_get_image_transfer_characteristics(picture)));
        heif_nclx_color_profile_set_matrix_coefficients(
            nclx.get(), std::uint16_t(de265_get_image_matrix_coefficients(picture)));
        nclx->full_range_flag = std::uint8_t(de265_get_image_full_range_flag(picture) != 0);
    }
    return nclx;
}

// The decoded picture as a libheif image with the colour description its
// bitstream gives (libheif prefers the file's own, if any): in RGB where
// RgbPictures asks for it, otherwise its planes as they are.
heif_error toHeifImage(const de265_image* picture, heif_image** out) {
    const Nclx nclx = streamProfile(picture);
    if (HevcDecoder::RgbPictures* rgb = rgbPictures;
        rgb && nclx && de265_get_image_width(picture, 0) == rgb->width &&
        de265_get_image_height(picture, 0) == rgb->height) {
        heif_image* created = nullptr;
        if (heif_image_create(rgb->width, rgb->height, heif_colorspace_RGB, heif_chroma_444,
                              &created)
                .code == heif_error_Ok) {
            Image image(created);
            if (toRgb(picture, rgb->profile ? *rgb->profile : *nclx, image.get())) {
                heif_image_set_nclx_color_profile(image.get(), nclx.get());
                *out = image.release();
                ++rgb->delivered;
                return success();
            }
        }
    }

    const bool mono = de265_get_chroma_format(picture) == de265_chroma_mono;
    heif_image* created = nullptr;
    heif_error error =
        heif_image_create(de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
                          mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                          static_cast<heif_chroma>(de265_get_chroma_format(picture)), &created);
    if (error.code != heif_error_Ok)
        return error;
    Image image(created);
    const int bits = de265_get_bits_per_pixel(picture, 0);
    constexpr heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        if (de265_get_bits_per_pixel(picture, c) != bits)
            return {heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion,
                    "Channels with different numbers of bits per pixel"};
        const int width = de265_get_image_width(picture, c);
        const int height = de265_get_image_height(picture, c);
        if (width <= 0 || height <= 0)
            return failure(heif_suberror_Invalid_image_size, "");
        error = heif_image_add_plane(image.get(), channels[c], width, height, bits);
        if (error.code != heif_error_Ok)
            return error;
        int fromStride = 0;
        const std::uint8_t* from = de265_get_image_plane(picture, c, &fromStride);
        int toStride = 0;
        std::uint8_t* to = heif_image_get_plane(image.get(), channels[c], &toStride);
        const size_t rowBytes = size_t(width) * size_t((bits + 7) / 8);
        for (int y = 0; y < height; ++y)
            std::memcpy(to + std::ptrdiff_t(y) * toStride, from + std::ptrdiff_t(y) * fromStride,
                        rowBytes);
    }
    if (nclx)
        heif_image_set_nclx_color_profile(image.get(), nclx.get());
    *out = image.release();
    return success();
}

// Interface version 3, libheif 1.15's; members of later versions stay empty.
heif_decoder_plugin makePlugin() {
    heif_decoder_plugin made{};
    made.plugin_api_version = 3;
    made.get_plugin_name = [] { return "libde265 HEVC decoder, threaded"; };
    made.init_plugin = [] { de265_init(); }; // counted: libheif's own plugin may call it too
    made.deinit_plugin = [] { de265_free(); };
    made.does_support_format = [](heif_compression_format format) {
        return format == heif_compression_HEVC ? priority : 0;
    };
    made.new_decoder = [](void** decoder) {
        auto created = std::make_unique<Decoder>();
        created->context = de265_new_decoder();
        if (!created->context)
            return failure(heif_suberror_Unspecified, "libde265 cannot start");
        de265_start_worker_threads(created->context, workerThreads);
        *decoder = created.release();
        return success();
    };
    made.free_decoder = [](void* decoder) { delete static_cast<Decoder*>(decoder); };
    // NAL units, each after its length in four bytes.
    made.push_data = [](void* decoder, const void* data, size_t size) {
        de265_decoder_context* context = static_cast<Decoder*>(decoder)->context;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        for (size_t at = 0; at < size;) {
            if (size - at < 4)
                return failure(heif_suberror_End_of_data, "");
            const std::uint32_t length = std::uint32_t(bytes[at]) << 24 |
                                         std::uint32_t(bytes[at + 1]) << 16 |
                                         std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
            at += 4;
            if (length > size - at)
                return failure(heif_suberror_End_of_data, "");
            if (de265_push_NAL(context, bytes + at, int(length), 0, nullptr) != DE265_OK)
                return failure(heif_suberror_Unspecified, "libde265 refuses the data");
            at += length;
        }
        return success();
    };
    // The last picture the data holds.
    made.decode_image = [](void* decoder, heif_image** out) {
        de265_decoder_context* context = static_cast<Decoder*>(decoder)->context;
        *out = nullptr;
        de265_flush_data(context);
        int more = 0;
        do {
            more = 0;
            if (de265_decode(context, &more) != DE265_OK)
                break;
            if (const de265_image* picture = de265_get_next_picture(context)) {
                if (*out)
                    heif_image_release(std::exchange(*out, nullptr));
                const heif_error error = toHeifImage(picture, out);
                de265_release_next_picture(context);
                if (error.code != heif_error_Ok)
                    return error;
            }
        } while (more);
        bool damaged = false;
        for (de265_error warning = de265_get_warning(context); warning != DE265_OK;
             warning = de265_get_warning(context))
            damaged = damaged || !isBenign(warning);
        if (damaged && *out)
            heif_image_release(std::exchange(*out, nullptr));
        if (damaged)
            return failure(heif_suberror_Unspecified, damagedMessage);
        return *out ? success() : failure(heif_suberror_Unspecified, "no picture decoded");
    };
    made.set_strict_decoding = [](void*, int) {}; // libde265 has no stricter mode
    made.id_name = "burisora-libde265";
    return made;
}

const heif_decoder_plugin plugin = makePlugin();

} // namespace

namespace HevcDecoder {

void useThreads(int threads) {
    workerThreads = threads < 1 ? 1 : threads;
    // Later libheif versions take only plugins of a newer interface.
    if (!libheifAtLeast(19))
        registered = heif_register_decoder_plugin(&plugin).code == heif_error_Ok;
}

heif_decoding_options* decodeOptions() {
    heif_decoding_options* options = heif_decoding_options_alloc();
#if LIBHEIF_HAVE_VERSION(1, 21, 0)
    if (options && libheifAtLeast(21) && options->version >= 8)
        options->num_codec_threads = workerThreads;
#endif
    return options;
}

RgbPictures::RgbPictures(heif_image_handle* handle)
    : width(heif_image_handle_get_ispe_width(handle)),
      height(heif_image_handle_get_ispe_height(handle)) {
    heif_color_profile_nclx* own = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &own).code == heif_error_Ok && own)
        profile = *own;
    heif_nclx_color_profile_free(own);
    if (registered && !libheifAtLeast(19) && !heif_image_handle_has_alpha_channel(handle))
        rgbPictures = this;
}

RgbPictures::~RgbPictures() {
    if (rgbPictures == this)
        rgbPictures = nullptr;
}

bool reportsDamage() {
    return registered;
}

bool libheifAtLeast(int minor) {
    return heif_get_version_number_major() > 1 || heif_get_version_number_minor() >= minor;
}

bool isDamage(const heif_error& error) {
    return error.code == heif_error_Decoder_plugin_error && error.message &&
           std::strstr(error.message, damagedMessage);
}

} // namespace HevcDecoder
