// SPDX-License-Identifier: GPL-3.0-or-later
#include "Support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace TestSupport;

// burisora-cli run as a new user would: a fresh config folder, real files.
class CliTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    CliRun cli(const QStringList& arguments) { return runCli(arguments, file("config")); }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY2(QFile::exists(qEnvironmentVariable("BURISORA_CLI")), "BURISORA_CLI not set");
    }

    void folderAsJson() {
        const fs::path folder = file("photos");
        makeImage(folder / "a.jpg", {.width = 3000, .height = 2000});
        makeImage(folder / "b.png", {.width = 800, .height = 600});
        makePngClaiming(folder / "bomb.png", 100000, 100000);
        writeBytes(folder / "broken.jpg", "not an image");
        writeBytes(folder / "readme.txt", "ignored");

        const CliRun run = cli({"--json", QString::fromStdString(folder.native())});
        QCOMPARE(run.exitCode, 1); // one file failed
        QCOMPARE(run.lines.size(), 5);
        QCOMPARE(run.lines.last(), QStringLiteral("完了 2 / スキップ 1 / 失敗 1 / 全 4"));
        QMap<QString, QJsonObject> bySource;
        for (const QString& line : run.lines.mid(0, 4)) {
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
            bySource.insert(QFileInfo(object.value(QStringLiteral("source")).toString()).fileName(),
                            object);
        }
        const QJsonObject a = bySource.value(QStringLiteral("a.jpg"));
        QCOMPARE(a, (QJsonObject{{"source", QString::fromStdString((folder / "a.jpg").native())},
                                 {"status", "succeeded"},
                                 {"sourcePixelLongEdge", 3000},
                                 {"outputPixelLongEdge", 1280},
                                 {"output", QString::fromStdString(
                                                (folder / "Resized" / "a.jpg").native())}}));
        QCOMPARE(decode(folder / "Resized" / "a.jpg").width, 1280);
        QCOMPARE(decode(folder / "Resized" / "b.png").width, 800); // never enlarged by default
        QCOMPARE(bySource.value("bomb.png").value("reason").toString(),
                 QStringLiteral("画像が大きすぎます (100000x100000)"));
        QCOMPARE(bySource.value("broken.jpg").value("message").toString(),
                 QStringLiteral("画像ファイルを開けませんでした"));
        QVERIFY(!fs::exists(file("config/burisora/settings.json"))); // read, never written
    }

    void overridesApplyToThisRunOnly() {
        const fs::path image = makeImage(file("single/s.jpg"), {.width = 1000, .height = 500});
        const CliRun run = cli({"--size", "640", "--format=png", "--prefix", "web_",
                                QString::fromStdString(image.native())});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.lines.first().startsWith(u"succeeded\t"));
        QVERIFY(run.lines.first().contains(QStringLiteral("1000px → 640px")));
        QCOMPARE(decode(file("single/Resized/web_s.png")).width, 640);

        const CliRun settings = cli({QStringLiteral("--show-settings")});
        const QJsonObject stored =
            QJsonDocument::fromJson(settings.lines.value(0).toUtf8()).object();
        QCOMPARE(stored.value(QStringLiteral("preset")).toString(), QStringLiteral("1280"));
        QCOMPARE(stored.value(QStringLiteral("outputFormat")).toString(), QStringLiteral("keep"));
        QCOMPARE(stored.size(), 8);
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "--bogus";
        QTest::newRow("quality range") << QStringList{"--quality", "101"} << "--quality";
        QTest::newRow("format") << QStringList{"--format", "gif", "x.jpg"} << "gif";
        QTest::newRow("size missing") << QStringList{"--size"} << "--size";
        QTest::newRow("size zero") << QStringList{"--size=0"} << "--size";
    }
    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);
        const CliRun run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errors.contains(mentions), qPrintable(run.errors));
    }

    void nothingAccepted() {
        const CliRun run = cli({QString::fromStdString(file("nothing-here.txt").native())});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines, QStringList{QStringLiteral("完了 0 / スキップ 0 / 失敗 0 / 全 0")});
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_Cli.moc"
