// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Settings/ResizeSettingsSnapshot.h"
#include "Settings/SettingsValues.h"

#include <QObject>
#include <QString>

#include <cstdint>

class SettingsStore;

// The window's persisted settings. Loaded from the store once; every
// assignment is written back, and only a real change is signalled.
class ResizeSettings : public QObject {
    Q_OBJECT
public:
    // Uses the process-wide store when none is given.
    explicit ResizeSettings(SettingsStore* store = nullptr, QObject* parent = nullptr);

    SizePreset preset() const { return m_values.preset; }
    std::int64_t customLongEdge() const { return m_values.customLongEdge; }
    double jpegQuality() const { return m_values.jpegQuality; }
    OutputFormat outputFormat() const { return m_values.outputFormat; }
    bool preserveExif() const { return m_values.preserveExif; }
    bool skipUpscale() const { return m_values.skipUpscale; }
    QString outputFolderName() const { return m_values.outputFolderName; }
    QString filenamePrefix() const { return m_values.filenamePrefix; }
    std::int64_t maxFileBytes() const { return m_values.maxFileBytes; }

    void setPreset(SizePreset value);
    void setCustomLongEdge(std::int64_t value);
    void setJpegQuality(double value);
    void setOutputFormat(OutputFormat value);
    void setPreserveExif(bool value);
    void setSkipUpscale(bool value);
    void setOutputFolderName(const QString& value);
    void setFilenamePrefix(const QString& value);
    void setMaxFileBytes(std::int64_t value);

    const SettingsValues& values() const { return m_values; }
    ResizeSettingsSnapshot snapshot() const { return m_values.snapshot(); }

Q_SIGNALS:
    void presetChanged(SizePreset value);
    void customLongEdgeChanged(std::int64_t value);
    void jpegQualityChanged(double value);
    void outputFormatChanged(OutputFormat value);
    void preserveExifChanged(bool value);
    void skipUpscaleChanged(bool value);
    void outputFolderNameChanged(const QString& value);
    void filenamePrefixChanged(const QString& value);
    void maxFileBytesChanged(std::int64_t value);

private:
    template <typename Owner, typename T, typename Argument>
    void assign(T Owner::*field, const T& value, const QString& key,
                void (ResizeSettings::*changed)(Argument));

    SettingsStore& m_store;
    SettingsValues m_values;
};
