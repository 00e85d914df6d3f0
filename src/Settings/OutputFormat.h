// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/OutputType.h"

#include <QString>

#include <array>
#include <optional>

// What the user asked an output to be encoded as.
enum class OutputFormat { keepOriginal, jpeg, png, webp, avif };

namespace OutputFormats {

inline constexpr std::array<OutputFormat, 5> allCases{OutputFormat::keepOriginal,
                                                      OutputFormat::jpeg, OutputFormat::png,
                                                      OutputFormat::webp, OutputFormat::avif};

QString storageValue(OutputFormat format);
QString displayName(OutputFormat format);
std::optional<OutputFormat> fromStorageValue(const std::optional<QString>& storageValue);

// The type an output is written in, given the source's extension (without the
// dot, any letter case). Keeping the original keeps JPEG, PNG, HEIC/HEIF and
// TIFF; everything else (GIF, WebP, AVIF, JPEG XL) becomes JPEG.
OutputType resolvedUTType(OutputFormat format, const QString& sourceExtension);

} // namespace OutputFormats
