// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// The few byte-level edits no metadata library offers: PNG colour and eXIf
// chunks (Exiv2 0.27 writes Exif into PNG only as a hex text chunk) and the
// JFIF density, which libvips leaves out when it writes Exif.
namespace MetadataEdits {

// The gAMA, cHRM and sRGB chunks of the PNG file open as `fd`, whole (length,
// type, data, CRC) and in file order; empty for any other file.
QByteArray pngColourChunks(int fd);

// The XMP packet and comments of the GIF file open as `fd` (Exiv2 0.27 reads
// neither from GIF); empty for any other file.
struct GifText {
    QByteArray xmp;
    QByteArray comment;
};
GifText gifText(int fd);

// One whole PNG chunk of this four-letter type.
QByteArray pngChunk(const char* type, const QByteArray& data);

// `png` with whole `chunks` inserted before its first PLTE or IDAT chunk.
// Input that is not a well-formed PNG header is returned unchanged.
QByteArray pngWithChunks(const QByteArray& png, const QByteArray& chunks);

// `jpeg` with a JFIF segment right after the start of image, in place of any
// there: the density in dots per inch, or only a 1:1 aspect when either is 0.
QByteArray jpegWithDensity(QByteArray jpeg, int xDotsPerInch, int yDotsPerInch);

} // namespace MetadataEdits
