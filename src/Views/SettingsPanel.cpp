// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/SettingsPanel.h"

#include "Models/ByteSizes.h"

#include "Settings/ResizeSettings.h"
#include "Views/Style.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <tuple>

namespace {

// A check box whose label is a title over a caption; clicking anywhere on the
// row toggles it, as clicking a check box's own text would.
class ToggleRow : public QWidget {
public:
    ToggleRow(QCheckBox*& box, QLabel*& title, QLabel*& caption, QWidget* parent)
        : QWidget(parent) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        box = m_box = new QCheckBox(this);
        auto* labels = new QVBoxLayout;
        labels->setSpacing(2);
        title = new QLabel(this);
        caption = new QLabel(this);
        caption->setWordWrap(true);
        Style::applyText(caption, Style::TextRole::caption, Style::Tone::secondary);
        labels->addWidget(title);
        labels->addWidget(caption);
        row->addWidget(box, 0, Qt::AlignTop);
        row->addLayout(labels, 1);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            m_box->click();
    }

private:
    QCheckBox* m_box;
};

QLabel* sectionHeader(QWidget* parent) {
    auto* label = new QLabel(parent);
    Style::applyText(label, Style::TextRole::subheadline, Style::Tone::secondary);
    return label;
}

// The file-size limits offered: none, then what upload forms and mail ask for.
constexpr std::int64_t maxBytesPresets[] = {0,         200'000,   500'000,  1'000'000,
                                            2'000'000, 5'000'000, 8'000'000};

QVBoxLayout* section(QVBoxLayout* panel) {
    auto* box = new QVBoxLayout;
    box->setSpacing(6);
    panel->addLayout(box);
    return box;
}

QLabel* hint(QWidget* parent) {
    auto* label = new QLabel(parent);
    Style::applyText(label, Style::TextRole::caption, Style::Tone::tertiary);
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return label;
}

// A section of a header over a text field with a short hint beside it.
void addTextFieldSection(QVBoxLayout* panel, QWidget* content, const char* name, QLabel*& header,
                         QLineEdit*& field, QLabel*& fieldHint) {
    panel->addWidget(Style::separator(content));
    QVBoxLayout* layout = section(panel);
    header = sectionHeader(content);
    layout->addWidget(header);
    auto* row = new QHBoxLayout;
    field = new QLineEdit(content);
    field->setObjectName(QLatin1String(name));
    fieldHint = hint(content);
    row->addWidget(field, 1);
    row->addWidget(fieldHint);
    layout->addLayout(row);
}

} // namespace

