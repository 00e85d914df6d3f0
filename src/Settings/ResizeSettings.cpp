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
const QString maxFileBytesKey = QStringLiteral("maxFileBytes");

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
    m_values.maxFileBytes = defaults::validMaxFileBytes(
        exactInteger(m_store.value(maxFileBytesKey)).value_or(defaults::maxFileBytes));
}

namespace {

QJsonValue stored(SizePreset value) {
    return SizePresets::storageValue(value);
}
QJsonValue stored(OutputFormat value) {
    return OutputFormats::storageValue(value);
}
QJsonValue stored(std::int64_t value) {
    return qint64(value);
}
QJsonValue stored(double value) {
    return value;
}
QJsonValue stored(bool value) {
    return value;
}
QJsonValue stored(const QString& value) {
    return value;
}

} // namespace

// Every assignment writes the store; only a real change is signalled.
template <typename Owner, typename T, typename Argument>
void ResizeSettings::assign(T Owner::*field, const T& value, const QString& key,
                            void (ResizeSettings::*changed)(Argument)) {
    const bool differs = !(m_values.*field == value);
    m_values.*field = value;
    m_store.setValue(key, stored(value));
    if (differs)
        Q_EMIT(this->*changed)(value);
}

void ResizeSettings::setPreset(SizePreset value) {
    assign(&SettingsValues::preset, value, presetKey, &ResizeSettings::presetChanged);
}
void ResizeSettings::setCustomLongEdge(std::int64_t value) {
    assign(&SettingsValues::customLongEdge, value, customLongEdgeKey,
           &ResizeSettings::customLongEdgeChanged);
}
void ResizeSettings::setJpegQuality(double value) {
    assign(&SettingsValues::jpegQuality, value, jpegQualityKey,
           &ResizeSettings::jpegQualityChanged);
}
void ResizeSettings::setOutputFormat(OutputFormat value) {
    assign(&SettingsValues::outputFormat, value, outputFormatKey,
           &ResizeSettings::outputFormatChanged);
}
void ResizeSettings::setPreserveExif(bool value) {
    assign(&SettingsValues::preserveExif, value, preserveExifKey,
           &ResizeSettings::preserveExifChanged);
}
void ResizeSettings::setSkipUpscale(bool value) {
    assign(&SettingsValues::skipUpscale, value, skipUpscaleKey,
           &ResizeSettings::skipUpscaleChanged);
}
void ResizeSettings::setOutputFolderName(const QString& value) {
    assign(&SettingsValues::outputFolderName, value, outputFolderNameKey,
           &ResizeSettings::outputFolderNameChanged);
}
void ResizeSettings::setFilenamePrefix(const QString& value) {
    assign(&SettingsValues::filenamePrefix, value, filenamePrefixKey,
           &ResizeSettings::filenamePrefixChanged);
}
void ResizeSettings::setMaxFileBytes(std::int64_t value) {
    assign(&SettingsValues::maxFileBytes, value, maxFileBytesKey,
           &ResizeSettings::maxFileBytesChanged);
}
