// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ScaledJpegDecoder.h"

#include "Codec/JpegIntegrity.h"
#include "Codec/PlaneResampler.h"
#include "Models/Errors.h"
#include "Runtime/Deleter.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using JpegIntegrity::Decompressor;

enum class Outcome { decoded, unsuitable, damaged };

struct DecodedPlane {
    Plane plane;  // exactly the rows and columns libjpeg writes
    Plane unused; // a row for libjpeg's row pointers past those
    double width; // the image's share of it, in its own samples
    double height;
};

// libjpeg's error exit jumps back here: nothing between the jump and its
// target may need a destructor, so the planes live in the caller.
Outcome decodePlanes(Decompressor& decompressor, ByteSpan jpeg, const vips::VImage& header,
                     int shrink, std::vector<DecodedPlane>& planes) {
    jpeg_decompress_struct& info = decompressor.info;
    if (setjmp(decompressor.exit))
        return decompressor.damaged ? Outcome::damaged : Outcome::unsuitable;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    const bool colour = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3;
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
    if ((!colour && !grey) || int(info.image_width) != header.width() ||
        int(info.image_height) != header.height())
        return Outcome::unsuitable;
    // Each component as its inverse DCT leaves it: no upsampling, no colour
    // conversion. When shrinking, libjpeg runs the chroma blocks' inverse DCT
    // at twice the luma's scale, so 4:2:0 chroma comes out at full resolution.
    info.raw_data_out = TRUE;
    info.scale_num = 1;
    info.scale_denom = unsigned(shrink);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);

    std::array<JSAMPARRAY, 3> rows{}; // per component: its rows of one iMCU row
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const int size = component.DCT_scaled_size;
        const int rowsPerIMCU = component.v_samp_factor * size;
        // The last iMCU row may hold fewer block rows than it has room for:
        // libjpeg leaves the rest unwritten, and a plane that included them
        // would hand the resampler's lowest taps whatever memory held before.
        const int width = int(component.width_in_blocks) * size;
        planes.push_back({Plane(width, int(component.height_in_blocks) * size), Plane(width, 1),
                          double(info.image_width) * component.h_samp_factor * size /
                              (info.max_h_samp_factor * DCTSIZE),
                          double(info.image_height) * component.v_samp_factor * size /
                              (info.max_v_samp_factor * DCTSIZE)});
        rows[size_t(c)] = static_cast<JSAMPARRAY>((*info.mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, sizeof(JSAMPROW) * rowsPerIMCU));
    }
    const auto lines = JDIMENSION(info.max_v_samp_factor * info.min_DCT_scaled_size);
    for (int iMCURow = 0; info.output_scanline < info.output_height; ++iMCURow) {
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& component = info.comp_info[c];
            const int rowsPerIMCU = component.v_samp_factor * component.DCT_scaled_size;
            DecodedPlane& decoded = planes[size_t(c)];
            for (int y = 0; y < rowsPerIMCU; ++y) {
                const int row = iMCURow * rowsPerIMCU + y;
                rows[size_t(c)][y] =
                    row < decoded.plane.height() ? decoded.plane.row(row) : decoded.unused.row(0);
            }
        }
        if (jpeg_read_raw_data(&info, rows.data(), lines) == 0)
            return Outcome::unsuitable;
    }
    jpeg_finish_decompress(&info);
    return Outcome::decoded;
}

// The file's planes decoded at 1/`shrink`; empty when the file is one for
// libvips' own decoder.
std::optional<std::vector<DecodedPlane>> decodedPlanes(ByteSpan jpeg, const vips::VImage& header,
                                                       int shrink) {
    if (shrink != 1 && shrink != 2 && shrink != 4 && shrink != 8)
        return std::nullopt;
    std::vector<DecodedPlane> decoded;
    Decompressor decompressor;
    switch (decodePlanes(decompressor, jpeg, header, shrink, decoded)) {
    case Outcome::decoded:
        return decoded;
    case Outcome::unsuitable:
        return std::nullopt;
    case Outcome::damaged:
        throw ResizeError(ResizeError::damagedImageData);
    }
    return std::nullopt;
}

