// SPDX-License-Identifier: GPL-3.0-or-later
// The texts a job shows are checked through the list's roles (tst_JobListView).
#include "Models/JobItem.h"

#include <QSignalSpy>
#include <QTest>

using Path = std::filesystem::path;

class JobsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
};

QTEST_GUILESS_MAIN(JobsTest)
#include "tst_Jobs.moc"
