// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <vips/vips8>

#include <optional>

// JPEG decoding for downscaling: libjpeg-turbo's DCT scaling at the smallest
// M/8 that keeps the long edge at or above the target, so 4032 px decode to
// 1512 rather than libvips' 2016; the luma and chroma planes are resampled as
// they come out of the decoder, before any colour conversion, and only then
// converted to RGB at the target size.
namespace ScaledJpegDecoder {

// The image of the JPEG file `jpeg`, scaled to exactly `width` x
// `height` (stored orientation), with `header`'s interpretation, resolution
// and metadata. Empty when the file is one for libvips' own decoder: CMYK or
// RGB-coded, or anything the decoder warns about.
std::optional<vips::VImage> decode(ByteSpan jpeg, const vips::VImage& header, int width,
                                   int height);

} // namespace ScaledJpegDecoder
