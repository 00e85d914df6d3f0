// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/ResizeSettings.h"
#include "Settings/SettingsStore.h"
#include "Views/SettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

// The panel on a settings object whose store is a file in a temporary folder,
// so every check can look at what would persist.
class SettingsPanelTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<ResizeSettings> m_settings;
    std::unique_ptr<SettingsPanel> m_panel;

    template <typename T> T* child(const char* name) const {
        T* widget = m_panel->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no %s", name);
        return widget;
    }

private Q_SLOTS:
    void init() {
        m_store = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.json")));
        m_settings = std::make_unique<ResizeSettings>(m_store.get());
        m_panel = std::make_unique<SettingsPanel>(*m_settings);
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    }

    void cleanup() {
        m_panel.reset();
        m_settings.reset();
        m_store.reset();
        QFile::remove(m_dir.filePath(QStringLiteral("settings.json")));
    }

    void showsDefaults() {
        QCOMPARE(child<QComboBox>("preset")->currentText(), QStringLiteral("1280 px"));
        QVERIFY(!child<QWidget>("customRow")->isVisible());
        QCOMPARE(child<QLabel>("qualityValue")->text(), QStringLiteral("85%"));
        QVERIFY(child<QToolButton>("format_keep")->isChecked());
        QCOMPARE(child<QToolButton>("format_keep")->text(), QStringLiteral("元と同じ"));
        QVERIFY(child<QLineEdit>("prefix")->text().isEmpty());
        QCOMPARE(child<QLineEdit>("prefix")->placeholderText(), QStringLiteral("なし"));
        QCOMPARE(child<QLineEdit>("folder")->text(), QStringLiteral("Resized"));
        QVERIFY(!child<QCheckBox>("preserveExif")->isChecked());
        QVERIFY(child<QCheckBox>("skipUpscale")->isChecked());
        QVERIFY(!child<QLabel>("notice")->isVisible());
        QVERIFY(m_store->isEmpty());
    }

    void customLongEdgeIsClamped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("stored");
        for (const auto& [typed, stored] : {std::pair{"5", 10LL},
                                            {"40000", 30000LL},
                                            {"2000", 2000LL},
                                            {"30000", 30000LL},
                                            {"-3", 10LL},
                                            {"abc", 1280LL}})
            QTest::newRow(typed) << QString::fromLatin1(typed) << stored;
    }

    void customLongEdgeIsClamped() {
        QFETCH(QString, typed);
        QFETCH(qint64, stored);

        auto* preset = child<QComboBox>("preset");
        QCOMPARE(preset->itemText(preset->count() - 1), QStringLiteral("カスタム"));
        preset->setCurrentIndex(preset->count() - 1);
        Q_EMIT preset->activated(preset->count() - 1);
        QCOMPARE(m_settings->preset(), SizePreset::custom);
        QVERIFY(child<QWidget>("customRow")->isVisible());
        auto* field = child<QLineEdit>("customLongEdge");
        QCOMPARE(field->text(), QLocale().toString(1280));

        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);

        QCOMPARE(m_settings->customLongEdge(), stored);
        QCOMPARE(field->text(), QLocale().toString(qlonglong(stored)));
        if (typed != QStringLiteral("abc"))
            QCOMPARE(m_store->value(QStringLiteral("customLongEdge")).toInteger(), stored);
    }

    void qualityIsTruncated() {
        const std::pair<double, const char*> shown[] = {
            {0.29, "28%"}, {0.85, "85%"}, {1.0, "100%"}, {0.0, "0%"}, {0.999, "99%"}};
        for (const auto& [quality, text] : shown) {
            m_settings->setJpegQuality(quality);
            QCOMPARE(child<QLabel>("qualityValue")->text(), QLatin1String(text));
            QCOMPARE(m_settings->jpegQuality(), quality); // showing never writes back
        }
    }

    void controlsWriteTheSettings() {
        auto* slider = child<QSlider>("quality");
        slider->setValue(29);
        QCOMPARE(m_store->value(QStringLiteral("jpegQuality")).toDouble(), 0.29);
        QCOMPARE(child<QLabel>("qualityValue")->text(), QStringLiteral("28%"));
        slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(m_store->value(QStringLiteral("jpegQuality")).toDouble(), 0.30);

        QTest::mouseClick(child<QToolButton>("format_png"), Qt::LeftButton);
        QCOMPARE(m_settings->outputFormat(), OutputFormat::png);
        QCOMPARE(m_store->text(QStringLiteral("outputFormat")), QStringLiteral("png"));

        const QString longPrefix(60, QLatin1Char('p'));
        QTest::keyClicks(child<QLineEdit>("prefix"), longPrefix);
        QCOMPARE(m_store->text(QStringLiteral("filenamePrefix")), longPrefix);

        auto* folder = child<QLineEdit>("folder");
        folder->selectAll();
        QTest::keyClick(folder, Qt::Key_Backspace);
        QCOMPARE(m_store->text(QStringLiteral("outputFolderName")), QString(""));

        QTest::mouseClick(child<QCheckBox>("preserveExif"), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>("skipUpscale"), Qt::LeftButton);
        QCOMPARE(m_store->value(QStringLiteral("preserveExif")).toBool(false), true);
        QCOMPARE(m_store->value(QStringLiteral("skipUpscale")).toBool(true), false);

        auto* preset = child<QComboBox>("preset");
        preset->setCurrentIndex(3);
        Q_EMIT preset->activated(3);
        QCOMPARE(m_store->text(QStringLiteral("preset")), QStringLiteral("1920"));
    }

    void customRowFollowsTheSettings() {
        m_settings->setPreset(SizePreset::custom);
        m_settings->setCustomLongEdge(2400);
        QVERIFY(child<QWidget>("customRow")->isVisible());
        QCOMPARE(child<QLineEdit>("customLongEdge")->text(), QLocale().toString(2400));

        // Out of range while the custom row is shown: pulled back in.
        m_settings->setCustomLongEdge(50000);
        QCOMPARE(m_settings->customLongEdge(), 30000);
        // Hidden row: the value is left alone.
        m_settings->setPreset(SizePreset::px640);
        QVERIFY(!child<QWidget>("customRow")->isVisible());
        m_settings->setCustomLongEdge(50000);
        QCOMPARE(m_settings->customLongEdge(), 50000);
    }

    void noticeWhileProcessing() {
        auto* notice = child<QLabel>("notice");
        m_panel->setIsProcessing(true);
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), QStringLiteral("処理中 — 設定変更は次のバッチから適用されます"));
        // Between the title and the size section.
        auto* layout = qobject_cast<QVBoxLayout*>(m_panel->widget()->layout());
        QCOMPARE(layout->indexOf(notice), 1);
        // Nothing is locked meanwhile.
        for (QWidget* control : m_panel->widget()->findChildren<QWidget*>())
            QVERIFY(control->isEnabled());
        m_panel->setIsProcessing(false);
        QVERIFY(!notice->isVisible());
    }
};

QTEST_MAIN(SettingsPanelTest)
#include "tst_SettingsPanel.moc"
