// SPDX-License-Identifier: GPL-3.0-or-later
// Drops as the window makes them: folders listed on a worker, appended in the
// order of the drops, within the job room, without earlier outputs.
#include "Models/FileURLs.h"
#include "Services/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace TestSupport;

class ListingTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

    static QStringList names(const ImageProcessor& processor) {
        QStringList list;
        for (const JobItem* job : processor.jobs())
            list << FileURLs::displayName(job->sourceURL());
        return list;
    }

private Q_SLOTS:
    void initTestCase() { initialize(); }

    // A folder, a single file and another folder dropped in one go: the file
    // waits for the first folder's listing, and every drop is one append.
    void overlappingDropsKeepTheirOrder() {
        for (const char* name : {"a1.png", "a2.png", "a3.png"})
            makeImage(file("first") / name);
        makeImage(file("single.jpg"));
        makeImage(file("last/sub/c1.png"));
        ResizeSettingsSnapshot settings;
        ImageProcessor processor;
        QSignalSpy appended(&processor, &ImageProcessor::jobsAppended);
        processor.enqueue(fileURLs({file("first")}), settings);
        processor.enqueue(fileURLs({file("single.jpg")}), settings);
        processor.enqueue(fileURLs({file("last")}), settings);
        QVERIFY(processor.jobs().isEmpty());
        QVERIFY(processor.isProcessing()); // the drop's settings are already taken
        QTRY_COMPARE(appended.size(), 3);
        const auto rows = [&](int i) {
            return std::pair(appended[i][0].toLongLong(), appended[i][1].toLongLong());
        };
        QCOMPARE(rows(0), std::pair(0LL, 3LL));
        QCOMPARE(rows(1), std::pair(3LL, 1LL));
        QCOMPARE(rows(2), std::pair(4LL, 1LL));
        const QStringList listed = names(processor);
        QCOMPARE(QSet<QString>(listed.begin(), listed.begin() + 3),
                 (QSet<QString>{"a1.png", "a2.png", "a3.png"}));
        QCOMPARE(listed.mid(3), (QStringList{"single.jpg", "c1.png"}));
        QVERIFY(waitUntilIdle(processor));
    }

    // The walk ends once the room is full, also for a folder.
    void listingStopsAtTheRoom() {
        ImageProcessor processor;
        QList<QUrl> missing;
        for (int i = 0; i < ImageProcessor::maximumJobCount - 4; ++i)
            missing.append(FileURLs::fileURL(file("nowhere/" + std::to_string(i) + ".jpg")));
        processor.enqueue(missing, ResizeSettingsSnapshot());
        fs::create_directories(file("room"));
        for (int i = 0; i < 20; ++i)
            writeBytes(file("room/" + std::to_string(i) + ".jpg"), {});
        processor.enqueue(fileURLs({file("room")}), ResizeSettingsSnapshot());
        QTRY_COMPARE(processor.jobs().size(), ImageProcessor::maximumJobCount);
        QVERIFY(waitUntilIdle(processor));
    }

    // A folder dropped again: its earlier outputs are not sources. The output
    // folder dropped itself is.
    void secondRunOverAFolder_data() {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("outputFolder");
        QTest::addColumn<bool>("dropOutputFolder");
        QTest::newRow("default") << QString() << "Resized" << false;
        QTest::newRow("sanitized name") << " small/web "
                                        << "small_web" << false;
        QTest::newRow("the output folder itself") << "Resized"
                                                  << "Resized" << true;
    }

    void secondRunOverAFolder() {
        QFETCH(QString, folderName);
        QFETCH(QString, outputFolder);
        QFETCH(bool, dropOutputFolder);
        const fs::path folder = file("again/" + std::string(QTest::currentDataTag()));
        makeImage(folder / "p.jpg", {.width = 300, .height = 200});
        makeImage(folder / "sub" / "q.png", {.width = 300, .height = 200});
        ResizeSettingsSnapshot settings;
        settings.longEdgePx = 100;
        settings.outputFolderName = folderName;
        const fs::path outputs = folder / outputFolder.toStdString();

        ImageProcessor processor;
        processor.enqueue(fileURLs({folder}), settings);
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processor.jobs().size(), 2);
        QVERIFY(fs::exists(outputs / "p.jpg"));
        processor.clearAll();

        processor.enqueue(fileURLs({dropOutputFolder ? outputs : folder}), settings);
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processor.jobs().size(), dropOutputFolder ? 1 : 2);
        for (const JobItem* job : processor.jobs())
            QCOMPARE(job->status(), JobStatus::succeeded());
        const fs::path second = dropOutputFolder ? outputs / outputFolder.toStdString() : outputs;
        QVERIFY(fs::exists(second / (dropOutputFolder ? "p.jpg" : "p-1.jpg")));
        QVERIFY(!fs::exists(outputs / outputFolder.toStdString() / outputFolder.toStdString()));
    }
};

QTEST_GUILESS_MAIN(ListingTest)
#include "tst_Listing.moc"
