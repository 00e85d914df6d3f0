// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"
#include "Models/OutputType.h"

#include <QByteArray>

// What of a source's metadata an output may carry, already made fit for an
// upright, resized copy: orientation 1 (Exif and XMP), no EXIF thumbnail (it
// shows the source's stored pixels, often turned), no TIFF layout tags.
struct SourceMetadata {
    QByteArray exif; // TIFF structure, without the "Exif\0\0" header
    QByteArray iptc; // IIM datasets
    QByteArray xmp;  // packet
    QByteArray comment;
    QByteArray pngColourChunks; // gAMA, cHRM, sRGB: kept whatever the setting
    // Metadata the source holds could not be read: keeping must fail rather
    // than write the output without them.
    bool unreadable = false;
};

// Reads metadata with Exiv2 and writes it into encoded outputs. libvips only
// supplies pixels, the colour profile and the resolution. Stateless; safe on
// any thread.
namespace Metadata {

// Image 0's metadata from an encoded file (JPEG, PNG, TIFF, WebP, HEIF, GIF),
// fitted for an upright, resized copy. Never throws: what cannot be read is
// left out and marked `unreadable`.
SourceMetadata read(ByteSpan source);

// `encoded` (JPEG, PNG or TIFF from libvips, carrying only pixels, colour
// profile and resolution) with the metadata policy applied: without
// `preserve` nothing but those, with it everything of `source` the type can
// hold. Throws EncoderError (metadataNotWritten when keeping) when the
// metadata cannot be written whole.
QByteArray applied(QByteArray encoded, OutputType type, const SourceMetadata& source, bool preserve,
                   int width, int height);

// The Exif (TIFF structure) and XMP payloads for a format that stores them as
// items or chunks (HEIF, AVIF, WebP); IPTC, which it cannot hold, is carried
// over into the XMP.
struct Payloads {
    QByteArray exif;
    QByteArray xmp;
};
Payloads payloads(const SourceMetadata& source, int width, int height);

} // namespace Metadata
