#pragma once

#include "Models/OutputFormat.h"

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
