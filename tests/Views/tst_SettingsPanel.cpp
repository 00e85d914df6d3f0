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

namespace {

// The panel on settings whose store is a fresh file, so every check can look
// at what would persist.
struct Panel {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("settings.json"))};
    ResizeSettings settings{&store};
    SettingsPanel panel{settings};
    Panel() { panel.show(); }

    template <typename T> T* child(const char* name) const {
        T* widget = panel.findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no %s", name);
        return widget;
    }
};

} // namespace

class SettingsPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaultsAndTheProcessingNotice() {
        Panel p;
        QCOMPARE(p.child<QComboBox>("preset")->currentText(), QStringLiteral("1280 px"));
        QCOMPARE(p.child<QLabel>("qualityValue")->text(), QStringLiteral("85%"));
        QVERIFY(p.child<QToolButton>("format_keep")->isChecked());
        QVERIFY(p.child<QLineEdit>("prefix")->text().isEmpty());
        QCOMPARE(p.child<QLineEdit>("prefix")->placeholderText(), QStringLiteral("なし"));
        QCOMPARE(p.child<QLineEdit>("folder")->text(), QStringLiteral("Resized"));
        QVERIFY(!p.child<QCheckBox>("preserveExif")->isChecked());
        QVERIFY(p.child<QCheckBox>("skipUpscale")->isChecked());
        QVERIFY(p.store.isEmpty()); // showing a value never writes it

        auto* notice = p.child<QLabel>("notice");
        QVERIFY(!notice->isVisible());
        // The controls keep their place when the notice comes and goes.
        auto* preset = p.child<QComboBox>("preset");
        const int presetTop = preset->mapTo(&p.panel, QPoint()).y();
        p.panel.setIsProcessing(true);
        QVERIFY(notice->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCOMPARE(preset->mapTo(&p.panel, QPoint()).y(), presetTop);
        QCOMPARE(notice->text(), QStringLiteral("処理中 — 設定変更は次のバッチから適用されます"));
        // Nothing is locked meanwhile.
        for (QWidget* control : p.panel.widget()->findChildren<QWidget*>())
            QVERIFY(control->isEnabled());
        p.panel.setIsProcessing(false);
        QVERIFY(!notice->isVisible());
    }

    void customLongEdgeIsClamped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("stored");
        // The upper bound is met in settingsReachTheControls.
        for (const auto& [typed, stored] :
             {std::pair{"5", 10LL}, {"2000", 2000LL}, {"abc", 1280LL}})
            QTest::newRow(typed) << QString::fromLatin1(typed) << stored;
    }

    void customLongEdgeIsClamped() {
        QFETCH(QString, typed);
        QFETCH(qint64, stored);
        Panel p;
        p.settings.setPreset(SizePreset::custom);
        auto* field = p.child<QLineEdit>("customLongEdge");

        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(p.settings.customLongEdge(), stored);
        QCOMPARE(field->text(), QLocale().toString(qlonglong(stored)));
        if (typed != QStringLiteral("abc"))
            QCOMPARE(p.store.value(QStringLiteral("customLongEdge")).toInteger(), stored);
    }

    void controlsWriteTheSettings() {
        Panel p;
        auto* slider = p.child<QSlider>("quality");
        slider->setValue(29);
        QCOMPARE(p.store.value(QStringLiteral("jpegQuality")).toDouble(), 0.29);
        QCOMPARE(p.child<QLabel>("qualityValue")->text(), QStringLiteral("28%"));

        QTest::mouseClick(p.child<QToolButton>("format_png"), Qt::LeftButton);
        QCOMPARE(p.store.text(QStringLiteral("outputFormat")), QStringLiteral("png"));

        const QString longPrefix(60, QLatin1Char('p'));
        QTest::keyClicks(p.child<QLineEdit>("prefix"), longPrefix);
        QCOMPARE(p.store.text(QStringLiteral("filenamePrefix")), longPrefix);

        auto* folder = p.child<QLineEdit>("folder");
        folder->selectAll();
        QTest::keyClick(folder, Qt::Key_Backspace);
        QCOMPARE(p.store.text(QStringLiteral("outputFolderName")), QString(""));

        QTest::mouseClick(p.child<QCheckBox>("preserveExif"), Qt::LeftButton);
        QTest::mouseClick(p.child<QCheckBox>("skipUpscale"), Qt::LeftButton);
        QCOMPARE(p.store.value(QStringLiteral("preserveExif")).toBool(false), true);
        QCOMPARE(p.store.value(QStringLiteral("skipUpscale")).toBool(true), false);

        auto* preset = p.child<QComboBox>("preset");
        preset->setCurrentIndex(preset->count() - 1);
        Q_EMIT preset->activated(preset->count() - 1);
        QCOMPARE(p.store.text(QStringLiteral("preset")), QStringLiteral("custom"));

        // The size limit: a preset, then a custom value in kB.
        auto* limit = p.child<QComboBox>("maxFileBytes");
        const int halfMegabyte = limit->findText(QStringLiteral("500 KB"));
        limit->setCurrentIndex(halfMegabyte);
        Q_EMIT limit->activated(halfMegabyte);
        QCOMPARE(p.store.value(QStringLiteral("maxFileBytes")).toInteger(), 500000);
        QVERIFY(!p.child<QWidget>("maxBytesCustomRow")->isVisible());
        limit->setCurrentIndex(limit->count() - 1);
        Q_EMIT limit->activated(limit->count() - 1);
        QVERIFY(p.child<QWidget>("maxBytesCustomRow")->isVisible());
        auto* custom = p.child<QLineEdit>("maxBytesCustom");
        custom->setText(QStringLiteral("250"));
        Q_EMIT custom->editingFinished();
        QCOMPARE(p.store.value(QStringLiteral("maxFileBytes")).toInteger(), 250000);
    }

    void settingsReachTheControls() {
        Panel p;
        // Truncated, not rounded; and showing never writes back.
        p.settings.setJpegQuality(0.999);
        QCOMPARE(p.child<QLabel>("qualityValue")->text(), QStringLiteral("99%"));
        QCOMPARE(p.settings.jpegQuality(), 0.999);
        p.settings.setPreset(SizePreset::custom);
        p.settings.setCustomLongEdge(2400);
        QVERIFY(p.child<QWidget>("customRow")->isVisible());
        QCOMPARE(p.child<QLineEdit>("customLongEdge")->text(), QLocale().toString(2400));
        // Out of range while the custom row is shown: pulled back in.
        p.settings.setCustomLongEdge(50000);
        QCOMPARE(p.settings.customLongEdge(), 30000);
        // Hidden row: the value is left alone.
        p.settings.setPreset(SizePreset::px640);
        QVERIFY(!p.child<QWidget>("customRow")->isVisible());
        p.settings.setCustomLongEdge(50000);
        QCOMPARE(p.settings.customLongEdge(), 50000);
        // A limit that is a preset shows as it; any other as custom kB.
        p.settings.setMaxFileBytes(2'000'000);
        QCOMPARE(p.child<QComboBox>("maxFileBytes")->currentText(), QStringLiteral("2 MB"));
        p.settings.setMaxFileBytes(300'000);
        QCOMPARE(p.child<QLineEdit>("maxBytesCustom")->text(), QLocale().toString(300));
    }
};

QTEST_MAIN(SettingsPanelTest)
#include "tst_SettingsPanel.moc"
