// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/ResizeSettings.h"

#include "Models/Characters.h"
#include "Settings/SettingsStore.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace {

const QString presetKey = QStringLiteral("preset");
const QString customLongEdgeKey = QStringLiteral("customLongEdge");
const QString jpegQualityKey = QStringLiteral("jpegQuality");
const QString outputFormatKey = QStringLiteral("outputFormat");
const QString preserveExifKey = QStringLiteral("preserveExif");
const QString skipUpscaleKey = QStringLiteral("skipUpscale");
const QString outputFolderNameKey = QStringLiteral("outputFolderName");
const QString filenamePrefixKey = QStringLiteral("filenamePrefix");

// A JSON number counts as an integer only when it holds one exactly.
std::optional<std::int64_t> exactInteger(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // 2^63 itself is not representable as int64; everything below it is.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number != std::trunc(number) || number < -limit ||
        number >= limit)
        return std::nullopt;
    return static_cast<std::int64_t>(number);
}

std::optional<bool> boolean(const QJsonValue& value) {
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

// Assigns and writes through; signals only a real change.
template <typename T, typename Write, typename Signal>
void assign(T& field, const T& value, Write write, Signal changed) {
    const bool differs = !(field == value);
    field = value;
    write();
    if (differs)
        changed();
}

} // namespace

ResizeSettings::ResizeSettings(SettingsStore* store, QObject* parent)
    : QObject(parent), m_store(store ? *store : SettingsStore::standard()) {
    namespace defaults = SettingsDefaults;
    m_values.preset =
        SizePresets::fromStorageValue(m_store.text(presetKey)).value_or(defaults::preset);
    m_values.customLongEdge = defaults::clampedCustomLongEdge(
        exactInteger(m_store.value(customLongEdgeKey)).value_or(defaults::customLongEdge));

    const QJsonValue quality = m_store.value(jpegQualityKey);
    double q = quality.isDouble() ? quality.toDouble() : defaults::jpegQuality;
    if (!(q >= 0.0))
        q = 0.0;
    if (!(q < 1.0))
        q = 1.0;
    m_values.jpegQuality = q;

    m_values.outputFormat = OutputFormats::fromStorageValue(m_store.text(outputFormatKey))
                                .value_or(defaults::outputFormat);
    m_values.preserveExif =
        boolean(m_store.value(preserveExifKey)).value_or(defaults::preserveExif);
    m_values.skipUpscale = boolean(m_store.value(skipUpscaleKey)).value_or(defaults::skipUpscale);

    const std::optional<QString> folder = m_store.text(outputFolderNameKey);
    if (folder && !folder->isEmpty())
        m_values.outputFolderName = *folder;

    m_values.filenamePrefix = Characters::prefix(
        m_store.text(filenamePrefixKey).value_or(QString()), defaults::maximumPrefixCharacters);
}

void ResizeSettings::setPreset(SizePreset value) {
    assign(
        m_values.preset, value,
        [&] { m_store.setText(presetKey, SizePresets::storageValue(value)); },
        [&] { Q_EMIT presetChanged(value); });
}

void ResizeSettings::setCustomLongEdge(std::int64_t value) {
    assign(
        m_values.customLongEdge, value, [&] { m_store.setInteger(customLongEdgeKey, value); },
        [&] { Q_EMIT customLongEdgeChanged(value); });
}

void ResizeSettings::setJpegQuality(double value) {
    assign(
        m_values.jpegQuality, value, [&] { m_store.setDouble(jpegQualityKey, value); },
        [&] { Q_EMIT jpegQualityChanged(value); });
}

void ResizeSettings::setOutputFormat(OutputFormat value) {
    assign(
        m_values.outputFormat, value,
        [&] { m_store.setText(outputFormatKey, OutputFormats::storageValue(value)); },
        [&] { Q_EMIT outputFormatChanged(value); });
}

void ResizeSettings::setPreserveExif(bool value) {
    assign(
        m_values.preserveExif, value, [&] { m_store.setBool(preserveExifKey, value); },
        [&] { Q_EMIT preserveExifChanged(value); });
}

void ResizeSettings::setSkipUpscale(bool value) {
    assign(
        m_values.skipUpscale, value, [&] { m_store.setBool(skipUpscaleKey, value); },
        [&] { Q_EMIT skipUpscaleChanged(value); });
}

void ResizeSettings::setOutputFolderName(const QString& value) {
    assign(
        m_values.outputFolderName, value, [&] { m_store.setText(outputFolderNameKey, value); },
        [&] { Q_EMIT outputFolderNameChanged(value); });
}

void ResizeSettings::setFilenamePrefix(const QString& value) {
    assign(
        m_values.filenamePrefix, value, [&] { m_store.setText(filenamePrefixKey, value); },
        [&] { Q_EMIT filenamePrefixChanged(value); });
}
