// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// The four types an output can be written in.
enum class OutputType { jpeg, png, heic, tiff };

namespace OutputTypes {

// The file-name extension outputs of this type get, without the dot.
QString preferredFilenameExtension(OutputType type);
// The type a source with this extension (without the dot, any letter case)
// is itself written in; nothing for the others (GIF, WebP, ...).
std::optional<OutputType> forSourceExtension(const QString& extension);

} // namespace OutputTypes
