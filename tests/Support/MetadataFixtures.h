// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

#include <filesystem>

// Sources with metadata as everyday tools write it, and what to look for in
// outputs made from them.
namespace TestSupport {

// Makes `name` in `folder`, 400 x 300 pixels:
//   camera.jpg   Exif (IFD0 texts, maker note, thumbnail), GPS, IPTC, XMP,
//                comment, sRGB profile, 300 dpi, orientation 6 (Exif and XMP)
//   exiftool.tif the same groups but maker note, comment and thumbnail
//   magick.png   ImageMagick's copy of camera.jpg ("Raw profile type" chunks)
//   exif.png     eXIf, iTXt XMP, tEXt, gAMA, cHRM, sRGB, pHYs 300 dpi
//   phone.heic   Exif and XMP, sRGB profile; web.webp likewise
//   comment.gif  a comment and XMP
std::filesystem::path makeMetadataSource(const std::filesystem::path& folder, const QString& name);

// exiftool -j -G1 -a -n: "Group:Tag" to value.
QJsonObject exiftoolTags(const std::filesystem::path& path);

// The text facts the sources carry (each unique, so one found in an output
// leaked) in `bytes`: plainly, as hex text (any case, across line
// breaks), or the same inside any zlib stream they hold.
QStringList leakedTokens(const QByteArray& bytes);

} // namespace TestSupport
