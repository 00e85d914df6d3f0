// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/FileConversion.h"
#include "Codec/Metadata.h"

#include <QString>

#include <vips/vips8>

#include <cstdint>
#include <filesystem>
#include <optional>

struct PixelDimensions {
    std::int64_t width = 0; // as displayed: swapped for orientations 5 to 8
    std::int64_t height = 0;
    std::optional<QString> uti; // container MIME type, e.g. "image/jpeg"
    int bytesPerPixel = 0;      // of the decoded source, all bands
};

// A downscaled, upright image with the source's metadata.
struct ResizedImage {
    // Decoded pixels; of libvips' metadata fields the encoder takes only the
    // colour profile and the resolution.
    vips::VImage image;
    SourceMetadata metadata;
    std::optional<QString> uti;
    std::int64_t sourceWidth = 0; // as stored, not corrected for orientation
    std::int64_t sourceHeight = 0;
};

// Reads and downscales image files. Stateless; safe on any thread.
namespace ImageIOResizer {

// The size limits of the pipeline: each side from 1 to 200000 pixels, at most
// 200 million pixels in all.
bool withinSizeLimits(std::int64_t width, std::int64_t height);

// Header only: no pixel data is decoded. Throws ResizeError.
PixelDimensions readPixelDimensions(const std::filesystem::path& url);

// Decodes image 0 (first page or frame) into an upright image whose long edge
// is `longEdgePx` (aspect kept; a smaller source is enlarged). JPEG and WebP
// are shrunk while decoding; embedded previews are never used. An image
// beyond the size limits is refused before decoding: the file may have been
// replaced since its dimensions were read. Throws ResizeError.
// A small result is decoded at once; a large one is a sequential pipeline
// that decodes as the encoder reads it, so memory stays bounded whatever the
// size, and a damaged source then fails while encoding.
ResizedImage resize(const std::filesystem::path& url, std::int64_t longEdgePx);

// A generous estimate of the memory that resizing an image of these
// dimensions to `longEdgePx` takes at its peak, in bytes.
std::int64_t estimatedMemory(const FileConversion::SourceInfo& source, std::int64_t longEdgePx);

// The power-of-two factor (1, 2, 4 or 8) to shrink a JPEG or WebP by while
// decoding, leaving the resampler the remainder: the largest that keeps the
// decoded long edge at or above the target.
int loadShrinkFactor(std::int64_t sourceLongEdge, std::int64_t targetLongEdge);

} // namespace ImageIOResizer
