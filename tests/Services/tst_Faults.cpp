// SPDX-License-Identifier: GPL-3.0-or-later
// The world changing under a batch: a full disk, folders that cannot be
// written, an output folder swapped for a link, sources that vanish or change.
// After each: no hidden temporary file, nothing partial under a final name,
// and the failed job says why.
#include "Models/FileURLs.h"
#include "Services/Errors.h"
#include "Services/ImagePipeline.h"
#include "Services/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

using namespace TestSupport;

namespace {

const QString writeFailed = QStringLiteral("画像の書き出しに失敗しました");
const QString cannotCreate = QStringLiteral("出力ファイルを作成できませんでした");

// Stands in for a full disk: while it lives, no file of this process may grow
// beyond `bytes` (writes past it fail with EFBIG instead of killing us).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
};

ResizeSettingsSnapshot settings(std::int64_t edge = 800) {
    ResizeSettingsSnapshot s = snapshot(edge);
    s.jpegQuality = 1.0; // large outputs: the limit is met mid-write
    return s;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path file(const std::string& name) const { return path(m_dir) / name; }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
    }

    // Every encoder must notice the failed write, whichever call hits it.
    void diskFullDuringWrite_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qulonglong>("limit");
        QTest::newRow("jpeg") << "photo.jpg" << 4096ull;
        QTest::newRow("png") << "photo.png" << 4096ull;
        QTest::newRow("tiff") << "photo.tif" << 4096ull;
        QTest::newRow("heic") << "photo.heic" << 2048ull;
        QTest::newRow("png, first byte") << "first.png" << 0ull;
        QTest::newRow("jpeg, last bytes") << "last.jpg" << 60000ull;
    }
    void diskFullDuringWrite() {
        QFETCH(QString, name);
        QFETCH(qulonglong, limit);
        const fs::path folder = file("full/" + name.toStdString());
        const fs::path source =
            makeImage(folder / name.toStdString(), {.width = 800, .height = 600});
        const QByteArray before = sha256(source);
        const ImageProcessingOutcome outcome = [&] {
            const FileSizeLimit fullDisk(limit);
            return ImagePipeline::process(source, settings());
        }();
        QCOMPARE(outcome.status, JobStatus::failed(writeFailed));
        QCOMPARE(outcome.sourcePixelLongEdge, 800);
        QVERIFY(!outcome.outputURL);
        QCOMPARE(entries(folder / "Resized"), 0);
        QCOMPARE(sha256(source), before);
        // Once there is room again the same file goes through.
        QCOMPARE(ImagePipeline::process(source, settings()).status, JobStatus::succeeded());
    }

    // Between two jobs the output folder becomes unusable: read-only, or
    // replaced by a link elsewhere or a file.
    void outputFolderUnusable_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("message");
        const QString elsewhere = QStringLiteral("出力フォルダが想定外の場所を指しています");
        const QString exists = SystemError(EEXIST).errorDescription();
        if (::geteuid() != 0) { // root writes into read-only folders
            QTest::newRow("output folder read-only") << "read-only" << cannotCreate;
            QTest::newRow("source folder read-only")
                << "locked" << SystemError(EACCES).errorDescription();
        }
        QTest::newRow("link elsewhere") << "link" << elsewhere;
        QTest::newRow("link to a link elsewhere") << "chain" << elsewhere;
        QTest::newRow("dangling link") << "dangling" << exists;
        QTest::newRow("a file") << "file" << exists;
    }
    void outputFolderUnusable() {
        QFETCH(QString, change);
        QFETCH(QString, message);
        const fs::path folder = file("swap-" + change.toStdString());
        const fs::path first = makeImage(folder / "first.png");
        const fs::path second = makeImage(folder / "second.png");
        const fs::path outside = file("outside-" + change.toStdString());
        fs::create_directories(outside);

        QCOMPARE(ImagePipeline::process(first, settings()).status, JobStatus::succeeded());
        fs::rename(folder / "Resized", folder / "Moved");
        const bool readOnly = change == u"read-only" || change == u"locked";
        const fs::path locked = change == u"locked" ? folder : folder / "Resized";
        if (readOnly) {
            fs::create_directories(locked);
            fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        } else if (change == u"link") {
            fs::create_directory_symlink(outside, folder / "Resized");
        } else if (change == u"chain") {
            fs::create_directory_symlink(outside, folder / "hop");
            fs::create_directory_symlink("hop", folder / "Resized");
        } else if (change == u"dangling") {
            fs::create_symlink(outside / "gone", folder / "Resized");
        } else {
            writeBytes(folder / "Resized", "not a folder");
        }

        const ImageProcessingOutcome outcome = ImagePipeline::process(second, settings());
        if (readOnly)
            fs::permissions(locked, fs::perms::owner_all);
        QCOMPARE(outcome.status, JobStatus::failed(message));
        QCOMPARE(outcome.sourcePixelLongEdge, 64);
        QVERIFY(!outcome.outputURL);
        QCOMPARE(entries(folder / "Resized"), 0);
        QCOMPARE(entries(outside), 0);
        QVERIFY(!fs::exists(outside / "gone"));
        QCOMPARE(entries(folder / "Moved"), 1); // the first output, untouched
        QVERIFY(temporaryFilesBelow(folder).isEmpty() && temporaryFilesBelow(outside).isEmpty());
    }

    // Sources change after they were listed, before their turn comes.
    void sourcesChangeWhileTheBatchRuns() {
        const fs::path folder = file("moving");
        QList<QUrl> urls;
        std::vector<fs::path> sources;
        for (int i = 0; i < 12; ++i) {
            sources.push_back(makeImage(folder / ("p" + std::to_string(i) + ".png"),
                                        {.width = 600, .height = 400}));
            urls.append(FileURLs::fileURL(sources.back()));
        }
        ImageProcessor processor;
        processor.enqueue(urls, settings(300));
        bool changed = false;
        connect(&processor, &ImageProcessor::jobFinished, this, [&] {
            if (std::exchange(changed, true))
                return;
            // Jobs start only after this returns, and these are far behind.
            fs::remove(sources[8]);
            fs::remove(sources[9]);
            makeImage(sources[9], {.width = 333, .height = 222}); // replaced by another image
            fs::remove(sources[10]);
            QCOMPARE(::mkfifo(sources[10].c_str(), 0644), 0);
            writeBytes(sources[11], "no longer an image"); // rewritten in place
        });
        QSignalSpy idle(&processor, &ImageProcessor::isProcessingChanged);
        QVERIFY(idle.wait(120000));

        const QList<JobItem*>& jobs = processor.jobs();
        for (int i = 0; i < 8; ++i)
            QCOMPARE(jobs[i]->status(), JobStatus::succeeded());
        QCOMPARE(jobs[8]->status(), JobStatus::failed(SystemError(ENOENT).errorDescription()));
        QVERIFY(!jobs[8]->sourcePixelLongEdge());
        QCOMPARE(jobs[9]->status(), JobStatus::succeeded());
        QCOMPARE(jobs[9]->sourcePixelLongEdge(), 333);
        QCOMPARE(decode(*jobs[9]->outputURL()).width, 300);
        QCOMPARE(jobs[10]->status(),
                 JobStatus::skipped(QStringLiteral("通常ファイルではありません")));
        QCOMPARE(jobs[11]->status(),
                 JobStatus::failed(QStringLiteral("画像ファイルを開けませんでした")));
        QCOMPARE(entries(folder / "Resized"), 9);
        QVERIFY(temporaryFilesBelow(folder).isEmpty());
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_Faults.moc"
