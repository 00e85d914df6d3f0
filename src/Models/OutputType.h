// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// The four types an output can be written in.
enum class OutputType { jpeg, png, heic, tiff };

namespace OutputTypes {

// MIME type, e.g. "image/jpeg".
QString identifier(OutputType type);
// The file-name extension outputs of this type get, without the dot.
QString preferredFilenameExtension(OutputType type);
// Whether the encoder takes a lossy quality for this type.
bool isLossy(OutputType type);
// The type a source with this extension (without the dot, any letter case)
// is itself written in; nothing for the others (GIF, WebP, ...).
std::optional<OutputType> forSourceExtension(const QString& extension);

} // namespace OutputTypes
