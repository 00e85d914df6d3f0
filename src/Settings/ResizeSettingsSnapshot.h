// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Settings/SettingsValues.h"

// Everything one batch needs to know, fixed when the batch starts. A plain
// value: safe to copy to worker threads.
struct ResizeSettingsSnapshot {
    std::int64_t longEdgePx = SettingsDefaults::longEdgePx;
    double jpegQuality = SettingsDefaults::jpegQuality;
    OutputFormat outputFormat = SettingsDefaults::outputFormat;
    bool preserveExif = SettingsDefaults::preserveExif;
    bool skipUpscale = SettingsDefaults::skipUpscale;
    QString outputFolderName = QString::fromLatin1(SettingsDefaults::outputFolderName);
    QString filenamePrefix;

    friend bool operator==(const ResizeSettingsSnapshot&, const ResizeSettingsSnapshot&) = default;
};