int wholeBlocks(int samples) {
    return (samples + DCTSIZE - 1) / DCTSIZE * DCTSIZE;
}

// Fills the plane beyond its first `width` x `height` samples, up to whole
// blocks, with the samples at the edge, as libjpeg pads what it converts.
void padToBlocks(Plane& plane, int width, int height) {
    const int paddedWidth = wholeBlocks(width);
    for (int y = 0; y < height; ++y)
        std::fill(plane.row(y) + width, plane.row(y) + paddedWidth, plane.row(y)[width - 1]);
    for (int y = height; y < plane.height(); ++y)
        std::copy_n(plane.row(height - 1), paddedWidth, plane.row(y));
}

} // namespace

namespace ScaledJpegDecoder {

std::optional<vips::VImage> decode(ByteSpan jpeg, const vips::VImage& header, int shrink, int width,
                                   int height) {
    if (width < 1 || height < 1)
        return std::nullopt;
    std::optional<std::vector<DecodedPlane>> decoded = decodedPlanes(jpeg, header, shrink);
    if (!decoded)
        return std::nullopt;

    // Every plane straight to the output's full size: chroma that is still
    // subsampled is interpolated here rather than replicated.
    const int bands = int(decoded->size());
    std::vector<Plane> scaled;
    for (const DecodedPlane& from : *decoded) {
        scaled.emplace_back(width, height);
        if (!PlaneResampler::resample(from.plane, from.width, from.height, scaled.back(), width,
                                      height))
            return std::nullopt;
    }
    decoded.reset();
    const vips::VImage image = PlaneResampler::memoryImage(width, height, bands);
    unsigned char* pixels = VIPS_IMAGE_ADDR(image.get_image(), 0, 0);
    if (bands == 1) {
        for (int y = 0; y < height; ++y)
            std::copy_n(scaled[0].row(y), width, pixels + size_t(y) * size_t(width));
    } else {
        // TurboJPEG's colour conversion: libjpeg's own, vectorised.
        const std::unique_ptr<void, Deleter<tjDestroy>> handle(tjInitDecompress());
        std::vector<const unsigned char*> rows;
        std::vector<int> strides;
        for (Plane& plane : scaled) {
            rows.push_back(plane.row(0));
            strides.push_back(int(plane.stride()));
        }
        if (!handle || tjDecodeYUVPlanes(handle.get(), rows.data(), strides.data(), TJSAMP_444,
                                         pixels, width, width * 3, height, TJPF_RGB, 0) != 0)
            return std::nullopt;
    }
    return PlaneResampler::withMetadataOf(image, header);
}

std::optional<YCbCrPlanes> decodeYCbCr(ByteSpan jpeg, const vips::VImage& header, int shrink,
                                       int width, int height, bool chromaHalved) {
    if (width < 1 || height < 1)
        return std::nullopt;
    std::optional<std::vector<DecodedPlane>> decoded = decodedPlanes(jpeg, header, shrink);
    if (!decoded || decoded->size() != 3)
        return std::nullopt;
    YCbCrPlanes result{{}, width, height, chromaHalved};
    for (size_t c = 0; c < 3; ++c) {
        const DecodedPlane& from = (*decoded)[c];
        // A halved plane's last sample may stand for a column or row past
        // the image: the source region grows to match it.
        const int factor = c > 0 && chromaHalved ? 2 : 1;
        const int planeWidth = (width + factor - 1) / factor;
        const int planeHeight = (height + factor - 1) / factor;
        const double regionWidth = from.width * planeWidth * factor / width;
        const double regionHeight = from.height * planeHeight * factor / height;
        Plane& plane = result.planes.emplace_back(planeWidth, wholeBlocks(planeHeight));
        if (!PlaneResampler::resample(from.plane, regionWidth, regionHeight, plane, planeWidth,
                                      planeHeight))
            return std::nullopt;
        padToBlocks(plane, planeWidth, planeHeight);
    }
    return result;
}

} // namespace ScaledJpegDecoder
