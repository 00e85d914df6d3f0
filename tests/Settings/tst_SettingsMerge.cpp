// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// Two windows on one settings file: each write changes only the keys its own
// window assigned, so neither undoes the other.
class SettingsMergeTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("settings.json")); }

    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void write(const QByteArray& bytes) const {
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private Q_SLOTS:
    void init() {
        QDir(m_dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir.path()));
    }

    void twoWriters_data() {
        QTest::addColumn<QByteArray>("initial");
        // Steps, in order: ["a"|"b", key, value] assigns in that window and
        // writes; ["corrupt", bytes] replaces the file behind both windows.
        QTest::addColumn<QJsonArray>("steps");
        QTest::addColumn<QJsonObject>("expected");
        QTest::addColumn<QByteArray>("setAside");
        const QByteArray future = R"({"futureKey":[1,2],"preset":"640"})";
        QTest::newRow("one sets the quality, the other the prefix")
            << future
            << QJsonArray{QJsonArray{"a", "jpegQuality", 0.5},
                          QJsonArray{"b", "filenamePrefix", "p_"}}
            << QJsonObject{{"futureKey", QJsonArray{1, 2}},
                           {"preset", "640"},
                           {"jpegQuality", 0.5},
                           {"filenamePrefix", "p_"}}
            << QByteArray();
        QTest::newRow("the same key: the later assignment wins")
            << QByteArray()
            << QJsonArray{QJsonArray{"a", "preset", "800"}, QJsonArray{"b", "preset", "1920"}}
            << QJsonObject{{"preset", "1920"}} << QByteArray();
        QTest::newRow("a window writes again after the other")
            << future
            << QJsonArray{QJsonArray{"a", "skipUpscale", false}, QJsonArray{"b", "preset", "2560"},
                          QJsonArray{"a", "outputFormat", "png"}}
            << QJsonObject{{"futureKey", QJsonArray{1, 2}},
                           {"preset", "2560"},
                           {"skipUpscale", false},
                           {"outputFormat", "png"}}
            << QByteArray();
        QTest::newRow("the file went bad behind both: set aside, known keys kept")
            << future
            << QJsonArray{QJsonArray{"corrupt", "{ not json"},
                          QJsonArray{"b", "outputFolderName", "Small"}}
            << QJsonObject{{"futureKey", QJsonArray{1, 2}},
                           {"preset", "640"},
                           {"outputFolderName", "Small"}}
            << QByteArray("{ not json");
    }

    void twoWriters() {
        QFETCH(QByteArray, initial);
        QFETCH(QJsonArray, steps);
        QFETCH(QJsonObject, expected);
        QFETCH(QByteArray, setAside);
        if (!initial.isEmpty())
            write(initial);
        // Both windows load the file before either writes, as two processes would.
        SettingsStore a(settingsFile());
        SettingsStore b(settingsFile());
        for (const QJsonValue& value : std::as_const(steps)) {
            const QJsonArray step = value.toArray();
            if (step.at(0) == QStringLiteral("corrupt")) {
                write(step.at(1).toString().toUtf8());
                continue;
            }
            SettingsStore& store = step.at(0) == QStringLiteral("a") ? a : b;
            store.setValue(step.at(1).toString(), step.at(2));
            QVERIFY(store.flush());
        }
        QCOMPARE(QJsonDocument::fromJson(read(settingsFile())).object(), expected);
        QCOMPARE(read(settingsFile() + QStringLiteral(".bad")), setAside);
        // The lock is gone again: only the file (and what was set aside) stays.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 setAside.isEmpty() ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(SettingsMergeTest)
#include "tst_SettingsMerge.moc"
