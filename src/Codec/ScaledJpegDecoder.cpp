// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ScaledJpegDecoder.h"

#include "Codec/PlaneResampler.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

struct HandleFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// The smallest M/8 whose decoded long edge still reaches the target; 8/8
// when the image is to be enlarged.
tjscalingfactor scaleFor(int longEdge, int targetLongEdge) {
    for (int m = 1; m < 8; ++m) {
        if (TJSCALED(longEdge, (tjscalingfactor{m, 8})) >= targetLongEdge)
            return {m, 8};
    }
    return {8, 8};
}

std::vector<Plane> planesFor(int width, int height, int subsampling) {
    std::vector<Plane> planes;
    const int count = subsampling == TJSAMP_GRAY ? 1 : 3;
    for (int c = 0; c < count; ++c)
        planes.emplace_back(tjPlaneWidth(c, width, subsampling),
                            tjPlaneHeight(c, height, subsampling));
    return planes;
}

} // namespace

namespace ScaledJpegDecoder {

std::optional<vips::VImage> decode(ByteSpan jpeg, const vips::VImage& header, int width,
                                   int height) {
    const std::unique_ptr<void, HandleFree> handle(tjInitDecompress());
    if (!handle || width < 1 || height < 1)
        return std::nullopt;
    int sourceWidth = 0;
    int sourceHeight = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &sourceWidth, &sourceHeight,
                            &subsampling, &colourspace) != 0 ||
        sourceWidth != header.width() || sourceHeight != header.height() ||
        (colourspace != TJCS_YCbCr && colourspace != TJCS_GRAY))
        return std::nullopt;

    const tjscalingfactor scale =
        scaleFor(std::max(sourceWidth, sourceHeight), std::max(width, height));
    const int decodedWidth = TJSCALED(sourceWidth, scale);
    const int decodedHeight = TJSCALED(sourceHeight, scale);
    std::vector<Plane> decoded = planesFor(decodedWidth, decodedHeight, subsampling);
    std::vector<unsigned char*> decodedRows;
    std::vector<int> decodedStrides;
    for (Plane& plane : decoded) {
        decodedRows.push_back(plane.row(0));
        decodedStrides.push_back(int(plane.stride()));
    }
    if (tjDecompressToYUVPlanes(handle.get(), jpeg.data(), jpeg.size(), decodedRows.data(),
                                decodedWidth, decodedStrides.data(), decodedHeight, 0) != 0)
        return std::nullopt;

    // A chroma plane covers whole luma blocks, a little beyond the image's
    // edge when its size is odd: of the decoded plane, the share that maps
    // onto the target plane is the target plane's size in decoded pixels.
    std::vector<Plane> scaled = planesFor(width, height, subsampling);
    for (size_t c = 0; c < scaled.size(); ++c) {
        const bool luma = c == 0;
        const int targetWidth = luma ? width : scaled[c].width();
        const int targetHeight = luma ? height : scaled[c].height();
        const double fromWidth =
            luma ? decodedWidth : double(targetWidth) * decodedWidth / double(width);
        const double fromHeight =
            luma ? decodedHeight : double(targetHeight) * decodedHeight / double(height);
        if (!PlaneResampler::resample(decoded[c], fromWidth, fromHeight, scaled[c], targetWidth,
                                      targetHeight))
            return std::nullopt;
    }
    decoded.clear();
    scaled[0].replicateEdges(width, height);

    const int bands = subsampling == TJSAMP_GRAY ? 1 : 3;
    const vips::VImage image = PlaneResampler::memoryImage(width, height, bands);
    unsigned char* pixels = VIPS_IMAGE_ADDR(image.get_image(), 0, 0);
    if (bands == 1) {
        for (int y = 0; y < height; ++y)
            std::copy_n(scaled[0].row(y), width, pixels + size_t(y) * size_t(width));
    } else {
        std::vector<const unsigned char*> rows;
        std::vector<int> strides;
        for (Plane& plane : scaled) {
            rows.push_back(plane.row(0));
            strides.push_back(int(plane.stride()));
        }
        if (tjDecodeYUVPlanes(handle.get(), rows.data(), strides.data(), subsampling, pixels, width,
                              width * 3, height, TJPF_RGB, 0) != 0)
            return std::nullopt;
    }
    return PlaneResampler::withMetadataOf(image, header);
}

} // namespace ScaledJpegDecoder
