// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/JobItem.h"
#include "Views/JobListModel.h"
#include "Views/JobListView.h"
#include "Views/JobRow.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <memory>
#include <numeric>
#include <vector>

using Kind = JobStatus::Kind;

class JobListViewTest : public QObject {
    Q_OBJECT

    // The jobs of one test, owned here as the processor would own them.
    std::vector<std::unique_ptr<JobItem>> m_owned;

    JobItem* job(const char* name, const JobStatus& status = JobStatus::pending()) {
        m_owned.push_back(std::make_unique<JobItem>(std::filesystem::path("/photos") / name));
        m_owned.back()->setStatus(status);
        return m_owned.back().get();
    }

    static QString summaryOf(const JobListView& view) {
        return view.findChild<QLabel*>(QStringLiteral("summary"))->text();
    }

private Q_SLOTS:
    void cleanup() { m_owned.clear(); }

    void detailLine_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("sourceEdge"); // -1: absent
        QTest::addColumn<qint64>("outputEdge");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected"); // null: no second line
        QTest::addColumn<bool>("revealable");

        QTest::newRow("pending") << int(Kind::pending) << QString() << -1LL << -1LL << QString()
                                 << QStringLiteral("待機中") << false;
        QTest::newRow("running") << int(Kind::running) << QString() << -1LL << -1LL << QString()
                                 << QStringLiteral("処理中…") << false;
        QTest::newRow("succeeded with sizes")
            << int(Kind::succeeded) << QString() << 4032LL << 1920LL
            << QStringLiteral("/photos/Resized/a.jpg") << QStringLiteral("4032px → 1920px") << true;
        QTest::newRow("succeeded, zero is a size")
            << int(Kind::succeeded) << QString() << 0LL << 0LL << QStringLiteral("/o/a.jpg")
            << QStringLiteral("0px → 0px") << true;
        QTest::newRow("succeeded, sizes unknown")
            << int(Kind::succeeded) << QString() << 4032LL << -1LL
            << QStringLiteral("/photos/Resized/写真 1.jpg")
            << QStringLiteral("/photos/Resized/写真 1.jpg") << true;
        QTest::newRow("succeeded, nothing known")
            << int(Kind::succeeded) << QString() << -1LL << -1LL << QString() << QString() << false;
        QTest::newRow("skipped") << int(Kind::skipped) << QStringLiteral("画像が大きすぎます")
                                 << 90000LL << -1LL << QString()
                                 << QStringLiteral("画像が大きすぎます") << false;
        QTest::newRow("failed") << int(Kind::failed) << QStringLiteral("読めません") << -1LL << -1LL
                                << QString() << QStringLiteral("読めません") << false;
    }

    void detailLine() {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(qint64, sourceEdge);
        QFETCH(qint64, outputEdge);
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QFETCH(bool, revealable);

        JobItem* item = job("IMG_0001.JPG");
        if (sourceEdge >= 0)
            item->setSourcePixelLongEdge(sourceEdge);
        if (outputEdge >= 0)
            item->setOutputPixelLongEdge(outputEdge);
        if (!output.isEmpty())
            item->setOutputURL(std::filesystem::path(output.toStdString()));
        switch (Kind(kind)) {
        case Kind::pending:
            break;
        case Kind::running:
            item->setStatus(JobStatus::running());
            break;
        case Kind::succeeded:
            item->setStatus(JobStatus::succeeded());
            break;
        case Kind::skipped:
            item->setStatus(JobStatus::skipped(text));
            break;
        case Kind::failed:
            item->setStatus(JobStatus::failed(text));
            break;
        }

        JobListModel model;
        model.setJobs({item});
        const QModelIndex index = model.index(0);
        QCOMPARE(index.data().toString(), QStringLiteral("IMG_0001.JPG"));
        QCOMPARE(JobRow::detailLine(*item).has_value(), !expected.isNull());
        QCOMPARE(index.data(JobListModel::DetailLineRole).toString(), expected);
        QCOMPARE(index.data(JobListModel::OutputPathRole).toString().isEmpty(), !revealable);
    }

    void summaryFollowsStatusesAndRemovals() {
        const QList<JobItem*> jobs{job("1.jpg"),
                                   job("2.jpg"),
                                   job("3.jpg", JobStatus::running()),
                                   job("4.jpg", JobStatus::succeeded()),
                                   job("5.jpg", JobStatus::succeeded()),
                                   job("6.jpg", JobStatus::succeeded()),
                                   job("7.jpg", JobStatus::skipped("s")),
                                   job("8.jpg", JobStatus::failed("f"))};
        JobListModel model;
        model.setJobs(jobs);
        JobListView view(&model, {}, {});
        QCOMPARE(summaryOf(view), QStringLiteral("完了 3 / スキップ 1 / 失敗 1 / 全 8"));

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        jobs[2]->setStatus(JobStatus::failed("x"));
        jobs[0]->setStatus(JobStatus::running());
        jobs[0]->setStatus(JobStatus::succeeded());
        QCOMPARE(summaryOf(view), QStringLiteral("完了 4 / スキップ 1 / 失敗 2 / 全 8"));
        // Each change redraws its own row only.
        QCOMPARE(changed.size(), 3);
        QCOMPARE(changed[0][0].toModelIndex().row(), 2);
        QCOMPARE(changed[2][0].toModelIndex().row(), 0);

        // The completed ones leave; the pending one stays.
        model.setJobs({jobs[1]});
        QCOMPARE(summaryOf(view), QStringLiteral("完了 0 / スキップ 0 / 失敗 0 / 全 1"));
        // A removed job no longer counts when it changes.
        jobs[4]->setStatus(JobStatus::failed("late"));
        QCOMPARE(summaryOf(view), QStringLiteral("完了 0 / スキップ 0 / 失敗 0 / 全 1"));
    }

    void rowsFollowTheList_data() {
        QTest::addColumn<QList<int>>("before");
        QTest::addColumn<QList<int>>("after");
        QTest::addColumn<int>("removeSignals");
        QTest::addColumn<int>("insertSignals");
        QTest::addColumn<int>("resets");

        QTest::newRow("append") << QList<int>{0, 1} << QList<int>{0, 1, 2, 3} << 0 << 1 << 0;
        QTest::newRow("remove two runs")
            << QList<int>{0, 1, 2, 3, 4, 5} << QList<int>{0, 3, 5} << 2 << 0 << 0;
        QTest::newRow("remove all") << QList<int>{0, 1, 2} << QList<int>{} << 1 << 0 << 0;
        QTest::newRow("remove and append")
            << QList<int>{0, 1, 2} << QList<int>{1, 3, 4} << 2 << 1 << 0;
        QTest::newRow("reordered") << QList<int>{0, 1, 2} << QList<int>{2, 0, 1} << 0 << 0 << 1;
        QList<int> many(200);
        std::iota(many.begin(), many.end(), 0);
        QList<int> everyOther;
        for (int i = 0; i < 200; i += 2)
            everyOther.append(i);
        QTest::newRow("many scattered removals") << many << everyOther << 0 << 0 << 1;
    }

    void rowsFollowTheList() {
        QFETCH(QList<int>, before);
        QFETCH(QList<int>, after);
        QFETCH(int, removeSignals);
        QFETCH(int, insertSignals);
        QFETCH(int, resets);

        std::vector<JobItem*> pool;
        for (int i = 0; i < 200; ++i)
            pool.push_back(job("x.jpg"));
        auto list = [&](const QList<int>& numbers) {
            QList<JobItem*> jobs;
            for (int n : numbers)
                jobs.append(pool[n]);
            return jobs;
        };
        JobListModel model;
        model.setJobs(list(before));
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setJobs(list(after));

        QCOMPARE(removed.size(), removeSignals);
        QCOMPARE(inserted.size(), insertSignals);
        QCOMPARE(reset.size(), resets);
        QCOMPARE(model.rowCount(), after.size());
        for (int row = 0; row < after.size(); ++row) {
            QCOMPARE(model.job(row), pool[after[row]]);
            QCOMPARE(model.indexOf(pool[after[row]]).row(), row);
        }
        // Rows still find their jobs after the shift.
        if (!after.isEmpty()) {
            QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
            pool[after.back()]->setStatus(JobStatus::running());
            QCOMPARE(changed.size(), 1);
            QCOMPARE(changed[0][0].toModelIndex().row(), after.size() - 1);
        }
    }

    void emptyStateAndClearButtons_data() {
        QTest::addColumn<bool>("processing");
        QTest::addColumn<bool>("clearAllEnabled");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("idle") << false << true << QStringLiteral("すべての項目を消去");
        QTest::newRow("processing")
            << true << false << QStringLiteral("処理中は実行中の項目を保持します");
    }

    void emptyStateAndClearButtons() {
        QFETCH(bool, processing);
        QFETCH(bool, clearAllEnabled);
        QFETCH(QString, tooltip);

        JobListModel model;
        int clearedCompleted = 0;
        int clearedAll = 0;
        JobListView view(
            &model, [&] { ++clearedCompleted; }, [&] { ++clearedAll; });
        view.resize(500, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* empty = view.findChild<QLabel*>(QStringLiteral("emptyState"));
        auto* summary = view.findChild<QLabel*>(QStringLiteral("summary"));
        auto* clearCompleted = view.findChild<QToolButton*>(QStringLiteral("clearCompleted"));
        auto* clearAll = view.findChild<QToolButton*>(QStringLiteral("clearAll"));
        QVERIFY(empty->isVisible());
        QCOMPARE(empty->text(), QStringLiteral("まだ何も処理していません"));
        QVERIFY(!summary->isVisible() && !clearCompleted->isVisible() && !clearAll->isVisible());

        model.setJobs({job("a.jpg", JobStatus::succeeded()), job("b.jpg", JobStatus::running())});
        view.setIsProcessing(processing);
        QVERIFY(!empty->isVisible());
        QVERIFY(view.listView()->isVisible());
        QVERIFY(summary->isVisible());
        QCOMPARE(clearCompleted->text(), QStringLiteral("完了をクリア"));
        QCOMPARE(clearAll->text(), QStringLiteral("全クリア"));
        QVERIFY(clearCompleted->isEnabled());
        QCOMPARE(clearAll->isEnabled(), clearAllEnabled);
        QCOMPARE(clearAll->toolTip(), tooltip);

        QTest::mouseClick(clearCompleted, Qt::LeftButton);
        QTest::mouseClick(clearAll, Qt::LeftButton);
        QCOMPARE(clearedCompleted, 1);
        QCOMPARE(clearedAll, clearAllEnabled ? 1 : 0);

        model.setJobs({});
        QVERIFY(empty->isVisible());
    }

    void revealButtonOnlyForWrittenOutputs() {
        JobItem* done = job("done.jpg", JobStatus::succeeded());
        done->setOutputURL(std::filesystem::path("/photos/Resized/done.jpg"));
        JobItem* failed = job("failed.jpg", JobStatus::failed("x"));
        JobListModel model;
        model.setJobs({done, failed});
        JobListView view(&model, {}, {});
        view.resize(500, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy revealed(view.rowDelegate(), &JobRow::revealRequested);

        QListView* list = view.listView();
        for (int row : {1, 0}) {
            const QRect button = JobRow::revealButtonRect(list->visualRect(model.index(row)));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, button.center());
        }
        QCOMPARE(revealed.size(), 1);
        QCOMPARE(revealed[0][0].value<std::filesystem::path>(),
                 std::filesystem::path("/photos/Resized/done.jpg"));
    }

    void secondaryTextFollowsADarkPalette() {
        JobListModel model;
        model.setJobs({job("a.jpg")});
        JobListView view(&model, {}, {});
        auto* summary = view.findChild<QLabel*>(QStringLiteral("summary"));
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
        auto shown = [summary] { return summary->palette().color(QPalette::WindowText); };
        QApplication::setPalette(dark);
        QTRY_COMPARE(shown().red(), 240);
        QVERIFY(shown().alphaF() < 0.9f); // still secondary, not the primary text
        QApplication::setPalette(light);
        QTRY_COMPARE(shown().rgb(), light.color(QPalette::WindowText).rgb());
    }

    void tenThousandJobsCostOnlyTheVisibleRows() {
        QList<JobItem*> jobs;
        for (int i = 0; i < 10000; ++i)
            jobs.append(job("photo.jpg", i % 3 ? JobStatus::succeeded() : JobStatus::running()));
        JobListModel model;
        JobListView view(&model, {}, {});
        view.resize(500, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int widgetsBefore = int(view.findChildren<QWidget*>().size());

        const auto start = std::chrono::steady_clock::now();
        model.setJobs(jobs);
        QCoreApplication::processEvents();
        view.listView()->viewport()->repaint();
        const auto elapsed = std::chrono::steady_clock::now() - start;

        QCOMPARE(model.rowCount(), 10000);
        QCOMPARE(int(view.findChildren<QWidget*>().size()), widgetsBefore);
        QVERIFY2(elapsed < std::chrono::seconds(5), "listing 10000 jobs took too long");
        // The list scrolls over all of them.
        view.listView()->scrollToBottom();
        QCoreApplication::processEvents();
        QVERIFY(
            view.listView()->indexAt(QPoint(5, view.listView()->viewport()->height() - 5)).row() ==
            9999);
    }
};

QTEST_MAIN(JobListViewTest)
#include "tst_JobListView.moc"
