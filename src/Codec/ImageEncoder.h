// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/OutputType.h"
#include "Codec/ImageIOResizer.h"

#include <filesystem>

// Encodes resized images. Stateless; safe on any thread.
namespace ImageEncoder {

// Encodes `image` as `type` into a hidden temporary file beside `to`, then
// renames it over `to` (the empty placeholder the path resolver claimed), so
// the name never holds a partly written image. Without `preserveExif` the
// output carries no Exif, GPS, IPTC, XMP, Photoshop block, comment or PNG
// text; with it, all of the source's that the type can hold. The colour
// profile, resolution and PNG colour chunks are always kept, and the output
// is upright with orientation 1 wherever one is written.
// Throws EncoderError, or SystemError when the final rename fails.
void write(const ResizedImage& image, const std::filesystem::path& to, OutputType type,
           double quality, bool preserveExif);

// The same, straight into an open file.
void encodeInto(const ResizedImage& image, int fd, OutputType type, double quality,
                bool preserveExif);

// 0...1 (NaN counts as 0) onto the lossy encoders' 1...100 scale.
int encoderQuality(double quality);

// Exposed for tests: the temporary name's shape, "." + UUID + ".tmp".
bool isTemporaryFileName(const std::string& name);

} // namespace ImageEncoder
