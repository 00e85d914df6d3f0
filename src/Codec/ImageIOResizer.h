// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"
#include "Codec/FileConversion.h"

#include <vips/vips8>

#include <cstdint>

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

// `image`, already decoded and resized, in memory and resized again so that
// its long edge is `longEdgePx` (smaller).
vips::VImage shrunkTo(const vips::VImage& image, std::int64_t longEdgePx);

// The power-of-two factor (1, 2, 4 or 8) to shrink a JPEG or WebP by while
// decoding, leaving the resampler the remainder: the largest that keeps the
// decoded long edge at or above the target and the short edge at least one
// pixel wide.
int loadShrinkFactor(std::int64_t width, std::int64_t height, std::int64_t targetLongEdge);

} // namespace ImageIOResizer
