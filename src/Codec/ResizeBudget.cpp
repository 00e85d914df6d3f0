// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ResizeBudget.h"

#include <QtGlobal>

#include <algorithm>

namespace ResizeBudget {

bool withinSizeLimits(std::int64_t width, std::int64_t height) {
    constexpr std::int64_t maximumSide = 200000;
    constexpr std::int64_t maximumPixels = 200000000;
    return width >= 1 && width <= maximumSide && height >= 1 && height <= maximumSide &&
           width * height <= maximumPixels;
}

int heldCopies(OutputType type, bool preserveExif) {
    // Peak memory of burisora-cli writing a 12-MP photo at full size, less
    // that of writing it as JPEG, in 36-MB copies of its pixels.
    switch (type) {
    case OutputType::jpeg:
    case OutputType::png:
        return 0;
    case OutputType::tiff: // the encoded file, about the pixels' size, held twice when kept
        return preserveExif ? 2 : 0;
    case OutputType::webp: // libwebp's ARGB and YUV pictures
        return 2;
    case OutputType::heic: // libheif's plane, x265's pictures
        return 5;
    case OutputType::avif: // libheif's plane, aom's pictures
        return 7;
    }
    Q_UNREACHABLE();
}

std::int64_t estimatedMemory(const FileConversion::SourceInfo& source, std::int64_t longEdgePx,
                             int encoderCopies) {
    constexpr std::int64_t workingSet = 64 * 1024 * 1024; // threads' strips, codec state
    const std::int64_t longEdge = std::max<std::int64_t>(1, std::max(source.width, source.height));
    const double scale = double(longEdgePx) / double(longEdge);
    const std::int64_t bytesPerPixel = std::max(1, source.bytesPerPixel);
    // Some decoders (HEIF, WebP, progressive JPEG) hold the whole source;
    // counting it for all keeps the estimate on the safe side.
    const std::int64_t pixels = source.width * source.height * bytesPerPixel;
    const std::int64_t output = std::int64_t(double(pixels) * scale * scale);
    return pixels + std::min(output, wholeImageBytes) + encoderCopies * output + workingSet;
}

} // namespace ResizeBudget
