// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/HevcDecoder.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

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

struct ImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

// The decoded picture's planes copied into a libheif image, with the colour
// description its bitstream gives (libheif prefers the file's own, if any).
heif_error toHeifImage(const de265_image* picture, heif_image** out) {
    const bool mono = de265_get_chroma_format(picture) == de265_chroma_mono;
    heif_image* created = nullptr;
    heif_error error =
        heif_image_create(de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
                          mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                          static_cast<heif_chroma>(de265_get_chroma_format(picture)), &created);
    if (error.code != heif_error_Ok)
        return error;
    std::unique_ptr<heif_image, ImageRelease> image(created);
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
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (nclx) {
        // A value libheif does not know leaves its default in place.
        heif_nclx_color_profile_set_color_primaries(
            nclx, std::uint16_t(de265_get_image_colour_primaries(picture)));
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, std::uint16_t(de265_get_image_transfer_characteristics(picture)));
        heif_nclx_color_profile_set_matrix_coefficients(
            nclx, std::uint16_t(de265_get_image_matrix_coefficients(picture)));
        nclx->full_range_flag = std::uint8_t(de265_get_image_full_range_flag(picture) != 0);
        heif_image_set_nclx_color_profile(image.get(), nclx);
        heif_nclx_color_profile_free(nclx);
    }
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
