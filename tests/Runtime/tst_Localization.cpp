// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/ImagePipeline.h"
#include "Models/JobSummary.h"
#include "Runtime/Localization.h"
#include "Settings/SettingsValues.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <cstring>

using namespace TestSupport;

// English for English locales, and exactly the Japanese texts for all others:
// the engine's texts in process, and burisora-cli's output.
class LocalizationTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    QString statusText(const fs::path& source) const {
        return ImagePipeline::process(source, SettingsValues().snapshot()).status.text();
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        writeBytes(file("broken.jpg"), "not an image");
        fs::create_directories(file("folder.jpg"));
        makePngClaiming(file("huge.png"), 100000, 100000);
    }

    void texts_data() {
        QTest::addColumn<QString>("locale");
        // summary, pending, running, not a regular file, too large, unreadable
        // image, the two picker items, the reveal button, the list's title, then
        // burisora-cli's summary.
        QTest::addColumn<QStringList>("expected");
        const char* texts[][2] = {
            {"完了 3 / スキップ 1 / 失敗 0 / 全 6", "Done 3 / Skipped 1 / Failed 0 / All 6"},
            {"待機中", "Waiting"},
            {"処理中…", "Processing…"},
            {"通常ファイルではありません", "Not a regular file"},
            {"画像が大きすぎます (100000x100000)", "Image too large (100000x100000)"},
            {"画像ファイルを開けませんでした", "Could not open the image file"},
            {"カスタム", "Custom"},
            {"元と同じ", "Same as Original"},
            {"ファイルマネージャで表示", "Show in File Manager"},
            {"処理結果", "Results"},
            {"完了 1 / スキップ 0 / 失敗 1 / 全 2", "Done 1 / Skipped 0 / Failed 1 / All 2"}};
        QStringList japanese, english;
        for (const auto& [ja, en] : texts) {
            japanese << QString::fromUtf8(ja);
            english << QString::fromUtf8(en);
        }
        QTest::newRow("English (US)") << QStringLiteral("en_US") << english;
        QTest::newRow("English (GB)") << QStringLiteral("en_GB") << english;
        QTest::newRow("Japanese") << QStringLiteral("ja_JP") << japanese;
        QTest::newRow("German: Japanese") << QStringLiteral("de_DE") << japanese;
        QTest::newRow("C: Japanese") << QStringLiteral("C") << japanese;
    }

    void texts() {
        QFETCH(QString, locale);
        QFETCH(QStringList, expected);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        QStringList actual;
        {
            QObject owner;
            Localization::installTranslators(&owner, false);
            JobCounts counts;
            for (const auto kind : {JobStatus::Kind::succeeded, JobStatus::Kind::succeeded,
                                    JobStatus::Kind::succeeded, JobStatus::Kind::skipped,
                                    JobStatus::Kind::pending, JobStatus::Kind::running})
                counts.add(kind, +1);
            JobItem job(file("good.jpg"));
            actual << JobSummary::summary(counts)
                   << JobSummary::detailLine(job).value_or(QString());
            job.setStatus(JobStatus::running());
            actual << JobSummary::detailLine(job).value_or(QString());
            actual << statusText(file("folder.jpg")) << statusText(file("huge.png"))
                   << statusText(file("broken.jpg"));
            actual << SizePresets::displayName(SizePreset::custom)
                   << OutputFormats::displayName(OutputFormat::keepOriginal)
                   << QCoreApplication::translate("JobRow", "Finderで表示")
                   << QCoreApplication::translate("JobListView", "処理結果");
            // The system's own words stay the system's.
            QCOMPARE(statusText(file("missing.jpg")),
                     QString::fromLocal8Bit(std::strerror(ENOENT)));
        }
        QLocale::setDefault(before);

        // burisora-cli takes the language from our environment. Lines come in
        // completion order; the summary is the last. Its failure line and
        // --json show the same status texts (tst_Cli). A folder per run, so
        // that no run lists another's outputs.
        qputenv("LANG", (locale + QStringLiteral(".UTF-8")).toUtf8());
        const fs::path batch = file("batch-" + locale.toStdString());
        makeImage(batch / "good.jpg");
        writeBytes(batch / "broken.jpg", "not an image");
        const QStringList lines =
            runCli({QString::fromStdString(batch.native())}, file("config")).lines;
        QCOMPARE(lines.size(), 3);
        actual << lines.last();
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(LocalizationTest)
#include "tst_Localization.moc"
