// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/FileConversion.h"

#include "Codec/ImageEncoder.h"
#include "Codec/ImageIOResizer.h"
#include "Codec/MappedFile.h"
#include "Codec/Metadata.h"
#include "Models/Errors.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace {

// Where the search for a size that fits gives up: a quality below which a
// photo visibly falls apart, and a long edge below which it is no longer the
// photo someone meant to send.
constexpr int floorQuality = 40;
constexpr std::int64_t floorLongEdge = 320;
// Each step down takes at least this much off the long edge.
constexpr double longEdgeStep = 0.85;

std::int64_t longEdgeOf(const vips::VImage& image) {
    return std::max(image.width(), image.height());
}

bool hasQuality(OutputType type) {
    return type == OutputType::jpeg || type == OutputType::heic || type == OutputType::webp ||
           type == OutputType::avif;
}

std::int64_t fileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw SystemError(errno);
    return info.st_size;
}

// The highest quality not above the chosen one, then the largest long edge,
// whose file fits `settings.maxBytes`; the output is left holding it. Every
// attempt rewrites the file from its start.
std::int64_t encodeWithin(const vips::VImage& resized, const SourceMetadata& metadata, int fd,
                          const FileConversion::Settings& settings) {
    const vips::VImage whole = resized.copy_memory(); // encoded again and again
    vips::VImage image = whole;
    const int chosen = ImageEncoder::encoderQuality(settings.quality);
    int written = 0; // the quality of what the file holds now
    std::int64_t size = 0;
    const auto fits = [&](int quality) {
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
            throw SystemError(errno);
        ImageEncoder::encode(image, metadata, fd, settings.type, quality / 100.0,
                             settings.preserveExif);
        written = quality;
        size = fileSize(fd);
        return size <= settings.maxBytes;
    };
    for (;;) {
        if (fits(chosen))
            return longEdgeOf(image);
        if (hasQuality(settings.type) && chosen > floorQuality && fits(floorQuality)) {
            int fitting = floorQuality;
            int tooLarge = chosen;
            while (tooLarge - fitting > 1) {
                const int middle = (fitting + tooLarge) / 2;
                (fits(middle) ? fitting : tooLarge) = middle;
            }
            if (written != fitting)
                fits(fitting);
            return longEdgeOf(image);
        }
        const std::int64_t edge = longEdgeOf(image);
        if (edge <= floorLongEdge)
            throw SizeLimitError(settings.maxBytes);
        // Bytes grow about as the pixel count: far off, one step goes most of
        // the way, aiming a little under.
        const double ratio =
            std::min(longEdgeStep, 0.97 * std::sqrt(double(settings.maxBytes) / double(size)));
        image = ImageIOResizer::shrunkTo(
            whole, std::max(floorLongEdge, std::int64_t(double(edge) * ratio)));
    }
}

} // namespace

namespace FileConversion {

SourceInfo inspect(int sourceFd) {
    const MappedFile source(sourceFd);
    return ImageIOResizer::inspect(source.bytes());
}

std::int64_t convert(int sourceFd, int outputFd, const Settings& settings) {
    const MappedFile source(sourceFd);
    const SourceMetadata metadata = Metadata::read(source.bytes());
    // A JPEG made smaller as a JPEG keeps its own colour space throughout;
    // only one that is too large for the limit is searched for a size below.
    if (settings.type == OutputType::jpeg) {
        if (const auto resized =
                ImageIOResizer::resizeToYCbCr(source.bytes(), settings.targetLongEdge,
                                              ImageEncoder::halvesJpegChroma(settings.quality));
            resized &&
            ImageEncoder::encodeJpeg(resized->planes, resized->header, metadata, outputFd,
                                     settings.quality, settings.preserveExif) &&
            (settings.maxBytes <= 0 || fileSize(outputFd) <= settings.maxBytes))
            return std::max(resized->planes.width, resized->planes.height);
    }
    // The image reads from the mapping as the encoder pulls it: both stay
    // within this scope.
    const vips::VImage resized = ImageIOResizer::resize(source.bytes(), settings.targetLongEdge);
    if (settings.maxBytes > 0)
        return encodeWithin(resized, metadata, outputFd, settings);
    ImageEncoder::encode(resized, metadata, outputFd, settings.type, settings.quality,
                         settings.preserveExif);
    return longEdgeOf(resized);
}

} // namespace FileConversion
