// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/ResizeSettings.h"
#include "Settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class SettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString settingsFile() const {
        return m_dir.filePath(QStringLiteral("burisora/settings.json"));
    }
    void writeFile(const QByteArray& bytes) {
        QDir().mkpath(m_dir.filePath(QStringLiteral("burisora")));
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QJsonObject readFile() const {
        QFile file(settingsFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

private Q_SLOTS:
    void init() {
        QFile::remove(settingsFile());
        QFile::remove(settingsFile() + QStringLiteral(".bad"));
    }

    void storageValues_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("preset"); // -1: none
        QTest::addColumn<int>("format");
        QTest::newRow("1920") << "1920" << int(SizePreset::px1920) << -1;
        QTest::newRow("custom") << "custom" << int(SizePreset::custom) << -1;
        QTest::newRow("display name") << "1920 px" << -1 << -1;
        QTest::newRow("leading blank") << " 1920" << -1 << -1;
        QTest::newRow("capitals") << "CUSTOM" << -1 << -1;
        QTest::newRow("keep") << "keep" << -1 << int(OutputFormat::keepOriginal);
        QTest::newRow("png") << "png" << -1 << int(OutputFormat::png);
        QTest::newRow("case name") << "keepOriginal" << -1 << -1;
        QTest::newRow("PNG") << "PNG" << -1 << -1;
        QTest::newRow("empty") << "" << -1 << -1;
    }
    void storageValues() {
        QFETCH(QString, text);
        QFETCH(int, preset);
        QFETCH(int, format);
        const auto p = SizePresets::fromStorageValue(text);
        const auto f = OutputFormats::fromStorageValue(text);
        QCOMPARE(p ? int(*p) : -1, preset);
        QCOMPARE(f ? int(*f) : -1, format);
        QVERIFY(!SizePresets::fromStorageValue(std::nullopt));
        for (SizePreset each : SizePresets::allCases)
            QCOMPARE(SizePresets::fromStorageValue(SizePresets::storageValue(each)), each);
    }

    void snapshotLongEdge_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<qint64>("custom");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("custom 5") << int(SizePreset::custom) << qint64(5) << qint64(10);
        QTest::newRow("custom 10") << int(SizePreset::custom) << qint64(10) << qint64(10);
        QTest::newRow("custom 11") << int(SizePreset::custom) << qint64(11) << qint64(11);
        QTest::newRow("custom 50000") << int(SizePreset::custom) << qint64(50000) << qint64(50000);
        QTest::newRow("800 ignores custom") << int(SizePreset::px800) << qint64(5) << qint64(800);
    }
    void snapshotLongEdge() {
        QFETCH(int, preset);
        QFETCH(qint64, custom);
        QFETCH(qint64, expected);
        SettingsValues values;
        values.preset = SizePreset(preset);
        values.customLongEdge = custom;
        QCOMPARE(values.snapshot().longEdgePx, expected);
        SettingsValues other = values;
        QVERIFY(other.snapshot() == values.snapshot());
        other.filenamePrefix = QStringLiteral("x");
        QVERIFY(!(other.snapshot() == values.snapshot()));
    }

    void loadRules_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("preset 2560")
            << QByteArray(R"({"preset":"2560"})") << "preset" << QVariant("2560");
        QTest::newRow("preset display name")
            << QByteArray(R"({"preset":"2560 px"})") << "preset" << QVariant("1280");
        QTest::newRow("edge 5") << QByteArray(R"({"customLongEdge":5})") << "edge" << QVariant(10);
        QTest::newRow("edge 10") << QByteArray(R"({"customLongEdge":10})") << "edge"
                                 << QVariant(10);
        QTest::newRow("edge 99999")
            << QByteArray(R"({"customLongEdge":99999})") << "edge" << QVariant(30000);
        QTest::newRow("edge as text")
            << QByteArray(R"({"customLongEdge":"2000"})") << "edge" << QVariant(1280);
        QTest::newRow("edge fraction")
            << QByteArray(R"({"customLongEdge":2000.5})") << "edge" << QVariant(1280);
        QTest::newRow("quality 1.5")
            << QByteArray(R"({"jpegQuality":1.5})") << "quality" << QVariant(1.0);
        QTest::newRow("quality -0.2")
            << QByteArray(R"({"jpegQuality":-0.2})") << "quality" << QVariant(0.0);
        QTest::newRow("quality 0.5")
            << QByteArray(R"({"jpegQuality":0.5})") << "quality" << QVariant(0.5);
        QTest::newRow("quality text")
            << QByteArray(R"({"jpegQuality":"0.5"})") << "quality" << QVariant(0.85);
        QTest::newRow("format keep")
            << QByteArray(R"({"outputFormat":"keep"})") << "format" << QVariant("keep");
        QTest::newRow("format png")
            << QByteArray(R"({"outputFormat":"png"})") << "format" << QVariant("png");
        QTest::newRow("format heic")
            << QByteArray(R"({"outputFormat":"heic"})") << "format" << QVariant("keep");
        QTest::newRow("exif absent") << QByteArray("{}") << "exif" << QVariant(false);
        QTest::newRow("exif true")
            << QByteArray(R"({"preserveExif":true})") << "exif" << QVariant(true);
        QTest::newRow("exif as number")
            << QByteArray(R"({"preserveExif":1})") << "exif" << QVariant(false);
        QTest::newRow("upscale absent") << QByteArray("{}") << "skip" << QVariant(true);
        QTest::newRow("upscale false")
            << QByteArray(R"({"skipUpscale":false})") << "skip" << QVariant(false);
        QTest::newRow("folder empty")
            << QByteArray(R"({"outputFolderName":""})") << "folder" << QVariant("Resized");
        QTest::newRow("folder blanks")
            << QByteArray(R"({"outputFolderName":"   "})") << "folder" << QVariant("   ");
        const auto prefixJson = [](const QString& prefix) {
            return QJsonDocument(QJsonObject{{QStringLiteral("filenamePrefix"), prefix}})
                .toJson(QJsonDocument::Compact);
        };
        QTest::newRow("prefix 60")
            << prefixJson(QString(60, u'a')) << "prefix" << QVariant(QString(50, u'a'));
        QTest::newRow("prefix flags")
            << prefixJson(QString(51, QChar()).replace(QChar(), QStringLiteral("🇯🇵"))) << "prefix"
            << QVariant(QString(50, QChar()).replace(QChar(), QStringLiteral("🇯🇵")));
        QTest::newRow("not an object") << QByteArray("[1,2]") << "preset" << QVariant("1280");
        QTest::newRow("not JSON") << QByteArray("{\"preset\":") << "preset" << QVariant("1280");
    }
    void loadRules() {
        QFETCH(QByteArray, json);
        QFETCH(QString, property);
        QFETCH(QVariant, expected);
        writeFile(json);
        SettingsStore store(settingsFile());
        const ResizeSettings settings(&store);
        QVariant actual;
        if (property == u"preset")
            actual = SizePresets::storageValue(settings.preset());
        else if (property == u"edge")
            actual = qint64(settings.customLongEdge());
        else if (property == u"quality")
            actual = settings.jpegQuality();
        else if (property == u"format")
            actual = OutputFormats::storageValue(settings.outputFormat());
        else if (property == u"exif")
            actual = settings.preserveExif();
        else if (property == u"skip")
            actual = settings.skipUpscale();
        else if (property == u"folder")
            actual = settings.outputFolderName();
        else
            actual = settings.filenamePrefix();
        QCOMPARE(actual.toString(), expected.toString());
        // Loading never writes: what was clamped or defaulted stays as stored.
        QVERIFY(store.flush());
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), json);
    }

    void emptyStoreDefaults() {
        SettingsStore store(settingsFile());
        const ResizeSettings settings(&store);
        QCOMPARE(settings.preset(), SizePreset::px1280);
        QCOMPARE(settings.customLongEdge(), 1280);
        QCOMPARE(settings.jpegQuality(), 0.85);
        QCOMPARE(settings.outputFormat(), OutputFormat::keepOriginal);
        QVERIFY(!settings.preserveExif());
        QVERIFY(settings.skipUpscale());
        QCOMPARE(settings.outputFolderName(), QStringLiteral("Resized"));
        QVERIFY(settings.filenamePrefix().isEmpty());
        QVERIFY(store.isEmpty());
        QVERIFY(store.flush());
        QVERIFY(!QFile::exists(settingsFile()));
    }

    void assignmentWritesAndNotifiesOnlyOnChange() {
        SettingsStore store(settingsFile());
        ResizeSettings settings(&store);
        QSignalSpy quality(&settings, &ResizeSettings::jpegQualityChanged);
        QSignalSpy prefix(&settings, &ResizeSettings::filenamePrefixChanged);
        settings.setJpegQuality(0.85);
        QCOMPARE(quality.count(), 0);
        QVERIFY(store.contains(QStringLiteral("jpegQuality"))); // written all the same
        settings.setJpegQuality(0.5);
        QCOMPARE(quality.count(), 1);
        settings.setFilenamePrefix(QString(70, u'p')); // no cut on assignment
        settings.setFilenamePrefix(QString(70, u'p'));
        QCOMPARE(prefix.count(), 1);
        settings.setCustomLongEdge(50000);
        settings.setPreset(SizePreset::custom);
        QCOMPARE(settings.snapshot().longEdgePx, 50000);
        QVERIFY(store.flush());
        const QJsonObject onDisk = readFile();
        QCOMPARE(onDisk.value(QStringLiteral("jpegQuality")).toDouble(), 0.5);
        QCOMPARE(onDisk.value(QStringLiteral("customLongEdge")).toInteger(), 50000);
        QCOMPARE(onDisk.value(QStringLiteral("preset")).toString(), QStringLiteral("custom"));
        QCOMPARE(onDisk.value(QStringLiteral("filenamePrefix")).toString().size(), 70);

        SettingsStore reopened(settingsFile());
        const ResizeSettings restarted(&reopened);
        QCOMPARE(restarted.customLongEdge(), 30000);
        QCOMPARE(restarted.filenamePrefix().size(), 50);
    }

    void fileIsReplacedSafely() {
        writeFile(R"({"futureKey":{"nested":[1,2]},"preset":"640"})");
        {
            SettingsStore store(settingsFile());
            ResizeSettings settings(&store);
            settings.setSkipUpscale(false);
        } // the store writes when it goes away
        const QJsonObject onDisk = readFile();
        QCOMPARE(onDisk.value(QStringLiteral("futureKey"))
                     .toObject()
                     .value(QStringLiteral("nested"))
                     .toArray()
                     .size(),
                 2);
        QCOMPARE(onDisk.value(QStringLiteral("skipUpscale")).toBool(true), false);
        QCOMPARE(onDisk.value(QStringLiteral("preset")).toString(), QStringLiteral("640"));
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("burisora")))
                     .entryList(QDir::Files | QDir::Hidden)
                     .size(),
                 1);
    }

    void corruptFileIsMovedAside() {
        writeFile("this is not json");
        SettingsStore store(settingsFile());
        ResizeSettings settings(&store);
        QCOMPARE(settings.preset(), SizePreset::px1280);
        settings.setPreset(SizePreset::px640);
        QVERIFY(store.flush());
        QFile aside(settingsFile() + QStringLiteral(".bad"));
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray("this is not json"));
        QCOMPARE(readFile().value(QStringLiteral("preset")).toString(), QStringLiteral("640"));
    }

    void writesAreCoalesced() {
        SettingsStore store(settingsFile());
        ResizeSettings settings(&store);
        for (int i = 0; i <= 100; ++i)
            settings.setJpegQuality(i / 100.0);
        QVERIFY(!QFile::exists(settingsFile())); // not yet: one write for the whole drag
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settingsFile()), 5000);
        QCOMPARE(readFile().value(QStringLiteral("jpegQuality")).toDouble(), 1.0);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_Settings.moc"
