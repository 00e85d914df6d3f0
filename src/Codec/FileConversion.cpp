// SPDX-License-Identifier: GPL-3.0-or-later
// Interim: replaced by the mapped-source implementation.
#include "Codec/FileConversion.h"

#include "Codec/ImageEncoder.h"
#include "Codec/ImageIOResizer.h"

#include <string>

namespace {
std::filesystem::path pathOf(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}
} // namespace

namespace FileConversion {

SourceInfo inspect(int sourceFd) {
    const PixelDimensions d = ImageIOResizer::readPixelDimensions(pathOf(sourceFd));
    return {d.width, d.height, d.bytesPerPixel};
}

std::int64_t convert(int sourceFd, int outputFd, const Settings& settings) {
    const ResizedImage resized = ImageIOResizer::resize(pathOf(sourceFd), settings.targetLongEdge);
    ImageEncoder::encodeInto(resized, outputFd, settings.type, settings.quality,
                             settings.preserveExif);
    return std::max<std::int64_t>(resized.image.width(), resized.image.height());
}

} // namespace FileConversion