SettingsPanel::SettingsPanel(ResizeSettings& settings, QWidget* parent)
    : QScrollArea(parent), m_settings(settings) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMinimumWidth(280);
    setMaximumWidth(400);
    // The area itself is no Tab stop: focus goes to its controls.
    setFocusPolicy(Qt::NoFocus);

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("settingsContent"));
    m_layout = new QVBoxLayout(content);
    m_layout->setSpacing(14);
    m_layout->setContentsMargins(Style::standardMargin, Style::standardMargin,
                                 Style::standardMargin, Style::standardMargin);

    // 1. Title, 2. the notice while a batch runs.
    m_title = new QLabel(content);
    Style::applyText(m_title, Style::TextRole::headline);
    m_layout->addWidget(m_title);
    m_notice = new QLabel(content);
    m_notice->setObjectName(QStringLiteral("notice"));
    m_notice->setWordWrap(true);
    Style::applyText(m_notice, Style::TextRole::caption, Style::Tone::orange);
    // Its place is kept while it is hidden, so that the controls below do not
    // move when a batch starts and ends.
    QSizePolicy noticePolicy = m_notice->sizePolicy();
    noticePolicy.setRetainSizeWhenHidden(true);
    m_notice->setSizePolicy(noticePolicy);
    m_notice->hide();
    m_layout->addWidget(m_notice);

    // 3. Long edge.
    QVBoxLayout* size = section(m_layout);
    m_sizeHeader = sectionHeader(content);
    size->addWidget(m_sizeHeader);
    m_preset = new QComboBox(content);
    m_preset->setObjectName(QStringLiteral("preset"));
    for (SizePreset preset : SizePresets::allCases)
        m_preset->addItem(SizePresets::displayName(preset), int(preset));
    size->addWidget(m_preset);
    m_customRow = new QWidget(content);
    m_customRow->setObjectName(QStringLiteral("customRow"));
    auto* customLayout = new QHBoxLayout(m_customRow);
    customLayout->setContentsMargins(0, 0, 0, 0);
    m_customLongEdge = new QLineEdit(m_customRow);
    m_customLongEdge->setObjectName(QStringLiteral("customLongEdge"));
    m_customLongEdge->setFixedWidth(100);
    m_customLongEdge->setAlignment(Qt::AlignRight);
    m_customUnit = new QLabel(m_customRow);
    Style::applyText(m_customUnit, Style::TextRole::body, Style::Tone::secondary);
    customLayout->addWidget(m_customLongEdge);
    customLayout->addWidget(m_customUnit);
    customLayout->addStretch(1);
    size->addWidget(m_customRow);

    // 4, 5. Quality.
    m_layout->addWidget(Style::separator(content));
    QVBoxLayout* quality = section(m_layout);
    auto* qualityRow = new QHBoxLayout;
    m_qualityHeader = sectionHeader(content);
    m_qualityValue = sectionHeader(content);
    m_qualityValue->setObjectName(QStringLiteral("qualityValue"));
    qualityRow->addWidget(m_qualityHeader);
    qualityRow->addStretch(1);
    qualityRow->addWidget(m_qualityValue);
    quality->addLayout(qualityRow);
    m_quality = new QSlider(Qt::Horizontal, content);
    m_quality->setObjectName(QStringLiteral("quality"));
    m_quality->setRange(0, 100); // steps of 0.01
    m_quality->setSingleStep(1);
    m_quality->setPageStep(10);
    quality->addWidget(m_quality);

    // The file-size limit, which gives way to quality first.
    QVBoxLayout* limit = section(m_layout);
    m_maxBytesHeader = sectionHeader(content);
    limit->addWidget(m_maxBytesHeader);
    m_maxBytes = new QComboBox(content);
    m_maxBytes->setObjectName(QStringLiteral("maxFileBytes"));
    for (const std::int64_t bytes : maxBytesPresets)
        m_maxBytes->addItem(bytes ? ByteSizes::text(bytes) : QString(), qint64(bytes));
    m_maxBytes->addItem(QString(), qint64(-1)); // custom
    limit->addWidget(m_maxBytes);
    m_maxBytesCustomRow = new QWidget(content);
    m_maxBytesCustomRow->setObjectName(QStringLiteral("maxBytesCustomRow"));
    auto* maxBytesLayout = new QHBoxLayout(m_maxBytesCustomRow);
    maxBytesLayout->setContentsMargins(0, 0, 0, 0);
    m_maxBytesCustom = new QLineEdit(m_maxBytesCustomRow);
    m_maxBytesCustom->setObjectName(QStringLiteral("maxBytesCustom"));
    m_maxBytesCustom->setFixedWidth(100);
    m_maxBytesCustom->setAlignment(Qt::AlignRight);
    m_maxBytesUnit = new QLabel(m_maxBytesCustomRow);
    Style::applyText(m_maxBytesUnit, Style::TextRole::body, Style::Tone::secondary);
    maxBytesLayout->addWidget(m_maxBytesCustom);
    maxBytesLayout->addWidget(m_maxBytesUnit);
    maxBytesLayout->addStretch(1);
    limit->addWidget(m_maxBytesCustomRow);

    // 6, 7. Output format, as one segmented control.
    m_layout->addWidget(Style::separator(content));
    QVBoxLayout* format = section(m_layout);
    m_formatHeader = sectionHeader(content);
    format->addWidget(m_formatHeader);
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    m_format = new QButtonGroup(this);
    m_format->setExclusive(true);
    for (OutputFormat f : OutputFormats::allCases) {
        auto* segment = new QToolButton(content);
        segment->setObjectName(QStringLiteral("format_") + OutputFormats::storageValue(f));
        segment->setText(OutputFormats::displayName(f));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_format->addButton(segment, int(f));
        segments->addWidget(segment);
    }
    format->addLayout(segments);

    // 8 to 11. Prefix, then output folder.
    addTextFieldSection(m_layout, content, "prefix", m_prefixHeader, m_prefix, m_prefixHint);
    addTextFieldSection(m_layout, content, "folder", m_folderHeader, m_folder, m_folderHint);

    // 12, 13, 14. The two toggles, with no divider between them.
    m_layout->addWidget(Style::separator(content));
    m_layout->addWidget(
        new ToggleRow(m_preserveExif, m_preserveExifTitle, m_preserveExifCaption, content));
    m_preserveExif->setObjectName(QStringLiteral("preserveExif"));
    m_layout->addWidget(
        new ToggleRow(m_skipUpscale, m_skipUpscaleTitle, m_skipUpscaleCaption, content));
    m_skipUpscale->setObjectName(QStringLiteral("skipUpscale"));
    m_layout->addStretch(1);
    setWidget(content);

    // Each control is named by the label the eye reads for it.
    m_sizeHeader->setBuddy(m_preset);
    m_customUnit->setBuddy(m_customLongEdge);
    m_qualityHeader->setBuddy(m_quality);
    m_maxBytesHeader->setBuddy(m_maxBytes);
    m_maxBytesUnit->setBuddy(m_maxBytesCustom);
    m_prefixHeader->setBuddy(m_prefix);
    m_folderHeader->setBuddy(m_folder);
    m_preserveExifTitle->setBuddy(m_preserveExif);
    m_skipUpscaleTitle->setBuddy(m_skipUpscale);

    // Controls to settings. Only what the user does writes (clicked,
    // activated, textEdited): showing a value must not write it to the store.
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        m_settings.setPreset(SizePreset(m_preset->itemData(index).toInt()));
    });
    connect(m_customLongEdge, &QLineEdit::editingFinished, this,
            &SettingsPanel::commitCustomLongEdge);
    connect(m_quality, &QSlider::valueChanged, this,
            [this](int value) { m_settings.setJpegQuality(value / 100.0); });
    connect(m_maxBytes, &QComboBox::activated, this, [this](int index) {
        const qint64 bytes = m_maxBytes->itemData(index).toLongLong();
        if (bytes >= 0) {
            m_customMaxBytesChosen = false;
            m_settings.setMaxFileBytes(bytes);
            showMaxFileBytes();
            return;
        }
        // Custom: the row opens with the current limit, or 1 MB.
        m_customMaxBytesChosen = true;
        if (m_settings.maxFileBytes() == 0)
            m_settings.setMaxFileBytes(1'000'000);
        showMaxFileBytes();
        m_maxBytesCustom->setFocus();
    });
    connect(m_maxBytesCustom, &QLineEdit::editingFinished, this,
            &SettingsPanel::commitCustomMaxBytes);
    connect(m_format, &QButtonGroup::idClicked, this,
            [this](int id) { m_settings.setOutputFormat(OutputFormat(id)); });
    connect(m_prefix, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_settings.setFilenamePrefix(text); });
    connect(m_folder, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_settings.setOutputFolderName(text); });
    connect(m_preserveExif, &QCheckBox::clicked, this,
            [this](bool on) { m_settings.setPreserveExif(on); });
    connect(m_skipUpscale, &QCheckBox::clicked, this,
            [this](bool on) { m_settings.setSkipUpscale(on); });

    // Settings to controls. Each reads the current value rather than the
    // signal's: the clamp below changes the value again from inside a signal.
    connect(&m_settings, &ResizeSettings::presetChanged, this, &SettingsPanel::showPreset);
    connect(&m_settings, &ResizeSettings::customLongEdgeChanged, this,
            &SettingsPanel::customLongEdgeChanged);
    connect(&m_settings, &ResizeSettings::jpegQualityChanged, this, &SettingsPanel::showQuality);
    connect(&m_settings, &ResizeSettings::maxFileBytesChanged, this,
            &SettingsPanel::showMaxFileBytes);
    connect(&m_settings, &ResizeSettings::outputFormatChanged, this,
            &SettingsPanel::showOutputFormat);
    connect(&m_settings, &ResizeSettings::filenamePrefixChanged, this, [this] {
        if (m_prefix->text() != m_settings.filenamePrefix())
            m_prefix->setText(m_settings.filenamePrefix());
    });
    connect(&m_settings, &ResizeSettings::outputFolderNameChanged, this, [this] {
        if (m_folder->text() != m_settings.outputFolderName())
            m_folder->setText(m_settings.outputFolderName());
    });
    connect(&m_settings, &ResizeSettings::preserveExifChanged, this,
            [this] { m_preserveExif->setChecked(m_settings.preserveExif()); });
    connect(&m_settings, &ResizeSettings::skipUpscaleChanged, this,
            [this] { m_skipUpscale->setChecked(m_settings.skipUpscale()); });

    showPreset();
    showCustomLongEdge();
    showQuality();
    showPlaceholders();
    showMaxFileBytes();
    showOutputFormat();
    m_prefix->setText(m_settings.filenamePrefix());
    m_folder->setText(m_settings.outputFolderName());
    m_preserveExif->setChecked(m_settings.preserveExif());
    m_skipUpscale->setChecked(m_settings.skipUpscale());
    retranslate();
}

