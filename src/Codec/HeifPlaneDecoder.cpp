// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/HeifPlaneDecoder.h"

#include "Codec/HevcDecoder.h"
#include "Codec/PlaneResampler.h"
#include "Models/Errors.h"
#include "Runtime/Deleter.h"

#include <libheif/heif.h>
#include <zimg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Context = std::unique_ptr<heif_context, Deleter<heif_context_free>>;
using Handle = std::unique_ptr<heif_image_handle, Deleter<heif_image_handle_release>>;
using Image = std::unique_ptr<heif_image, Deleter<heif_image_release>>;
using Nclx = std::unique_ptr<heif_color_profile_nclx, Deleter<heif_nclx_color_profile_free>>;
using Options = std::unique_ptr<heif_decoding_options, Deleter<heif_decoding_options_free>>;

// HEVC's matrices as zimg names them; libheif's default where the file
// names none (BT.601, full range).
zimg_matrix_coefficients_e matrixOf(const heif_color_profile_nclx* nclx) {
    switch (nclx ? nclx->matrix_coefficients : heif_matrix_coefficients_ITU_R_BT_601_6) {
    case heif_matrix_coefficients_ITU_R_BT_709_5:
        return ZIMG_MATRIX_BT709;
    case heif_matrix_coefficients_US_FCC_T47:
        return ZIMG_MATRIX_FCC;
    case heif_matrix_coefficients_ITU_R_BT_470_6_System_B_G:
        return ZIMG_MATRIX_BT470_BG;
    case heif_matrix_coefficients_SMPTE_240M:
        return ZIMG_MATRIX_ST240_M;
    case heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance:
        return ZIMG_MATRIX_BT2020_NCL;
    case heif_matrix_coefficients_unspecified:
    case heif_matrix_coefficients_ITU_R_BT_601_6:
        return ZIMG_MATRIX_BT470_BG; // BT.601's matrix
    default:
        return ZIMG_MATRIX_UNSPECIFIED; // one zimg is not asked to do
    }
}

// Before 1.19 libheif turns every decoded picture into RGB first: asked for
// YCbCr it converts that back, a second pass over every pixel in floating
// point (a fifth of a 12-MP HEIC's decoding time) and a second rounding.
// Damaged picture data end the file here; anything else is left to
// libvips' loader, which tells what is wrong.
std::nullopt_t failed(const heif_error& error) {
    if (HevcDecoder::isDamage(error))
        throw ResizeError(ResizeError::damagedImageData);
    return std::nullopt;
}

bool handsOverNativePlanes() {
    return HevcDecoder::libheifAtLeast(19);
}

// The picture as libheif's RGB planes, each resampled straight from
// libheif's memory.
std::optional<vips::VImage> resampledRgb(heif_image_handle* handle, const vips::VImage& header,
                                         int width, int height) {
    heif_image* rawImage = nullptr;
    const Options options(HevcDecoder::decodeOptions());
    const HevcDecoder::RgbPictures rgbPictures(handle);
    if (const heif_error error = heif_decode_image(handle, &rawImage, heif_colorspace_RGB,
                                                   heif_chroma_444, options.get());
        error.code != heif_error_Ok)
        return failed(error);
    const Image image(rawImage);
    if (heif_image_get_colorspace(image.get()) != heif_colorspace_RGB ||
        heif_image_get_chroma_format(image.get()) != heif_chroma_444)
        return std::nullopt;
    std::vector<Plane> planes;
    for (const heif_channel channel : {heif_channel_R, heif_channel_G, heif_channel_B}) {
        int stride = 0;
        const std::uint8_t* data = heif_image_get_plane_readonly(image.get(), channel, &stride);
        const PlaneResampler::ForeignPlane source{data, stride,
                                                  heif_image_get_width(image.get(), channel),
                                                  heif_image_get_height(image.get(), channel)};
        if (!data || source.width != header.width() || source.height != header.height() ||
            heif_image_get_bits_per_pixel_range(image.get(), channel) != 8 ||
            !PlaneResampler::resample(source, planes.emplace_back(width, height), width, height))
            return std::nullopt;
    }
    const vips::VImage result = PlaneResampler::interleaved(planes, width, height, header);
    return result.get_image() ? std::optional(result) : std::nullopt;
}

} // namespace

