// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/OutputFormat.h"
#include "Models/SizePreset.h"

#include <QString>

#include <cstdint>

// Everything one batch needs to know, fixed when the batch starts. A plain
// value: safe to copy to worker threads.
struct ResizeSettingsSnapshot {
    std::int64_t longEdgePx = 1280;
    double jpegQuality = 0.85;
    OutputFormat outputFormat = OutputFormat::keepOriginal;
    bool preserveExif = false;
    bool skipUpscale = true;
    QString outputFolderName = QStringLiteral("Resized");
    QString filenamePrefix;

    friend bool operator==(const ResizeSettingsSnapshot&, const ResizeSettingsSnapshot&) = default;
};

// The eight persisted settings as plain values.
struct SettingsValues {
    static constexpr std::int64_t minimumCustomLongEdge = 10;

    SizePreset preset = SizePreset::px1280;
    std::int64_t customLongEdge = 1280;
    double jpegQuality = 0.85;
    OutputFormat outputFormat = OutputFormat::keepOriginal;
    bool preserveExif = false;
    bool skipUpscale = true;
    QString outputFolderName = QStringLiteral("Resized");
    QString filenamePrefix;

    // What a batch works with: the preset's long edge, or the custom one
    // raised to at least 10; everything else copied unchanged.
    ResizeSettingsSnapshot snapshot() const {
        ResizeSettingsSnapshot s;
        s.longEdgePx = SizePresets::fixedLongEdge(preset).value_or(
            customLongEdge < minimumCustomLongEdge ? minimumCustomLongEdge : customLongEdge);
        s.jpegQuality = jpegQuality;
        s.outputFormat = outputFormat;
        s.preserveExif = preserveExif;
        s.skipUpscale = skipUpscale;
        s.outputFolderName = outputFolderName;
        s.filenamePrefix = filenamePrefix;
        return s;
    }
};
