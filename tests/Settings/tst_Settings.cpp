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

#include <tuple>

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

    // Stored values are exact: no display names, blanks, capitals or case names.
    void storageValuesAndSnapshot() {
        const std::tuple<const char*, int, int> parsed[] = {
            {"1920", int(SizePreset::px1920), -1},
            {"custom", int(SizePreset::custom), -1},
            {"keep", -1, int(OutputFormat::keepOriginal)},
            {"png", -1, int(OutputFormat::png)},
            {"1920 px", -1, -1},
            {" 1920", -1, -1},
            {"CUSTOM", -1, -1},
            {"keepOriginal", -1, -1},
            {"PNG", -1, -1},
            {"", -1, -1}};
        for (const auto& [text, preset, format] : parsed) {
            const auto p = SizePresets::fromStorageValue(QString::fromLatin1(text));
            const auto f = OutputFormats::fromStorageValue(QString::fromLatin1(text));
            QCOMPARE(p ? int(*p) : -1, preset);
            QCOMPARE(f ? int(*f) : -1, format);
        }
        QVERIFY(!SizePresets::fromStorageValue(std::nullopt));
        for (SizePreset each : SizePresets::allCases)
            QCOMPARE(SizePresets::fromStorageValue(SizePresets::storageValue(each)), each);

        // A batch's long edge: the custom value, at least 10, or the preset's.
        SettingsValues values;
        values.preset = SizePreset::custom;
        using Edges = std::pair<std::int64_t, std::int64_t>;
        for (const auto& [custom, expected] : {Edges{5, 10}, {10, 10}, {11, 11}, {50000, 50000}}) {
            values.customLongEdge = custom;
            QCOMPARE(values.snapshot().longEdgePx, expected);
        }
        values.preset = SizePreset::px800;
        QCOMPARE(values.snapshot().longEdgePx, std::int64_t(800));
        SettingsValues other = values;
        QVERIFY(other.snapshot() == values.snapshot());
        other.filenamePrefix = QStringLiteral("x");
        QVERIFY(!(other.snapshot() == values.snapshot()));
    }

    void loadRules_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const QByteArray& json, const char* key,
                            const QString& expected) {
            QTest::newRow(tag) << json << QString::fromLatin1(key) << expected;
        };
        const auto prefix = [](const QString& text) -> QByteArray {
            return "{\"filenamePrefix\":\"" + text.toUtf8() + "\"}";
        };
        const QString flags = QString(51, QChar()).replace(QChar(), QStringLiteral("🇯🇵"));
        row("preset 2560", R"({"preset":"2560"})", "preset", "2560");
        row("preset display name", R"({"preset":"2560 px"})", "preset", "1280");
        row("edge 5", R"({"customLongEdge":5})", "customLongEdge", "10");
        row("edge 10", R"({"customLongEdge":10})", "customLongEdge", "10");
        row("edge 11", R"({"customLongEdge":11})", "customLongEdge", "11");
        row("edge 30000", R"({"customLongEdge":30000})", "customLongEdge", "30000");
        row("edge 99999", R"({"customLongEdge":99999})", "customLongEdge", "30000");
        row("edge as text", R"({"customLongEdge":"2000"})", "customLongEdge", "1280");
        row("edge fraction", R"({"customLongEdge":2000.5})", "customLongEdge", "1280");
        row("quality 1.5", R"({"jpegQuality":1.5})", "jpegQuality", "1");
        row("quality -0.2", R"({"jpegQuality":-0.2})", "jpegQuality", "0");
        row("quality 0.5", R"({"jpegQuality":0.5})", "jpegQuality", "0.5");
        row("quality text", R"({"jpegQuality":"0.5"})", "jpegQuality", "0.85");
        row("format keep", R"({"outputFormat":"keep"})", "outputFormat", "keep");
        row("format png", R"({"outputFormat":"png"})", "outputFormat", "png");
        row("format heic", R"({"outputFormat":"heic"})", "outputFormat", "keep");
        row("exif true", R"({"preserveExif":true})", "preserveExif", "true");
        row("exif as number", R"({"preserveExif":1})", "preserveExif", "false");
        row("upscale false", R"({"skipUpscale":false})", "skipUpscale", "false");
        row("folder empty", R"({"outputFolderName":""})", "outputFolderName", "Resized");
        row("folder blanks", R"({"outputFolderName":"   "})", "outputFolderName", "   ");
        row("prefix 60", prefix(QString(60, u'a')), "filenamePrefix", QString(50, u'a'));
        row("prefix flags", prefix(flags), "filenamePrefix", flags.left(200));
        row("not an object", "[1,2]", "preset", "1280");
        row("not JSON", "{\"preset\":", "preset", "1280");
        row("defaults", "{}", "",
            R"({"customLongEdge":1280,"filenamePrefix":"","jpegQuality":0.85,)"
            R"("outputFolderName":"Resized","outputFormat":"keep","preserveExif":false,)"
            R"("preset":"1280","skipUpscale":true})");
    }
    void loadRules() {
        QFETCH(QByteArray, json);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeFile(json);
        SettingsStore store(settingsFile());
        const ResizeSettings settings(&store);
        const QJsonObject loaded{
            {"preset", SizePresets::storageValue(settings.preset())},
            {"customLongEdge", qint64(settings.customLongEdge())},
            {"jpegQuality", settings.jpegQuality()},
            {"outputFormat", OutputFormats::storageValue(settings.outputFormat())},
            {"preserveExif", settings.preserveExif()},
            {"skipUpscale", settings.skipUpscale()},
            {"outputFolderName", settings.outputFolderName()},
            {"filenamePrefix", settings.filenamePrefix()}};
        if (key.isEmpty())
            QCOMPARE(QJsonDocument(loaded).toJson(QJsonDocument::Compact), expected.toUtf8());
        else
            QCOMPARE(loaded.value(key).toVariant().toString(), expected);
        // Loading never writes: what was clamped or defaulted stays as stored.
        QVERIFY(store.flush());
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), json);
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
