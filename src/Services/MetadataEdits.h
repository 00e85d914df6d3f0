// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Small, bounds-checked edits of encoded metadata that libvips does not offer.
namespace MetadataEdits {

// A JPEG without its APP1 "Exif" segments; every other segment and the image
// data are kept byte for byte. Input that is not a well-formed JPEG header is
// returned unchanged.
QByteArray jpegWithoutExif(const QByteArray& jpeg);

// An EXIF block (optionally starting with "Exif\0\0") whose IFD0 orientation,
// if present, reads 1. Anything malformed is returned unchanged.
QByteArray exifWithUprightOrientation(QByteArray exif);

} // namespace MetadataEdits