QSize SettingsPanel::sizeHint() const {
    return {340, QScrollArea::sizeHint().height()};
}

void SettingsPanel::setIsProcessing(bool isProcessing) {
    if (m_isProcessing == isProcessing)
        return;
    m_isProcessing = isProcessing;
    m_notice->setVisible(isProcessing);
}

long long SettingsPanel::qualityPercent(double quality) {
    const double percent = std::trunc(quality * 100.0);
    if (!(percent >= -1e15 && percent <= 1e15)) // not a number or far outside 0…100
        return 0;
    return static_cast<long long>(percent);
}

QString SettingsPanel::qualityText(double quality) {
    QString format = tr("%lld%");
    format.replace(QLatin1String("%lld"), QString::number(qualityPercent(quality)));
    return format;
}

void SettingsPanel::showPreset() {
    const int index = m_preset->findData(int(m_settings.preset()));
    if (m_preset->currentIndex() != index)
        m_preset->setCurrentIndex(index);
    m_customRow->setVisible(m_settings.preset() == SizePreset::custom);
}

void SettingsPanel::showCustomLongEdge() {
    m_customLongEdge->setText(QLocale().toString(qlonglong(m_settings.customLongEdge())));
}

void SettingsPanel::commitCustomLongEdge() {
    const QString text = m_customLongEdge->text().trimmed();
    bool ok = false;
    qlonglong value = QLocale().toLongLong(text, &ok);
    if (!ok)
        value = QLocale::c().toLongLong(text, &ok); // digits typed without grouping
    if (ok)
        m_settings.setCustomLongEdge(value);
    // Also shows the value again after text that is no number, and puts the
    // grouping back after digits typed without it.
    showCustomLongEdge();
}

