// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/JobItem.h"
#include "Models/JobSummary.h"

#include <QSignalSpy>
#include <QTest>

using Path = std::filesystem::path;

class JobsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newJob() {
        JobItem a(Path("/tmp/a.jpg"));
        JobItem b(Path("/tmp/a.jpg"));
        QVERIFY(a.id() != b.id());
        QCOMPARE(a.status(), JobStatus::pending());
        QVERIFY(!a.outputURL() && !a.sourcePixelLongEdge() && !a.outputPixelLongEdge());
    }

    void statusNotifications_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("notifies");
        // 0: failed "x", 1: failed "y", 2: skipped "x", 3: running
        QTest::newRow("same failure") << 0 << 0 << false;
        QTest::newRow("other message") << 0 << 1 << true;
        QTest::newRow("skip with same text") << 0 << 2 << true;
        QTest::newRow("running again") << 3 << 3 << false;
    }
    void statusNotifications() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, notifies);
        const JobStatus statuses[] = {
            JobStatus::failed(QStringLiteral("x")), JobStatus::failed(QStringLiteral("y")),
            JobStatus::skipped(QStringLiteral("x")), JobStatus::running()};
        JobItem job(Path("/tmp/a.jpg"));
        job.setStatus(statuses[from]);
        QSignalSpy spy(&job, &JobItem::statusChanged);
        job.setStatus(statuses[to]);
        QCOMPARE(spy.count(), notifies ? 1 : 0);
        QCOMPARE(job.status(), statuses[to]);
    }

    void optionalFieldNotifications() {
        JobItem job(Path("/tmp/a.jpg"));
        QSignalSpy url(&job, &JobItem::outputURLChanged);
        QSignalSpy edge(&job, &JobItem::sourcePixelLongEdgeChanged);
        job.setOutputURL(std::nullopt);
        QCOMPARE(url.count(), 0);
        job.setOutputURL(Path("/tmp/Resized/a.jpg"));
        job.setOutputURL(Path("/tmp/Resized/a.jpg"));
        QCOMPARE(url.count(), 1);
        job.setSourcePixelLongEdge(0); // 0 is a value, not absence
        QCOMPARE(edge.count(), 1);
        job.setSourcePixelLongEdge(0);
        job.setSourcePixelLongEdge(std::nullopt);
        QCOMPARE(edge.count(), 2);
    }

    void texts() {
        QList<JobItem*> jobs;
        const auto add = [&](const JobStatus& status) {
            auto* job = new JobItem(Path("/tmp/x.jpg"), this);
            job->setStatus(status);
            jobs.append(job);
            return job;
        };
        add(JobStatus::pending());
        add(JobStatus::pending());
        QCOMPARE(JobSummary::detailLine(*add(JobStatus::running())), QStringLiteral("処理中…"));
        JobItem* done = add(JobStatus::succeeded());
        done->setSourcePixelLongEdge(4032);
        done->setOutputPixelLongEdge(1920);
        QCOMPARE(JobSummary::detailLine(*done), QStringLiteral("4032px → 1920px"));
        JobItem* pathOnly = add(JobStatus::succeeded());
        pathOnly->setOutputURL(Path("/tmp/Resized/x.jpg"));
        QCOMPARE(JobSummary::detailLine(*pathOnly), QStringLiteral("/tmp/Resized/x.jpg"));
        QCOMPARE(JobSummary::detailLine(*add(JobStatus::succeeded())), std::nullopt);
        QCOMPARE(JobSummary::detailLine(*add(JobStatus::skipped(QStringLiteral("r")))),
                 QStringLiteral("r"));
        QCOMPARE(JobSummary::detailLine(*add(JobStatus::failed(QStringLiteral("m")))),
                 QStringLiteral("m"));
        QCOMPARE(JobSummary::detailLine(*jobs.first()), QStringLiteral("待機中"));
        QCOMPARE(JobSummary::summary(JobCounts::of(jobs)),
                 QStringLiteral("完了 3 / スキップ 1 / 失敗 1 / 全 8"));
        qDeleteAll(jobs);
    }
};

QTEST_GUILESS_MAIN(JobsTest)
#include "tst_Jobs.moc"
