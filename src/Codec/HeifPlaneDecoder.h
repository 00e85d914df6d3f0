// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <vips/vips8>

#include <optional>

// HEIC decoding for downscaling: libheif decodes the HEVC picture into its
// own YCbCr planes (turned and mirrored as the file says), and zimg resamples
// them straight to the target size and converts them to RGB there, with the
// file's own matrix and range. libheif's way converts the full-size picture
// to RGB first, upsampling chroma by repeating it; that conversion alone cost
// a sixth of a 12-megapixel HEIC's time.
namespace HeifPlaneDecoder {

// The primary image of `heif`, scaled to exactly `width` x `height`, with
// `header`'s interpretation, resolution and metadata. Empty when it is one
// for libvips' own path: with alpha, more than 8 bits, or not YCbCr. Throws
// ResizeError::damagedImageData when its HEVC data are damaged.
std::optional<vips::VImage> decode(ByteSpan heif, const vips::VImage& header, int width,
                                   int height);

} // namespace HeifPlaneDecoder
