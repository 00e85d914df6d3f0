// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/FileURLs.h"
#include "Services/ImageProcessor.h"
#include "Services/VipsRuntime.h"
#include "Support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

ResizeSettingsSnapshot withPrefix(const QString& prefix) {
    ResizeSettingsSnapshot s;
    s.longEdgePx = 64;
    s.filenamePrefix = prefix;
    return s;
}

} // namespace

class ProcessorTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() { initialize(); }

    void folderExpansion() {
        const fs::path drop = file("drop");
        makeImage(drop / "UPPER.JPG");
        makeImage(drop / ".hidden.jpg");
        writeBytes(drop / "notes.txt", "text");
        makeImage(drop / "sub" / "inner.png");
        makeImage(drop / ".secret" / "inner.png");
        fs::create_symlink(drop / "UPPER.JPG", drop / "link.jpg");
        std::vector<fs::path> expanded = ImageProcessor::expandDirectories({drop});
        std::sort(expanded.begin(), expanded.end());
        QCOMPARE(expanded.size(), 3u); // the text file is dropped later, by extension
        ImageProcessor processor;
        processor.enqueue(fileURLs({drop}), withPrefix({}));
        QCOMPARE(processor.jobs().size(), 2);
        QSet<fs::path> listed;
        for (const JobItem* job : processor.jobs()) {
            listed.insert(job->sourceURL());
            QCOMPARE(job->status(), JobStatus::pending()); // the batch starts from the event loop
        }
        QCOMPARE(listed, (QSet<fs::path>{drop / "UPPER.JPG", drop / "sub" / "inner.png"}));
        QVERIFY(waitUntilIdle(processor));
    }

    void nothingAcceptedChangesNothing() {
        ImageProcessor processor;
        QSignalSpy changed(&processor, &ImageProcessor::jobsChanged);
        QSignalSpy processing(&processor, &ImageProcessor::isProcessingChanged);
        processor.enqueue({QUrl(QStringLiteral("https://example.org/a.jpg")),
                           FileURLs::fileURL(file("notes.txt")),
                           FileURLs::fileURL(file("noextension"))},
                          withPrefix({}));
        QVERIFY(processor.jobs().isEmpty());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(processing.count(), 0);
    }

    void capAndClearing() {
        ImageProcessor processor;
        QList<QUrl> many;
        for (int i = 0; i < 10005; ++i)
            many.append(FileURLs::fileURL(file("missing/" + std::to_string(i) + ".jpg")));
        processor.enqueue(many, withPrefix({}));
        QCOMPARE(processor.jobs().size(), 10000);
        QCOMPARE(processor.jobs().last()->sourceURL(), file("missing/9999.jpg"));
        QSignalSpy changed(&processor, &ImageProcessor::jobsChanged);
        processor.enqueue(fileURLs({file("missing/more.jpg")}), withPrefix({}));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(processor.activeBatchCount(), 1);

        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processor.jobs().first()->status(),
                 JobStatus::failed(QString::fromLocal8Bit(strerror(ENOENT))));
        processor.clearCompleted();
        QVERIFY(processor.jobs().isEmpty());
        processor.clearCompleted(); // still notifies when nothing goes
        QCOMPARE(changed.count(), 2);
        processor.enqueue(fileURLs({file("missing/again.jpg")}), withPrefix({}));
        QCOMPARE(processor.jobs().size(), 1);
        QVERIFY(waitUntilIdle(processor));
    }

    void overlappingBatchesKeepTheirSettings() {
        std::vector<fs::path> images;
        for (int i = 0; i < 3; ++i)
            images.push_back(makeImage(file("overlap/p" + std::to_string(i) + ".jpg")));
        ImageProcessor processor;
        QSignalSpy processing(&processor, &ImageProcessor::isProcessingChanged);
        processor.enqueue(fileURLs({images[0], images[1], images[2]}),
                          withPrefix(QStringLiteral("a_")));
        processor.enqueue(fileURLs({images[0], images[1], images[2]}),
                          withPrefix(QStringLiteral("b_")));
        QCOMPARE(processor.activeBatchCount(), 2);
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processing.count(), 2); // true once, false once, after both
        for (int i = 0; i < 3; ++i) {
            QVERIFY(fs::exists(file("overlap/Resized/a_p" + std::to_string(i) + ".jpg")));
            QVERIFY(fs::exists(file("overlap/Resized/b_p" + std::to_string(i) + ".jpg")));
        }
        for (const JobItem* job : processor.jobs())
            QCOMPARE(job->status(), JobStatus::succeeded());
    }

    void sameFileTwiceGivesTwoOutputs() {
        const fs::path image = makeImage(file("twice/t.png"));
        const QByteArray before = sha256(image);
        ImageProcessor processor;
        processor.enqueue(fileURLs({image, image}), withPrefix({}));
        QVERIFY(waitUntilIdle(processor));
        QVERIFY(fs::exists(file("twice/Resized/t.png")));
        QVERIFY(fs::exists(file("twice/Resized/t-1.png")));
        QCOMPARE(sha256(image), before);
    }

    void batchBoundsItsParallelism() {
        QList<QUrl> list;
        for (int i = 0; i < 8; ++i)
            list.append(FileURLs::fileURL(makeImage(file("bound/b" + std::to_string(i) + ".png"),
                                                    {.width = 600, .height = 400})));
        ImageProcessor processor;
        processor.enqueue(list, withPrefix({}));
        int running = 0;
        int mostRunning = 0;
        QList<fs::path> startOrder;
        for (JobItem* job : processor.jobs()) {
            connect(job, &JobItem::statusChanged, this, [&, job] {
                if (job->status() == JobStatus::running()) {
                    mostRunning = std::max(mostRunning, ++running);
                    startOrder.append(job->sourceURL());
                } else {
                    --running;
                }
            });
        }
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(mostRunning, VipsRuntime::parallelismLimit());
        QCOMPARE(startOrder.size(), 8);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(startOrder[i], processor.jobs()[i]->sourceURL());
    }

    void clearAllKeepsActiveJobsWhileProcessing() {
        ImageProcessor processor;
        processor.enqueue(fileURLs({file("missing/x.jpg")}), withPrefix({}));
        QVERIFY(waitUntilIdle(processor));
        processor.enqueue(
            fileURLs({makeImage(file("keep/k.png"), {.width = 2000, .height = 2000})}),
            withPrefix({}));
        processor.clearAll();
        QCOMPARE(processor.jobs().size(), 1); // the pending one survives
        QCOMPARE(processor.jobs().first()->sourceURL(), file("keep/k.png"));
        QVERIFY(waitUntilIdle(processor));
        processor.clearAll();
        QVERIFY(processor.jobs().isEmpty());
    }

    void namesThatAreNotUTF8() {
        const fs::path odd = file(std::string("odd-\xff\xfe-name.png"));
        makeImage(file("plain.png"));
        fs::rename(file("plain.png"), odd);
        ImageProcessor processor;
        processor.enqueue(fileURLs({odd}), withPrefix({}));
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(processor.jobs().first()->status(), JobStatus::succeeded());
        QCOMPARE(processor.jobs().first()->outputURL()->filename().native(),
                 std::string("odd-\xff\xfe-name.png"));
        // QTemporaryDir cannot remove names it cannot decode.
        fs::remove(odd);
        fs::remove(*processor.jobs().first()->outputURL());
    }
};

QTEST_GUILESS_MAIN(ProcessorTest)
#include "tst_Processor.moc"