void SettingsPanel::customLongEdgeChanged() {
    // While the custom row is shown, a value outside 10…30000 is pulled back
    // into range; the settings object then signals once more with it.
    if (m_settings.preset() == SizePreset::custom) {
        const std::int64_t value = m_settings.customLongEdge();
        const std::int64_t clamped = SettingsDefaults::clampedCustomLongEdge(value);
        if (clamped != value)
            m_settings.setCustomLongEdge(clamped);
    }
    showCustomLongEdge();
}

void SettingsPanel::showQuality() {
    const double quality = m_settings.jpegQuality();
    m_qualityValue->setText(qualityText(quality));
    const QSignalBlocker block(m_quality);
    m_quality->setValue(int(std::lround(quality * 100.0)));
}

void SettingsPanel::showMaxFileBytes() {
    const std::int64_t bytes = m_settings.maxFileBytes();
    int index = m_customMaxBytesChosen ? -1 : m_maxBytes->findData(qint64(bytes));
    if (index < 0)
        index = m_maxBytes->count() - 1; // custom
    if (m_maxBytes->currentIndex() != index)
        m_maxBytes->setCurrentIndex(index);
    const bool custom = index == m_maxBytes->count() - 1;
    m_maxBytesCustomRow->setVisible(custom);
    if (custom)
        m_maxBytesCustom->setText(QLocale().toString(double(bytes) / 1000.0, 'g', 10));
}

