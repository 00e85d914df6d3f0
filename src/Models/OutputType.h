// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The four types an output can be written in.
enum class OutputType { jpeg, png, heic, tiff };

namespace OutputTypes {

// MIME type, e.g. "image/jpeg".
QString identifier(OutputType type);
// Preferred file-name extension from the shared MIME database, without the dot.
QString preferredFilenameExtension(OutputType type);
// Whether the encoder takes a lossy quality for this type.
bool isLossy(OutputType type);

} // namespace OutputTypes
