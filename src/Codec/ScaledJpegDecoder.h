// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"
#include "Codec/PlaneResampler.h"

#include <vips/vips8>

#include <optional>
#include <vector>

// JPEG decoding for downscaling: libjpeg's DCT scaling at the same 1/2, 1/4
// or 1/8 as libvips' shrink-on-load, with the chroma blocks' inverse DCT at
// twice the luma's scale so that chroma comes out at full resolution rather
// than upsampled. Luma and chroma planes are resampled to the target size
// before any colour conversion, and only then converted to RGB.
namespace ScaledJpegDecoder {

// The image of the JPEG file `jpeg` decoded at 1/`shrink` and scaled to
// exactly `width` x `height` (stored orientation), with `header`'s
// interpretation, resolution and metadata. Empty when the file is one for
// libvips' own decoder: CMYK or RGB-coded, or one libjpeg refuses. Throws
// ResizeError::damagedImageData when libjpeg finds the image data cut short
// or desynchronised.
std::optional<vips::VImage> decode(ByteSpan jpeg, const vips::VImage& header, int shrink, int width,
                                   int height);

// A JPEG's own Y, Cb and Cr planes resampled to an output's size and chroma
// sampling: Y at `width` x `height`, Cb and Cr at half of each (rounded up)
// when `chromaHalved`, else at the full size. Each plane is padded with its
// edge samples to whole 8 x 8 blocks, as libjpeg's raw input takes them.
struct YCbCrPlanes {
    std::vector<Plane> planes;
    int width = 0;
    int height = 0;
    bool chromaHalved = false;
};

// As decode(), without the conversion to RGB: for a JPEG written again as
// JPEG, whose encoder would only convert back. Empty for grey images too.
std::optional<YCbCrPlanes> decodeYCbCr(ByteSpan jpeg, const vips::VImage& header, int shrink,
                                       int width, int height, bool chromaHalved);

} // namespace ScaledJpegDecoder
