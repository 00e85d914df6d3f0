// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/FileConversion.h"

#include "Codec/ImageEncoder.h"
#include "Codec/ImageIOResizer.h"
#include "Codec/MappedFile.h"
#include "Codec/Metadata.h"

#include <algorithm>

namespace FileConversion {

SourceInfo inspect(int sourceFd) {
    const MappedFile source(sourceFd);
    return ImageIOResizer::inspect(source.bytes());
}

std::int64_t convert(int sourceFd, int outputFd, const Settings& settings) {
    const MappedFile source(sourceFd);
    // The image reads from the mapping as the encoder pulls it: both stay
    // within this scope.
    const vips::VImage resized = ImageIOResizer::resize(source.bytes(), settings.targetLongEdge);
    const SourceMetadata metadata = Metadata::read(source.bytes());
    ImageEncoder::encode(resized, metadata, outputFd, settings.type, settings.quality,
                         settings.preserveExif);
    return std::max<std::int64_t>(resized.width(), resized.height());
}

} // namespace FileConversion
