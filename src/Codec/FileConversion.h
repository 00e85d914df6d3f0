// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/OutputType.h"

#include <cstdint>

// The codec work on one file, on descriptors the caller opened: what a worker
// process runs. It never opens a path, so it works inside the sandbox, and it
// reads the source through one read-only mapping that every stage shares.
// Plain values in and out; every failure is thrown as a LocalizedError
// (ResizeError, EncoderError or SystemError).
namespace FileConversion {

// What the header says; no pixel is decoded.
struct SourceInfo {
    std::int64_t width = 0; // as displayed: swapped for orientations 5 to 8
    std::int64_t height = 0;
    int bytesPerPixel = 0; // what the decoder holds per source pixel
};

SourceInfo inspect(int sourceFd);

struct Settings {
    std::int64_t targetLongEdge = 0;
    OutputType type = OutputType::jpeg;
    double quality = 0.85;
    bool preserveExif = false;
    std::int64_t maxBytes = 0; // the largest output file; 0: no limit
};

// Reads, resizes and encodes the source into `outputFd` (an empty file open
// for writing), metadata as the settings say. Returns the output's long edge.
// Under a file-size limit, the highest quality not above the chosen one that
// fits is searched (JPEG, HEIC, WebP, AVIF); then the long edge steps down, to 320 px at
// least. Throws SizeLimitError when nothing fits.
// On a throw the output holds nothing worth keeping; the caller discards it.
std::int64_t convert(int sourceFd, int outputFd, const Settings& settings);

} // namespace FileConversion
