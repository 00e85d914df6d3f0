// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/SettingsValues.h"

#include "Settings/ResizeSettingsSnapshot.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>

namespace {

// One row per case, in declaration order; 0 marks the custom long edge.
struct PresetRow {
    const char* storageValue;
    std::int64_t longEdge;
};
constexpr std::array<PresetRow, 6> presetRows{{
    {"640", 640},
    {"800", 800},
    {"1280", 1280},
    {"1920", 1920},
    {"2560", 2560},
    {"custom", 0},
}};

struct FormatRow {
    const char* storageValue;
    const char* displayName; // UTF-8, a translation key
};
constexpr std::array<FormatRow, 5> formatRows{{
    {"keep", QT_TRANSLATE_NOOP("OutputFormat", "元と同じ")},
    {"jpeg", "JPEG"},
    {"png", "PNG"},
    {"webp", "WebP"},
    {"avif", "AVIF"},
}};

// The case whose storage value is exactly `value`.
template <typename Case, size_t N, typename Row>
std::optional<Case> caseFor(const std::array<Row, N>& rows, const std::array<Case, N>& cases,
                            const std::optional<QString>& value) {
    if (!value)
        return std::nullopt;
    for (size_t i = 0; i < N; ++i) {
        if (*value == QLatin1String(rows[i].storageValue))
            return cases[i];
    }
    return std::nullopt;
}

} // namespace

namespace SizePresets {

QString storageValue(SizePreset preset) {
    return QString::fromLatin1(presetRows[size_t(preset)].storageValue);
}

QString displayName(SizePreset preset) {
    if (preset == SizePreset::custom)
        return QCoreApplication::translate("SizePreset", "カスタム");
    return storageValue(preset) + QStringLiteral(" px");
}

std::optional<SizePreset> fromStorageValue(const std::optional<QString>& value) {
    return caseFor(presetRows, allCases, value);
}

std::optional<std::int64_t> fixedLongEdge(SizePreset preset) {
    const std::int64_t edge = presetRows[size_t(preset)].longEdge;
    return edge > 0 ? std::optional(edge) : std::nullopt;
}

} // namespace SizePresets

namespace OutputFormats {

QString storageValue(OutputFormat format) {
    return QString::fromLatin1(formatRows[size_t(format)].storageValue);
}

QString displayName(OutputFormat format) {
    return QCoreApplication::translate("OutputFormat", formatRows[size_t(format)].displayName);
}

std::optional<OutputFormat> fromStorageValue(const std::optional<QString>& value) {
    return caseFor(formatRows, allCases, value);
}

OutputType resolvedUTType(OutputFormat format, const QString& sourceExtension) {
    switch (format) {
    case OutputFormat::jpeg:
        return OutputType::jpeg;
    case OutputFormat::png:
        return OutputType::png;
    case OutputFormat::webp:
        return OutputType::webp;
    case OutputFormat::avif:
        return OutputType::avif;
    case OutputFormat::keepOriginal:
        break;
    }
    return OutputTypes::forSourceExtension(sourceExtension).value_or(OutputType::jpeg);
}

} // namespace OutputFormats

ResizeSettingsSnapshot SettingsValues::snapshot() const {
    ResizeSettingsSnapshot s;
    static_cast<OutputChoices&>(s) = *this;
    s.longEdgePx = SizePresets::fixedLongEdge(preset).value_or(
        std::max(customLongEdge, SettingsDefaults::minimumCustomLongEdge));
    return s;
}
