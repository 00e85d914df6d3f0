// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/Metadata.h"
#include "Codec/ScaledJpegDecoder.h"
#include "Models/OutputType.h"

#include <vips/vips8>

// Encodes resized images. Stateless; safe on any thread.
namespace ImageEncoder {

// Encodes `image` as `type` into `fd`, an empty file open for writing, from
// its start. Without `preserveExif` the output carries no Exif, GPS, IPTC,
// XMP, Photoshop block, comment or PNG text; with it, all of `metadata` that
// the type can hold. The colour profile, resolution and PNG colour chunks are
// always kept, and the output is upright with orientation 1 wherever one is
// written. Throws EncoderError; the file then holds nothing worth keeping.
void encode(const vips::VImage& image, const SourceMetadata& metadata, int fd, OutputType type,
            double quality, bool preserveExif);

// Whether a JPEG of this quality (0...1) stores its chroma at half the
// resolution each way.
bool halvesJpegChroma(double quality);

// As encode() to JPEG, from planes already at the output's size and chroma
// sampling; `header`, the source's, gives the profile and resolution. False,
// with nothing written, when these planes are not what a JPEG of `quality`
// holds or libjpeg refuses them.
bool encodeJpeg(const ScaledJpegDecoder::YCbCrPlanes& planes, const vips::VImage& header,
                const SourceMetadata& metadata, int fd, double quality, bool preserveExif);

// 0...1 (NaN counts as 0) onto the lossy encoders' 1...100 scale.
int encoderQuality(double quality);

} // namespace ImageEncoder
