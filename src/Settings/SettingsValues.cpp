// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/SettingsValues.h"

#include "Settings/ResizeSettingsSnapshot.h"

#include <algorithm>

namespace SizePresets {

QString storageValue(SizePreset preset) {
    switch (preset) {
    case SizePreset::px640:
        return QStringLiteral("640");
    case SizePreset::px800:
        return QStringLiteral("800");
    case SizePreset::px1280:
        return QStringLiteral("1280");
    case SizePreset::px1920:
        return QStringLiteral("1920");
    case SizePreset::px2560:
        return QStringLiteral("2560");
    case SizePreset::custom:
        return QStringLiteral("custom");
    }
    Q_UNREACHABLE();
}

QString displayName(SizePreset preset) {
    if (preset == SizePreset::custom)
        return QStringLiteral("カスタム");
    return storageValue(preset) + QStringLiteral(" px");
}

std::optional<SizePreset> fromStorageValue(const std::optional<QString>& value) {
    if (!value)
        return std::nullopt;
    for (SizePreset preset : allCases) {
        if (storageValue(preset) == *value)
            return preset;
    }
    return std::nullopt;
}

std::optional<std::int64_t> fixedLongEdge(SizePreset preset) {
    switch (preset) {
    case SizePreset::px640:
        return 640;
    case SizePreset::px800:
        return 800;
    case SizePreset::px1280:
        return 1280;
    case SizePreset::px1920:
        return 1920;
    case SizePreset::px2560:
        return 2560;
    case SizePreset::custom:
        return std::nullopt;
    }
    Q_UNREACHABLE();
}

} // namespace SizePresets

namespace OutputFormats {

QString storageValue(OutputFormat format) {
    switch (format) {
    case OutputFormat::keepOriginal:
        return QStringLiteral("keep");
    case OutputFormat::jpeg:
        return QStringLiteral("jpeg");
    case OutputFormat::png:
        return QStringLiteral("png");
    }
    Q_UNREACHABLE();
}

QString displayName(OutputFormat format) {
    switch (format) {
    case OutputFormat::keepOriginal:
        return QStringLiteral("元と同じ");
    case OutputFormat::jpeg:
        return QStringLiteral("JPEG");
    case OutputFormat::png:
        return QStringLiteral("PNG");
    }
    Q_UNREACHABLE();
}

std::optional<OutputFormat> fromStorageValue(const std::optional<QString>& value) {
    if (!value)
        return std::nullopt;
    for (OutputFormat format : allCases) {
        if (storageValue(format) == *value)
            return format;
    }
    return std::nullopt;
}

OutputType resolvedUTType(OutputFormat format, const QString& sourceExtension) {
    switch (format) {
    case OutputFormat::jpeg:
        return OutputType::jpeg;
    case OutputFormat::png:
        return OutputType::png;
    case OutputFormat::keepOriginal:
        break;
    }
    const QString ext = sourceExtension.toLower();
    if (ext == u"jpg" || ext == u"jpeg" || ext == u"jpe")
        return OutputType::jpeg;
    if (ext == u"png")
        return OutputType::png;
    if (ext == u"heic" || ext == u"heif")
        return OutputType::heic;
    if (ext == u"tif" || ext == u"tiff")
        return OutputType::tiff;
    return OutputType::jpeg;
}

} // namespace OutputFormats

ResizeSettingsSnapshot SettingsValues::snapshot() const {
    ResizeSettingsSnapshot s;
    s.longEdgePx = SizePresets::fixedLongEdge(preset).value_or(
        std::max(customLongEdge, SettingsDefaults::minimumCustomLongEdge));
    s.jpegQuality = jpegQuality;
    s.outputFormat = outputFormat;
    s.preserveExif = preserveExif;
    s.skipUpscale = skipUpscale;
    s.outputFolderName = outputFolderName;
    s.filenamePrefix = filenamePrefix;
    return s;
}