void SettingsPanel::commitCustomMaxBytes() {
    const QString text = m_maxBytesCustom->text().trimmed();
    bool ok = false;
    double kilobytes = QLocale().toDouble(text, &ok);
    if (!ok)
        kilobytes = QLocale::c().toDouble(text, &ok);
    if (ok && kilobytes > 0 && kilobytes < 1e9)
        m_settings.setMaxFileBytes(
            SettingsDefaults::validMaxFileBytes(std::llround(kilobytes * 1000.0)));
    showMaxFileBytes(); // also after text that is no number
}

void SettingsPanel::showOutputFormat() {
    if (QAbstractButton* segment = m_format->button(int(m_settings.outputFormat())))
        segment->setChecked(true);
}

void SettingsPanel::retranslate() {
    m_title->setText(tr("リサイズ設定"));
    m_notice->setText(tr("処理中 — 設定変更は次のバッチから適用されます"));
    m_sizeHeader->setText(tr("長辺サイズ"));
    m_preset->setAccessibleName(m_sizeHeader->text());
    m_preset->view()->setAccessibleName(m_sizeHeader->text()); // its pop-up list
    m_customLongEdge->setAccessibleName(tr("長辺サイズ (px)"));
    m_customLongEdge->setPlaceholderText(tr("px"));
    m_customUnit->setText(tr("px"));
    m_qualityHeader->setText(tr("JPEG画質"));
    m_qualityValue->setText(qualityText(m_settings.jpegQuality()));
    m_quality->setAccessibleName(m_qualityHeader->text());
    m_maxBytesHeader->setText(tr("ファイルサイズの上限"));
    m_maxBytes->setItemText(0, tr("なし"));
    m_maxBytes->setItemText(m_maxBytes->count() - 1, tr("カスタム"));
    m_maxBytes->setAccessibleName(m_maxBytesHeader->text());
    m_maxBytes->view()->setAccessibleName(m_maxBytesHeader->text());
    m_maxBytesCustom->setAccessibleName(tr("ファイルサイズの上限 (KB)"));
    m_maxBytesUnit->setText(tr("KB"));
    m_formatHeader->setText(tr("出力フォーマット"));
    m_prefixHeader->setText(tr("ファイル名プレフィックス"));
    m_prefix->setPlaceholderText(tr("なし"));
    m_prefixHint->setText(tr("例: thumb_"));
    m_folderHeader->setText(tr("保存先フォルダ名"));
    m_folder->setPlaceholderText(tr("Resized"));
    m_folderHint->setText(tr("(元画像と同じ階層に作成)"));
    m_preserveExifTitle->setText(tr("EXIF・GPS情報を保持"));
    m_preserveExifCaption->setText(tr("オフにするとプライバシー情報を削除"));
    m_skipUpscaleTitle->setText(tr("拡大しない"));
    m_skipUpscaleCaption->setText(tr("元画像が小さい場合はリサイズせず再エンコードのみ"));
    for (auto [field, header, fieldHint] : {std::tuple(m_prefix, m_prefixHeader, m_prefixHint),
                                            std::tuple(m_folder, m_folderHeader, m_folderHint)}) {
        field->setAccessibleName(header->text());
        field->setAccessibleDescription(fieldHint->text());
    }
    for (auto [box, title, caption] :
         {std::tuple(m_preserveExif, m_preserveExifTitle, m_preserveExifCaption),
          std::tuple(m_skipUpscale, m_skipUpscaleTitle, m_skipUpscaleCaption)}) {
        box->setAccessibleName(title->text());
        box->setAccessibleDescription(caption->text());
    }
}

void SettingsPanel::showPlaceholders() {
    // Themes give placeholders as little as 2:1 against the field; they get
    // the fields' own text faded no further than 4.5:1, as every hint here.
    QPalette field = palette();
    field.setColor(QPalette::WindowText, field.color(QPalette::Text));
    field.setColor(QPalette::Window, field.color(QPalette::Base));
    const QColor hint = Style::secondary(field);
    for (QLineEdit* edit : {m_customLongEdge, m_maxBytesCustom, m_prefix, m_folder}) {
        QPalette own = edit->palette();
        own.setColor(QPalette::PlaceholderText, hint);
        edit->setPalette(own);
    }
}

void SettingsPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    else if (event->type() == QEvent::PaletteChange)
        showPlaceholders();
    QScrollArea::changeEvent(event);
}
