// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"
#include "Codec/FileConversion.h"
#include "Codec/ScaledJpegDecoder.h"

#include <vips/vips8>

#include <cstdint>
#include <optional>

// Reads and downscales encoded images held in memory. Stateless; safe on any
// thread. Images returned read from the bytes they were made from, lazily:
// those must outlive them.
namespace ImageIOResizer {

// Header only: no pixel data is decoded. Throws ResizeError.
FileConversion::SourceInfo inspect(ByteSpan source);

// Decodes image 0 (first page or frame) into an upright image whose long edge
// is `longEdgePx` (aspect kept; a smaller source is enlarged), with the colour
// profile and resolution but none of the source's other metadata. JPEG and
// WebP are shrunk while decoding; embedded previews are never used. An image
// beyond the size limits is refused before decoding. Throws ResizeError.
// A small result is decoded at once; a large one is a sequential pipeline
// that decodes as the encoder reads it, so memory stays bounded whatever the
// size, and a damaged source then fails while encoding.
vips::VImage resize(ByteSpan source, std::int64_t longEdgePx);

// For a JPEG written again as JPEG: its planes as resize() would resample
// them, at the output's chroma sampling (halved or not), for the encoder to
// take without converting to RGB and back; and the source's header, for its
// profile and resolution. Empty where resize() would decode otherwise, or
// would have to turn the image. Throws ResizeError::damagedImageData only.
struct ResizedYCbCr {
    ScaledJpegDecoder::YCbCrPlanes planes;
    vips::VImage header;
};
std::optional<ResizedYCbCr> resizeToYCbCr(ByteSpan source, std::int64_t longEdgePx,
                                          bool chromaHalved);

// `image`, already decoded and resized, in memory and resized again so that
// its long edge is `longEdgePx` (smaller).
vips::VImage shrunkTo(const vips::VImage& image, std::int64_t longEdgePx);

// The power-of-two factor (1, 2, 4 or 8) to shrink a JPEG or WebP by while
// decoding, leaving the resampler the remainder: the largest that keeps the
// decoded long edge at or above the target and the short edge at least one
// pixel wide.
int loadShrinkFactor(std::int64_t width, std::int64_t height, std::int64_t targetLongEdge);

} // namespace ImageIOResizer
