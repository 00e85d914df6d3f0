// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Settings/OutputFormat.h"
#include "Settings/SizePreset.h"

#include <QString>

#include <cstdint>

struct ResizeSettingsSnapshot;

// What the nine settings hold before the user changes them, and their bounds.
namespace SettingsDefaults {

inline constexpr SizePreset preset = SizePreset::px1280;
inline constexpr std::int64_t longEdgePx = 1280; // the default preset's
inline constexpr std::int64_t customLongEdge = 1280;
inline constexpr double jpegQuality = 0.85;
inline constexpr OutputFormat outputFormat = OutputFormat::keepOriginal;
inline constexpr bool preserveExif = false;
inline constexpr bool skipUpscale = true;
inline constexpr auto outputFolderName = "Resized";

inline constexpr std::int64_t minimumCustomLongEdge = 10;
inline constexpr std::int64_t maximumCustomLongEdge = 30000;
inline constexpr qsizetype maximumPrefixCharacters = 50;
// The file-size limit: 0 for none, else 10 kB to 1 GB (1000-based).
inline constexpr std::int64_t maxFileBytes = 0;
inline constexpr std::int64_t minimumMaxFileBytes = 10'000;
inline constexpr std::int64_t maximumMaxFileBytes = 1'000'000'000;

// The custom long edge as the window keeps it: 10 to 30000.
constexpr std::int64_t clampedCustomLongEdge(std::int64_t value) {
    if (value < minimumCustomLongEdge + 1)
        return minimumCustomLongEdge;
    if (!(value < maximumCustomLongEdge))
        return maximumCustomLongEdge;
    return value;
}

// A file-size limit as the window keeps it: none for 0 or less, else within
// the bounds.
constexpr std::int64_t validMaxFileBytes(std::int64_t value) {
    if (value <= 0)
        return 0;
    return value < minimumMaxFileBytes   ? minimumMaxFileBytes
           : value > maximumMaxFileBytes ? maximumMaxFileBytes
                                         : value;
}

} // namespace SettingsDefaults

// The settings that a batch takes over unchanged from the stored ones.
struct OutputChoices {
    double jpegQuality = SettingsDefaults::jpegQuality;
    OutputFormat outputFormat = SettingsDefaults::outputFormat;
    bool preserveExif = SettingsDefaults::preserveExif;
    bool skipUpscale = SettingsDefaults::skipUpscale;
    QString outputFolderName = QString::fromLatin1(SettingsDefaults::outputFolderName);
    QString filenamePrefix;
    // Largest output file in bytes; 0: no limit.
    std::int64_t maxFileBytes = SettingsDefaults::maxFileBytes;

    friend bool operator==(const OutputChoices&, const OutputChoices&) = default;
};

// The nine persisted settings as plain values: how large, and the rest.
struct SettingsValues : OutputChoices {
    SizePreset preset = SettingsDefaults::preset;
    std::int64_t customLongEdge = SettingsDefaults::customLongEdge;

    // What a batch works with: the preset's long edge, or the custom one
    // raised to at least 10; everything else copied unchanged.
    ResizeSettingsSnapshot snapshot() const;
};