namespace HeifPlaneDecoder {

std::optional<vips::VImage> decode(ByteSpan heif, const vips::VImage& header, int width,
                                   int height) {
    const Context context(heif_context_alloc());
    if (!context || width < 1 || height < 1 ||
        heif_context_read_from_memory_without_copy(context.get(), heif.data(), heif.size(), nullptr)
                .code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return std::nullopt;
    const Handle handle(rawHandle);
    if (heif_image_handle_has_alpha_channel(handle.get()) ||
        heif_image_handle_get_luma_bits_per_pixel(handle.get()) != 8 ||
        heif_image_handle_get_chroma_bits_per_pixel(handle.get()) != 8)
        return std::nullopt;
    heif_color_profile_nclx* rawNclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle.get(), &rawNclx).code != heif_error_Ok)
        rawNclx = nullptr;
    const Nclx nclx(rawNclx);
    const zimg_matrix_coefficients_e matrix = matrixOf(nclx.get());
    if (matrix == ZIMG_MATRIX_UNSPECIFIED)
        return std::nullopt;

    if (!handsOverNativePlanes())
        return resampledRgb(handle.get(), header, width, height);

    // 4:2:0, as cameras and phones write it: libheif hands over the decoder's
    // planes as they are. (libheif 1.15 cannot say which chroma a picture
    // has, and asked for "its own" it converts a grid of tiles to RGB.) A
    // 4:4:4 picture loses chroma detail here that a downscale to half its
    // size or less would lose anyway.
    heif_image* rawImage = nullptr;
    const Options options(HevcDecoder::decodeOptions());
    if (const heif_error error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_YCbCr,
                                                   heif_chroma_420, options.get());
        error.code != heif_error_Ok)
        return failed(error);
    const Image image(rawImage);
    const heif_chroma chroma = heif_image_get_chroma_format(image.get());
    const int sourceWidth = heif_image_get_width(image.get(), heif_channel_Y);
    const int sourceHeight = heif_image_get_height(image.get(), heif_channel_Y);
    if (heif_image_get_colorspace(image.get()) != heif_colorspace_YCbCr ||
        (chroma != heif_chroma_420 && chroma != heif_chroma_422 && chroma != heif_chroma_444) ||
        sourceWidth != header.width() || sourceHeight != header.height())
        return std::nullopt;

    // zimg wants rows aligned as its vector code reads them; libheif's are not.
    std::vector<Plane> planes;
    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (const heif_channel channel : channels) {
        const int w = heif_image_get_width(image.get(), channel);
        const int h = heif_image_get_height(image.get(), channel);
        int stride = 0;
        const std::uint8_t* data = heif_image_get_plane_readonly(image.get(), channel, &stride);
        if (!data || w < 1 || h < 1)
            return std::nullopt;
        Plane& plane = planes.emplace_back(w, h);
        for (int y = 0; y < h; ++y)
            std::memcpy(plane.row(y), data + std::ptrdiff_t(y) * stride, size_t(w));
    }

    const PlaneResampler::YCbCrKind kind{
        matrix, !nclx || nclx->full_range_flag != 0, chroma == heif_chroma_444 ? 0u : 1u,
        chroma == heif_chroma_420 ? 1u : 0u, ZIMG_CHROMA_LEFT}; // HEVC's default siting
    const vips::VImage result = PlaneResampler::rgbFromYCbCr(planes, kind, width, height, header);
    if (!result.get_image())
        return std::nullopt;
    return result;
}

} // namespace HeifPlaneDecoder
