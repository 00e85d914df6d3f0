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

class SettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.filePath(QStringLiteral("burisora")); }
    QString settingsFile() const { return folder() + QStringLiteral("/settings.json"); }
    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QJsonObject readFile() const { return QJsonDocument::fromJson(read(settingsFile())).object(); }
    void write(const QByteArray& bytes) const {
        QDir().mkpath(folder());
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private Q_SLOTS:
    void init() { QDir(folder()).removeRecursively(); }

    // What a stored file loads as, read through the batch's snapshot. Stored
    // values are exact: no display names or capitals.
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
        row("preset 800's edge", R"({"preset":"800"})", "longEdgePx", "800");
        row("custom edge", R"({"preset":"custom","customLongEdge":640})", "longEdgePx", "640");
        row("preset display name", R"({"preset":"2560 px"})", "preset", "1280");
        row("edge 5", R"({"customLongEdge":5})", "customLongEdge", "10");
        row("edge 11", R"({"customLongEdge":11})", "customLongEdge", "11");
        row("edge 99999", R"({"customLongEdge":99999})", "customLongEdge", "30000");
        row("edge as text", R"({"customLongEdge":"2000"})", "customLongEdge", "1280");
        row("edge fraction", R"({"customLongEdge":2000.5})", "customLongEdge", "1280");
        row("quality 1.5", R"({"jpegQuality":1.5})", "jpegQuality", "1");
        row("quality -0.2", R"({"jpegQuality":-0.2})", "jpegQuality", "0");
        row("quality text", R"({"jpegQuality":"0.5"})", "jpegQuality", "0.85");
        row("format png", R"({"outputFormat":"png"})", "outputFormat", "png");
        row("format in capitals", R"({"outputFormat":"PNG"})", "outputFormat", "keep");
        row("format webp", R"({"outputFormat":"webp"})", "outputFormat", "webp");
        row("format avif", R"({"outputFormat":"avif"})", "outputFormat", "avif");
        row("format display name", R"({"outputFormat":"WebP"})", "outputFormat", "keep");
        row("exif true", R"({"preserveExif":true})", "preserveExif", "true");
        row("exif as number", R"({"preserveExif":1})", "preserveExif", "false");
        row("upscale false", R"({"skipUpscale":false})", "skipUpscale", "false");
        row("folder empty", R"({"outputFolderName":""})", "outputFolderName", "Resized");
        row("folder blanks", R"({"outputFolderName":"   "})", "outputFolderName", "   ");
        row("prefix 60", prefix(QString(60, u'a')), "filenamePrefix", QString(50, u'a'));
        row("prefix flags", prefix(flags), "filenamePrefix", flags.left(200));
        row("no size limit", "{}", "maxFileBytes", "0");
        row("size limit 500 kB", R"({"maxFileBytes":500000})", "maxFileBytes", "500000");
        row("size limit 5", R"({"maxFileBytes":5})", "maxFileBytes", "10000");
        row("size limit 2 GB", R"({"maxFileBytes":2000000000})", "maxFileBytes", "1000000000");
        row("size limit negative", R"({"maxFileBytes":-1})", "maxFileBytes", "0");
        row("size limit as text", R"({"maxFileBytes":"500000"})", "maxFileBytes", "0");
    }
    void loadRules() {
        QFETCH(QByteArray, json);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        write(json);
        SettingsStore store(settingsFile());
        const ResizeSettings settings(&store);
        const ResizeSettingsSnapshot batch = settings.snapshot();
        const QJsonObject loaded{{"preset", SizePresets::storageValue(settings.preset())},
                                 {"customLongEdge", qint64(settings.customLongEdge())},
                                 {"longEdgePx", qint64(batch.longEdgePx)},
                                 {"jpegQuality", batch.jpegQuality},
                                 {"outputFormat", OutputFormats::storageValue(batch.outputFormat)},
                                 {"preserveExif", batch.preserveExif},
                                 {"skipUpscale", batch.skipUpscale},
                                 {"outputFolderName", batch.outputFolderName},
                                 {"filenamePrefix", batch.filenamePrefix},
                                 {"maxFileBytes", qint64(batch.maxFileBytes)}};
        QCOMPARE(loaded.value(key).toVariant().toString(), expected);
        // Loading never writes: what was clamped or defaulted stays as stored.
        QVERIFY(store.flush());
        QCOMPARE(read(settingsFile()), json);
    }

    // Every assignment is written, also of the value held (another window may
    // have stored a different one); only a change is signalled. A batch takes
    // a custom edge of at least 10.
    void assignment() {
        SettingsStore store(settingsFile());
        ResizeSettings settings(&store);
        QSignalSpy quality(&settings, &ResizeSettings::jpegQualityChanged);
        settings.setJpegQuality(0.85);
        QCOMPARE(quality.count(), 0);
        QVERIFY(store.contains(QStringLiteral("jpegQuality")));
        settings.setJpegQuality(0.5);
        QCOMPARE(quality.count(), 1);
        settings.setPreset(SizePreset::custom);
        settings.setCustomLongEdge(5);
        QCOMPARE(settings.snapshot().longEdgePx, 10);
    }

    void writesAreCoalesced() {
        {
            SettingsStore store(settingsFile());
            ResizeSettings settings(&store);
            for (int i = 0; i <= 100; ++i)
                settings.setJpegQuality(i / 100.0);
            QVERIFY(!QFile::exists(settingsFile())); // not yet: one write for the whole drag
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settingsFile()), 5000);
            settings.setSkipUpscale(false);
        } // what is still pending is written when the store goes away
        QCOMPARE(readFile().value(QStringLiteral("jpegQuality")).toDouble(), 1.0);
        QCOMPARE(readFile().value(QStringLiteral("skipUpscale")).toBool(true), false);
    }

    // Two windows on one settings file: each write changes only the keys its
    // own window assigned, so neither undoes the other; keys this program does
    // not know stay.
    void twoWriters_data() {
        QTest::addColumn<QByteArray>("initial");
        // Steps, in order: ["a"|"b", key, value] assigns in that window and
        // writes; ["corrupt", bytes] replaces the file behind both windows.
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("setAside");
        const auto row = [](const char* tag, const QByteArray& initial, const char* steps,
                            const char* expected, const QByteArray& setAside = {}) {
            QTest::newRow(tag) << initial << QByteArray(steps) << QByteArray(expected) << setAside;
        };
        const QByteArray future = R"({"futureKey":[1,2],"preset":"640"})";
        row("one sets the quality, the other the prefix", future,
            R"([["a","jpegQuality",0.5],["b","filenamePrefix","p_"]])",
            R"({"futureKey":[1,2],"preset":"640","jpegQuality":0.5,"filenamePrefix":"p_"})");
        row("a window writes again after the other; the later assignment wins", future,
            R"([["a","skipUpscale",false],["b","preset","2560"],["a","outputFormat","png"]])",
            R"({"futureKey":[1,2],"preset":"2560","skipUpscale":false,"outputFormat":"png"})");
        row("not an object from the start: set aside, replaced", "[1,2]",
            R"([["a","preset","640"]])", R"({"preset":"640"})", "[1,2]");
        row("the file went bad behind both: set aside, known keys kept", future,
            R"([["corrupt","not json"],["b","outputFolderName","Small"]])",
            R"({"futureKey":[1,2],"preset":"640","outputFolderName":"Small"})", "not json");
    }
    void twoWriters() {
        QFETCH(QByteArray, initial);
        QFETCH(QByteArray, steps);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, setAside);
        if (!initial.isEmpty())
            write(initial);
        // Both windows load the file before either writes, as two processes would.
        SettingsStore a(settingsFile());
        SettingsStore b(settingsFile());
        for (const QJsonValue& value : QJsonDocument::fromJson(steps).array()) {
            const QJsonArray step = value.toArray();
            if (step.at(0) == QStringLiteral("corrupt")) {
                write(step.at(1).toString().toUtf8());
                continue;
            }
            SettingsStore& store = step.at(0) == QStringLiteral("a") ? a : b;
            store.setValue(step.at(1).toString(), step.at(2));
            QVERIFY(store.flush());
        }
        QCOMPARE(readFile(), QJsonDocument::fromJson(expected).object());
        QCOMPARE(read(settingsFile() + QStringLiteral(".bad")), setAside);
        // The lock is gone again: only the file (and what was set aside) stays.
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(),
                 setAside.isEmpty() ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_Settings.moc"
