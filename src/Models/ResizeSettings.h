#pragma once

#include "Models/OutputFormat.h"
#include "Models/ResizeSettingsSnapshot.h"
#include "Models/SizePreset.h"

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

    static constexpr std::int64_t defaultCustomLongEdge = 1280;
    static constexpr std::int64_t minimumCustomLongEdge = 10;
    static constexpr std::int64_t maximumCustomLongEdge = 30000;
    static constexpr double defaultJpegQuality = 0.85;
    static constexpr qsizetype maximumPrefixCharacters = 50;

    SizePreset preset() const { return m_preset; }
    std::int64_t customLongEdge() const { return m_customLongEdge; }
    double jpegQuality() const { return m_jpegQuality; }
    OutputFormat outputFormat() const { return m_outputFormat; }
    bool preserveExif() const { return m_preserveExif; }
    bool skipUpscale() const { return m_skipUpscale; }
    QString outputFolderName() const { return m_outputFolderName; }
    QString filenamePrefix() const { return m_filenamePrefix; }

    void setPreset(SizePreset value);
    void setCustomLongEdge(std::int64_t value);
    void setJpegQuality(double value);
    void setOutputFormat(OutputFormat value);
    void setPreserveExif(bool value);
    void setSkipUpscale(bool value);
    void setOutputFolderName(const QString& value);
    void setFilenamePrefix(const QString& value);

    ResizeSettingsSnapshot snapshot() const;

Q_SIGNALS:
    void presetChanged(SizePreset value);
    void customLongEdgeChanged(std::int64_t value);
    void jpegQualityChanged(double value);
    void outputFormatChanged(OutputFormat value);
    void preserveExifChanged(bool value);
    void skipUpscaleChanged(bool value);
    void outputFolderNameChanged(const QString& value);
    void filenamePrefixChanged(const QString& value);

private:
    SettingsStore& m_store;
    SizePreset m_preset = SizePreset::px1280;
    std::int64_t m_customLongEdge = defaultCustomLongEdge;
    double m_jpegQuality = defaultJpegQuality;
    OutputFormat m_outputFormat = OutputFormat::keepOriginal;
    bool m_preserveExif = false;
    bool m_skipUpscale = true;
    QString m_outputFolderName = QStringLiteral("Resized");
    QString m_filenamePrefix;
};
