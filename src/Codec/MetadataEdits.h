// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <QByteArray>

// The few byte-level edits no metadata library offers: PNG colour and eXIf
// chunks (Exiv2 0.27 writes Exif into PNG only as a hex text chunk) and the
// JFIF density, which libvips leaves out when it writes Exif.
namespace MetadataEdits {

// The gAMA, cHRM and sRGB chunks of the PNG file `png`, whole (length, type,
// data, CRC) and in file order; empty for any other file.
QByteArray pngColourChunks(ByteSpan png);

// The XMP packet and comments of the GIF file `gif` (Exiv2 0.27 reads neither
// from GIF); empty for any other file.
struct GifText {
    QByteArray xmp;
    QByteArray comment;
};
GifText gifText(ByteSpan gif);

// One whole PNG chunk of this four-letter type: length, type, data, CRC.
QByteArray pngChunk(const char* type, const QByteArray& data);
void appendPngChunk(QByteArray& out, const char* type, const void* data, std::size_t length);

// Whether `bytes`, the start of an encoded JPEG or PNG, hold its whole header:
// up to the first scan (JPEG) or the first image data chunk (PNG).
bool holdsWholeHeader(ByteSpan bytes, bool png);

// `png` with whole `chunks` inserted before its first PLTE or IDAT chunk.
// Input that is not a well-formed PNG header is returned unchanged.
QByteArray pngWithChunks(const QByteArray& png, const QByteArray& chunks);

// `jpeg` with a JFIF segment right after the start of image, in place of any
// there: the density in dots per inch, or only a 1:1 aspect when either is 0.
QByteArray jpegWithDensity(QByteArray jpeg, int xDotsPerInch, int yDotsPerInch);

// The APP1, APP13 and comment segments of the JPEG file `jpeg` between a
// start and an end of image: what Exiv2 needs of it, without the segments it
// cannot read but libjpeg can (lengths below 2, colour profiles it rejects).
// Empty for any other file.
QByteArray jpegMetadataSegments(ByteSpan jpeg);

// The extended XMP of the JPEG file `jpeg` whose GUID is `guid`, joined from
// its APP1 extension segments in offset order. `complete` tells whether every
// byte of the declared length was found; empty when no segment has the GUID.
QByteArray jpegExtendedXmp(ByteSpan jpeg, const QByteArray& guid, bool* complete);

// The largest XMP packet one APP1 segment holds.
constexpr qsizetype jpegXmpLimit = 0xFFFF - 2 - 29;

// APP1 segments holding the standard XMP packet `standard` and, when not
// empty, the extended XMP `extended` under `guid` split across extension
// segments.
QByteArray jpegXmpSegments(const QByteArray& standard, const QByteArray& extended,
                           const QByteArray& guid);

// `jpeg` with whole `segments` inserted after its leading APP0 and APP1 segments.
QByteArray jpegWithSegments(const QByteArray& jpeg, const QByteArray& segments);

// Removes the header segments with this marker from `jpeg` and returns them, whole.
QByteArray takeJpegSegments(QByteArray& jpeg, unsigned char marker);

} // namespace MetadataEdits
