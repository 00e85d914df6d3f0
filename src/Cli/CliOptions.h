// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Settings/ResizeSettingsSnapshot.h"

#include <QJsonObject>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The command line of burisora-cli. Overrides apply to this run only.
struct CliOptions {
    std::optional<SizePreset> preset;
    std::optional<std::int64_t> customLongEdge;
    std::optional<double> jpegQuality;
    std::optional<OutputFormat> outputFormat;
    std::optional<bool> preserveExif;
    std::optional<bool> skipUpscale;
    std::optional<QString> outputFolderName;
    std::optional<QString> filenamePrefix;
    std::optional<std::int64_t> maxFileBytes;

    bool json = false;
    bool showSettings = false;
    bool help = false;
    bool version = false;
    // Paths exactly as given: bytes, not text.
    std::vector<std::filesystem::path> paths;

    SettingsValues applied(SettingsValues values) const;
};

struct CliUsageError {
    QString message;
};

// Parses argv[1...]; a usage error says what was wrong.
std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& arguments);

QString cliHelpText();

// The nine settings as the settings file holds them.
QJsonObject settingsJson(const SettingsValues& values);
