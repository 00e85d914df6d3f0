// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// The types an output can be written in.
enum class OutputType { jpeg, png, heic, tiff, webp, avif };

namespace OutputTypes {

// The file-name extension outputs of this type get, without the dot.
QString preferredFilenameExtension(OutputType type);
// The type a source with this extension (without the dot, any letter case)
// is itself written in; nothing for the others (GIF, WebP, AVIF, JPEG XL):
// those are only written when asked for by name.
std::optional<OutputType> forSourceExtension(const QString& extension);

} // namespace OutputTypes
