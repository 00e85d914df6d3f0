// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <vips/vips8>

#include <optional>

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

} // namespace ScaledJpegDecoder
