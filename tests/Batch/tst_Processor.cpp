// SPDX-License-Identifier: GPL-3.0-or-later
// Drops as the window makes them: folders listed on a worker, appended in the
// order of the drops, within the job room, without earlier outputs; batches
// run within the parallelism limit and the memory budget.
#include "Batch/ImageProcessor.h"
#include "Codec/ImageIOResizer.h"
#include "Codec/ResizeBudget.h"
#include "Models/FileURLs.h"
#include "Runtime/FileDescriptor.h"
#include "Runtime/ProcessLimits.h"

#include "Support/TestSupport.h"
#include <fcntl.h>

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace TestSupport;

class ProcessorTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() { initialize(); }

    // A folder, a single file and another folder dropped in one go: the file
    // waits for the first folder's listing, every drop is one append, and
    // each keeps its own settings. Folders give their regular files with our
    // extensions, in any case, in natural name order, a folder's own files
    // before its subfolders'; hidden items and links stay out.
    void overlappingDropsKeepTheirOrder() {
        for (const char* name : {"a10.png", "a2.png", "A3.JPG", "0sub/z.png", "a1.png",
                                 ".hidden.jpg", ".secret/inner.png"})
            makeImage(file("first") / name);
        writeBytes(file("first/notes.txt"), "text");
        fs::create_symlink(file("first/a1.png"), file("first/link.jpg"));
        makeImage(file("single.jpg"));
        makeImage(file("last/sub/c1.png"));
        ImageProcessor processor;
        QSignalSpy appended(&processor, &ImageProcessor::jobsAppended);
        QSignalSpy processing(&processor, &ImageProcessor::isProcessingChanged);
        processor.enqueue(fileURLs({file("first")}), snapshot(64, QStringLiteral("a_")));
        processor.enqueue(fileURLs({file("single.jpg")}), snapshot(64, QStringLiteral("b_")));
        processor.enqueue(fileURLs({file("last")}), snapshot(64, QStringLiteral("c_")));
        QVERIFY(processor.jobs().isEmpty());
        QVERIFY(processor.isProcessing()); // the drop's settings are already taken
        QCOMPARE(processor.activeBatchCount(), 3);
        QTRY_COMPARE(appended.size(), 3);
        QCOMPARE(QList<QVariantList>(appended), (QList<QVariantList>{{0, 5}, {5, 1}, {6, 1}}));
        QStringList listed;
        for (const JobItem* job : processor.jobs())
            listed << FileURLs::displayName(job->sourceURL());
        QCOMPARE(listed, (QStringList{"a1.png", "a2.png", "A3.JPG", "a10.png", "z.png",
                                      "single.jpg", "c1.png"}));
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processing.count(), 2); // true once, false once, after all
        for (const JobItem* job : processor.jobs())
            QCOMPARE(job->status(), JobStatus::succeeded());
        for (const char* output :
             {"first/Resized/a_A3.jpg", "Resized/b_single.jpg", "last/sub/Resized/c_c1.png"})
            QVERIFY2(fs::exists(file(output)), output);
    }

    // Only file URLs with our extensions become jobs, no more than the room
    // holds, also when a folder's walk meets the end of it. Clearing while a
    // batch runs keeps the jobs not done yet.
    void roomAndClearing() {
        ImageProcessor processor;
        QSignalSpy changed(&processor, &ImageProcessor::jobsChanged);
        QSignalSpy processing(&processor, &ImageProcessor::isProcessingChanged);
        processor.enqueue({QUrl(QStringLiteral("https://example.org/a.jpg")),
                           FileURLs::fileURL(file("notes.txt")),
                           FileURLs::fileURL(file("noextension"))},
                          snapshot(64));
        QVERIFY(processor.jobs().isEmpty()); // nothing accepted changes nothing
        QCOMPARE(changed.count() + processing.count(), 0);
        QList<QUrl> missing;
        for (int i = 0; i < ImageProcessor::maximumJobCount - 4; ++i)
            missing.append(FileURLs::fileURL(file("missing/" + std::to_string(i) + ".jpg")));
        processor.enqueue(missing, snapshot(64));
        fs::create_directories(file("room"));
        for (int i = 0; i < 20; ++i)
            writeBytes(file("room/" + std::to_string(i) + ".jpg"), {});
        processor.enqueue(fileURLs({file("room")}), snapshot(64));
        QTRY_COMPARE(processor.jobs().size(), ImageProcessor::maximumJobCount);
        QCOMPARE(processor.jobs().last()->sourceURL().parent_path(), file("room"));
        changed.clear();
        processor.enqueue(fileURLs({file("missing/more.jpg")}), snapshot(64));
        QCOMPARE(changed.count(), 0);

        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processor.jobs().first()->status(),
                 JobStatus::failed(QString::fromLocal8Bit(strerror(ENOENT))));
        processor.clearCompleted();
        QVERIFY(processor.jobs().isEmpty());
        processor.clearCompleted(); // still notifies when nothing goes
        QCOMPARE(changed.count(), 2);
        processor.enqueue(fileURLs({file("missing/x.jpg")}), snapshot(64));
        QVERIFY(waitUntilIdle(processor));
        processor.enqueue(
            fileURLs({makeImage(file("keep/k.png"), {.width = 2000, .height = 2000})}),
            snapshot(64));
        QCOMPARE(processor.jobs().size(), 2);
        processor.clearAll();
        QCOMPARE(processor.jobs().size(), 1); // the pending one survives
        QCOMPARE(processor.jobs().first()->sourceURL(), file("keep/k.png"));
        QVERIFY(waitUntilIdle(processor));
        processor.clearAll();
        QVERIFY(processor.jobs().isEmpty());
    }

    // The user's Stop: files converting finish and are written, every job
    // not started ends skipped and leaves nothing behind, a drop still being
    // listed is dropped, and a later drop runs as usual.
    void stopSkipsWhatHasNotStarted_data() {
        QTest::addColumn<bool>("whileListing");
        QTest::newRow("while converting") << false;
        QTest::newRow("while listing") << true;
    }
    void stopSkipsWhatHasNotStarted() {
        QFETCH(bool, whileListing);
        const fs::path folder = file(whileListing ? "stop/listing" : "stop/converting");
        QList<QUrl> urls;
        for (int i = 0; i < 12; ++i)
            urls << FileURLs::fileURL(makeImage(folder / ("s" + std::to_string(i) + ".png"),
                                                {.width = 1600, .height = 1200}));
        ImageProcessor processor;
        processor.enqueue(whileListing ? fileURLs({folder}) : urls, snapshot(64));
        QList<const JobItem*> converting;
        if (!whileListing) {
            // Any of them: with two at a time, the first may be done between two looks.
            QTRY_VERIFY(std::any_of(
                processor.jobs().cbegin(), processor.jobs().cend(),
                [](const JobItem* job) { return job->status() == JobStatus::running(); }));
            for (const JobItem* job : processor.jobs()) {
                if (job->status() == JobStatus::running())
                    converting << job;
            }
        }
        processor.stopBatches();
        QVERIFY(waitUntilIdle(processor));
        QVERIFY(!processor.isProcessing());
        const JobStatus stopped = JobStatus::skipped(QStringLiteral("停止しました"));
        int written = 0;
        for (const JobItem* job : processor.jobs()) {
            const bool wasConverting = converting.contains(job);
            QCOMPARE(job->status(), wasConverting ? JobStatus::succeeded() : stopped);
            QCOMPARE(job->outputURL().has_value(), wasConverting);
            written += wasConverting;
        }
        QCOMPARE(processor.jobs().size(), whileListing ? 0 : urls.size());
        QVERIFY(whileListing || (written > 0 && written < urls.size()));
        QCOMPARE(entries(folder / "Resized"), written);
        QVERIFY(temporaryFilesBelow(folder).isEmpty());

        processor.enqueue(urls.mid(0, 1), snapshot(64));
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processor.jobs().last()->status(), JobStatus::succeeded());
    }

    // Moving to the trash takes a written output, never its source, and
    // leaves the job without an output; a job without one has nothing to move.
    void trashTakesTheOutputOnly() {
        // The desktop's trash for files beside the home folder: here.
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
        fs::create_directories(file("data"));
        const fs::path source = makeImage(file("trash/t.jpg"));
        ImageProcessor processor;
        processor.enqueue(fileURLs({source, file("trash/missing.jpg")}), snapshot(64));
        QVERIFY(waitUntilIdle(processor));
        JobItem* written = processor.jobs()[0];
        const fs::path output = written->outputURL().value();
        QVERIFY(processor.moveOutputToTrash(written));
        QVERIFY(!fs::exists(output) && fs::exists(source));
        QVERIFY(fs::exists(file("data/Trash/files/t.jpg")));
        QVERIFY(!written->outputURL());
        QCOMPARE(written->status(), JobStatus::succeeded());
        QVERIFY(!processor.moveOutputToTrash(written));
        QVERIFY(!processor.moveOutputToTrash(processor.jobs()[1]));
    }

    // Files start in request order, never more than the parallelism limit at
    // once, and only while their estimated memory fits the budget; a file
    // beyond it runs alone, and nothing waits for ever.
    void budgetAndParallelism_data() {
        QTest::addColumn<QList<int>>("edges");
        QTest::addColumn<QString>("budget");
        QTest::addColumn<int>("mostRunning"); // 0: the parallelism limit, -1: any up to it
        QTest::newRow("parallelism is the ceiling") << QList<int>(8, 600) << "unbounded" << 0;
        QTest::newRow("one file's worth: one at a time") << QList<int>(4, 600) << "smallest" << 1;
        QTest::newRow("largest beyond the budget runs alone")
            << QList<int>{600, 2400, 600, 600} << "largest+smallest-1" << -1;
        QTest::newRow("nothing fits: each alone, none stuck")
            << QList<int>{600, 2400, 600} << "1 byte" << 1;
    }
    void budgetAndParallelism() {
        QFETCH(QList<int>, edges);
        QFETCH(QString, budget);
        QFETCH(int, mostRunning);
        const fs::path folder = file("budget/" + std::to_string(qHash(budget)));
        QList<QUrl> list;
        std::vector<std::int64_t> memory;
        for (int i = 0; i < edges.size(); ++i) {
            const fs::path image = makeImage(folder / ("b" + std::to_string(i) + ".png"),
                                             {.width = edges[i], .height = edges[i] * 2 / 3});
            list.append(FileURLs::fileURL(image));
            memory.push_back(
                ResizeBudget::estimatedMemory(ImageIOResizer::inspect(span(readBytes(image))), 64));
        }
        const auto [smallest, largest] = std::minmax_element(memory.begin(), memory.end());
        const std::int64_t bytes = budget == u"unbounded"  ? std::int64_t(1) << 50
                                   : budget == u"smallest" ? *smallest
                                   : budget == u"1 byte"   ? 1
                                                           : *largest + *smallest - 1;
        ImageProcessor processor;
        processor.setMemoryBudget(bytes);
        processor.enqueue(list, snapshot(64));
        const JobItem* largestJob = processor.jobs()[largest - memory.begin()];
        int running = 0;
        int most = 0;
        bool largestAlone = true;
        QList<fs::path> startOrder;
        for (JobItem* job : processor.jobs()) {
            connect(job, &JobItem::statusChanged, this, [&, job] {
                if (job->status() != JobStatus::running()) {
                    --running;
                    return;
                }
                const bool largestRunning = startOrder.contains(largestJob->sourceURL()) &&
                                            !largestJob->status().isCompleted();
                if (running > 0 && (job == largestJob || largestRunning))
                    largestAlone = false;
                most = std::max(most, ++running);
                startOrder.append(job->sourceURL());
            });
        }
        QVERIFY(waitUntilIdle(processor));
        const int limit = ProcessLimits::parallelismLimit();
        if (mostRunning >= 0)
            QCOMPARE(most, mostRunning == 0 ? limit : mostRunning);
        QVERIFY(most <= limit);
        if (bytes < *largest + *smallest)
            QVERIFY(largestAlone);
        QCOMPARE(startOrder.size(), edges.size());
        for (int i = 0; i < edges.size(); ++i) {
            QCOMPARE(startOrder[i], processor.jobs()[i]->sourceURL());
            QCOMPARE(processor.jobs()[i]->status(), JobStatus::succeeded());
        }
    }
};

QTEST_GUILESS_MAIN(ProcessorTest)
#include "tst_Processor.moc"
