// SPDX-License-Identifier: GPL-3.0-or-later
// The texts a job shows are checked through the list's roles (tst_JobListView).
#include "Models/FileURLs.h"
#include "Models/JobItem.h"
#include "Support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <fstream>

using Path = std::filesystem::path;
using namespace TestSupport;

namespace {
QByteArray bytes(const fs::path& path) {
    return QByteArray::fromStdString(path.native());
}
} // namespace

class JobsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path root() const { return path(m_dir); }

private Q_SLOTS:
    void initTestCase() {
        for (const char* name : {"\xff.jpg", "x\xfe.jpg", "x\xff.jpg", "\xfa/in.jpg"}) {
            fs::create_directories((root() / name).parent_path());
            std::ofstream(root() / name).put(0); // QFile would re-encode the name
        }
    }
    // QTemporaryDir does not see names that are not UTF-8.
    void cleanupTestCase() { fs::remove_all(root()); }

    // Setters notify only on a real change: of the kind, of the text, of an
    // optional's presence or value (0 is a value, not absence).
    void notifications() {
        JobItem job(Path("/tmp/a.jpg"));
        QSignalSpy status(&job, &JobItem::statusChanged);
        for (const JobStatus& next :
             {JobStatus::failed(QStringLiteral("x")), JobStatus::failed(QStringLiteral("x")),
              JobStatus::failed(QStringLiteral("y")), JobStatus::skipped(QStringLiteral("y")),
              JobStatus::running(), JobStatus::running()})
            job.setStatus(next);
        QCOMPARE(status.count(), 4);
        QCOMPARE(job.status(), JobStatus::running());

        QSignalSpy url(&job, &JobItem::outputURLChanged);
        QSignalSpy edge(&job, &JobItem::sourcePixelLongEdgeChanged);
        job.setOutputURL(std::nullopt);
        job.setOutputURL(Path("/tmp/Resized/a.jpg"));
        job.setOutputURL(Path("/tmp/Resized/a.jpg"));
        QCOMPARE(url.count(), 1);
        job.setSourcePixelLongEdge(0);
        job.setSourcePixelLongEdge(0);
        job.setSourcePixelLongEdge(std::nullopt);
        QCOMPARE(edge.count(), 2);
    }
    // Names the open dialog gives back as text find the files they show.
    void dialogResultsNameExactFiles_data() {
        QTest::addColumn<QList<QUrl>>("chosen");
        QTest::addColumn<QByteArrayList>("files");
        const QString shown = QString::fromStdString(root().native());
        QTest::newRow("made from text: found again")
            << QList<QUrl>{QUrl::fromLocalFile(shown + QStringLiteral("/\uFFFD.jpg")),
                           QUrl::fromLocalFile(shown + QStringLiteral("/\uFFFD/in.jpg"))}
            << QByteArrayList{bytes(root() / "\xff.jpg"), bytes(root() / "\xfa" / "in.jpg")};
        QTest::newRow("two names that show alike: both")
            << QList<QUrl>{QUrl::fromLocalFile(shown + QStringLiteral("/x\uFFFD.jpg"))}
            << QByteArrayList{bytes(root() / "x\xfe.jpg"), bytes(root() / "x\xff.jpg")};
        QTest::newRow("no such file: passed on")
            << QList<QUrl>{QUrl::fromLocalFile(shown + QStringLiteral("/gone.jpg"))}
            << QByteArrayList{bytes(root() / "gone.jpg")};
    }

    void dialogResultsNameExactFiles() {
        QFETCH(QList<QUrl>, chosen);
        QFETCH(QByteArrayList, files);
        QByteArrayList named;
        for (const QUrl& url : FileURLs::exactURLs(chosen))
            named << bytes(FileURLs::localPath(url).value_or(fs::path()));
        QCOMPARE(named, files);
    }
};

QTEST_GUILESS_MAIN(JobsTest)
#include "tst_Jobs.moc"
