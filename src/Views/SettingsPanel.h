// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QScrollArea>

#include <cstdint>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QVBoxLayout;
class ResizeSettings;

// The side panel in which the eight settings are edited. Every control writes
// straight into the settings object and follows it back, so the two never
// disagree. Nothing is locked while a batch runs: the running batch keeps its
// own snapshot, and a notice says that changes apply from the next batch.
class SettingsPanel : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsPanel(ResizeSettings& settings, QWidget* parent = nullptr);

    void setIsProcessing(bool isProcessing);
    bool isProcessing() const { return m_isProcessing; }

    // The quality as the panel shows it: truncated, not rounded, so 0.29
    // (28.999…) reads 28.
    static long long qualityPercent(double quality);
    // "%lld%" with the number put in, e.g. "85%".
    static QString qualityText(double quality);

    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void retranslate();
    void showPreset();
    void showCustomLongEdge();
    void commitCustomLongEdge();
    void customLongEdgeChanged();
    void showQuality();
    void showMaxFileBytes();
    void showPlaceholders();
    void commitCustomMaxBytes();
    void showOutputFormat();

    ResizeSettings& m_settings;
    bool m_isProcessing = false;

    QVBoxLayout* m_layout;
    QLabel* m_title;
    QLabel* m_notice;
    QLabel* m_sizeHeader;
    QComboBox* m_preset;
    QWidget* m_customRow;
    QLineEdit* m_customLongEdge;
    QLabel* m_customUnit;
    QLabel* m_qualityHeader;
    QLabel* m_qualityValue;
    QSlider* m_quality;
    QLabel* m_maxBytesHeader;
    QComboBox* m_maxBytes;
    QWidget* m_maxBytesCustomRow;
    QLineEdit* m_maxBytesCustom;
    QLabel* m_maxBytesUnit;
    bool m_customMaxBytesChosen = false; // keeps the custom row open on a preset's value
    QLabel* m_formatHeader;
    QButtonGroup* m_format;
    QLabel* m_prefixHeader;
    QLineEdit* m_prefix;
    QLabel* m_prefixHint;
    QLabel* m_folderHeader;
    QLineEdit* m_folder;
    QLabel* m_folderHint;
    QCheckBox* m_preserveExif;
    QLabel* m_preserveExifTitle;
    QLabel* m_preserveExifCaption;
    QCheckBox* m_skipUpscale;
    QLabel* m_skipUpscaleTitle;
    QLabel* m_skipUpscaleCaption;
};
