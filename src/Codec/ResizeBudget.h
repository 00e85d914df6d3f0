// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/FileConversion.h"
#include "Models/OutputType.h"

#include <cstdint>

// What a conversion may take on, known from the header alone: the size
// limits and the memory estimate the batch schedules by. Plain arithmetic,
// apart from the codec, so that the processes that only schedule the work
// (the window, burisora-cli) do not load the codec's libraries.
namespace ResizeBudget {

// Outputs up to this size are decoded into memory before anything is
// written; larger ones are streamed from the decoder to the encoder.
constexpr std::int64_t wholeImageBytes = 64 * 1024 * 1024;

// The size limits of the pipeline: each side from 1 to 200000 pixels, at most
// 200 million pixels in all.
bool withinSizeLimits(std::int64_t width, std::int64_t height);

// How much memory the encoder of `type` takes beyond the image it is given,
// in copies of that image, uncompressed: 0 for those that stream it.
int heldCopies(OutputType type, bool preserveExif);

// A generous estimate of the memory that resizing an image of these
// dimensions to `longEdgePx` takes at its peak, in bytes, with an encoder
// that holds `encoderCopies` more copies of the whole resized image
// (heldCopies).
std::int64_t estimatedMemory(const FileConversion::SourceInfo& source, std::int64_t longEdgePx,
                             int encoderCopies = 0);

} // namespace ResizeBudget
