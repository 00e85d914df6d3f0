// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/ImageProcessor.h"
#include "Models/FileURLs.h"
#include "Models/JobItem.h"
#include "Support/TestSupport.h"
#include "Views/JobListModel.h"
#include "Views/JobListView.h"
#include "Views/JobRow.h"
#include "Views/Style.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace TestSupport;
using Kind = JobStatus::Kind;

namespace {

// A processor whose batch of `count` jobs (files that do not exist) has ended,
// so nothing but the test changes the jobs from here on.
std::unique_ptr<ImageProcessor> listed(int count, const char* name = "photo.jpg") {
    auto processor = std::make_unique<ImageProcessor>();
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls.append(FileURLs::fileURL(std::filesystem::path("/nonexistent") / name));
    processor->enqueue(urls, ResizeSettingsSnapshot());
    if (!waitUntilIdle(*processor))
        qFatal("the batch did not end");
    return processor;
}

QString summaryOf(const JobListView& view) {
    return view.findChild<QLabel*>(QStringLiteral("summary"))->text();
}

QString summary(qsizetype succeeded, int failed, qsizetype all) {
    return QStringLiteral("完了 %1 / スキップ 0 / 失敗 %2 / 全 %3")
        .arg(succeeded)
        .arg(failed)
        .arg(all);
}

// Whether any pixel of `image` is drawn at all.
bool hasInk(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(argb.pixel(x, y)) > 0)
                return true;
        }
    }
    return false;
}

} // namespace

class JobListViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { initialize(); }

    // What a row shows, what a screen reader says of it, and what dragging
    // or copying it carries: its output file, only when one was written.
    void roles_data() {
        QTest::addColumn<JobStatus>("status");
        QTest::addColumn<qint64>("sourceEdge"); // -1: absent
        QTest::addColumn<qint64>("outputEdge");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected"); // null: no second line
        QTest::addColumn<bool>("revealable");
        QTest::addColumn<QString>("spoken");
        const auto row = [](const char* tag, const JobStatus& status, qint64 source, qint64 out,
                            const QString& output, const QString& expected, bool revealable,
                            const QString& spoken) {
            QTest::newRow(tag) << status << source << out << output << expected << revealable
                               << QStringLiteral("IMG_0001.JPG、") + spoken;
        };
        const QString japanese = QStringLiteral("/photos/Resized/写真 1.jpg");
        row("pending", JobStatus::pending(), -1, -1, {}, QStringLiteral("待機中"), false,
            QStringLiteral("未処理"));
        row("running", JobStatus::running(), -1, -1, {}, QStringLiteral("処理中…"), false,
            QStringLiteral("処理中"));
        row("succeeded", JobStatus::succeeded(), 4032, 1280, japanese,
            QStringLiteral("4032px → 1280px"), true, QStringLiteral("完了、4032px → 1280px"));
        row("succeeded, sizes unknown", JobStatus::succeeded(), 4032, -1, japanese, japanese, true,
            QStringLiteral("完了、") + japanese);
        row("succeeded, nothing known", JobStatus::succeeded(), -1, -1, {}, {}, false,
            QStringLiteral("完了"));
        // Only a success reveals or drags.
        row("skipped, output left over", JobStatus::skipped(QStringLiteral("大きすぎ")), 90000, -1,
            QStringLiteral("/o/a.jpg"), QStringLiteral("大きすぎ"), false,
            QStringLiteral("スキップ、大きすぎ"));
        row("failed", JobStatus::failed(QStringLiteral("壊れています")), -1, -1, {},
            QStringLiteral("壊れています"), false, QStringLiteral("失敗、壊れています"));
    }

    void roles() {
        QFETCH(JobStatus, status);
        QFETCH(qint64, sourceEdge);
        QFETCH(qint64, outputEdge);
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QFETCH(bool, revealable);
        QFETCH(QString, spoken);

        const auto processor = listed(1, "IMG_0001.JPG");
        JobItem* job = processor->jobs().first();
        job->setSourcePixelLongEdge(sourceEdge >= 0 ? std::optional(sourceEdge) : std::nullopt);
        job->setOutputPixelLongEdge(outputEdge >= 0 ? std::optional(outputEdge) : std::nullopt);
        job->setOutputURL(output.isEmpty() ? std::nullopt
                                           : std::optional(fs::path(output.toStdString())));
        job->setSourceBytes(3'400'000);
        job->setOutputBytes(312'000);
        job->setStatus(status);

        JobListModel model(*processor);
        const QModelIndex index = model.index(0);
        QCOMPARE(index.data().toString(), QStringLiteral("IMG_0001.JPG"));
        QCOMPARE(Kind(index.data(JobListModel::StatusKindRole).toInt()), status.kind());
        QCOMPARE(index.data(JobListModel::DetailLineRole).toString(), expected);
        QCOMPARE(index.data(JobListModel::DetailLineRole).toString().isNull(), expected.isNull());
        QCOMPARE(index.data(JobListModel::OutputPathRole).toByteArray(),
                 revealable ? output.toUtf8() : QByteArray());
        // Sizes for a written output only, in the row and summed in the header.
        QCOMPARE(index.data(JobListModel::SizeChangeRole).toString(),
                 revealable ? QStringLiteral("3.4 MB → 312 KB") : QString());

        JobListView view(&model, {}, {});
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("saving"))->text(),
                 revealable ? QStringLiteral("3.4 MB → 312 KB（91% 削減）") : QString());
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view.listView());
        QCOMPARE(list->text(QAccessible::Name), QStringLiteral("処理結果"));
        QCOMPARE(list->child(0)->text(QAccessible::Name), spoken);

        QCOMPARE(model.flags(index).testFlag(Qt::ItemIsDragEnabled), revealable);
        const std::unique_ptr<QMimeData> dragged(model.mimeData({index}));
        QCOMPARE(dragged != nullptr, revealable);
        if (revealable) {
            QCOMPARE(model.mimeTypes(), QStringList{QStringLiteral("text/uri-list")});
            QCOMPARE(dragged->urls(), QList<QUrl>{QUrl::fromLocalFile(output)});
        }
    }

    // Rows follow the processor's appends and removals; the outcome counts
    // follow every status change of a listed job and forget removed ones.
    void rowsAndCountsFollowTheProcessor_data() {
        QTest::addColumn<QList<int>>("completed"); // rows marked succeeded, then cleared
        QTest::addColumn<int>("removeSignals");    // 0: one reset instead

        QTest::newRow("two runs") << QList<int>{1, 2, 4} << 2;
        QList<int> everyOther;
        for (int row = 0; row < 200; row += 2)
            everyOther.append(row);
        QTest::newRow("many scattered removals") << everyOther << 0;
    }

    void rowsAndCountsFollowTheProcessor() {
        QFETCH(QList<int>, completed);
        QFETCH(int, removeSignals);

        const int count = completed.size() > 6 ? 200 : 6;
        const auto processor = listed(count);
        for (JobItem* job : processor->jobs())
            job->setStatus(JobStatus::running());
        JobListModel model(*processor);
        QAbstractItemModelTester tester(&model);
        JobListView view(&model, {}, {});

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QList<JobItem*> removed;
        for (int row : completed) {
            removed.append(processor->jobs()[row]);
            removed.back()->setStatus(JobStatus::succeeded());
        }
        QCOMPARE(changed.size(), completed.size()); // each change redraws its own row only
        for (qsizetype i = 0; i < completed.size(); ++i)
            QCOMPARE(changed[i][0].toModelIndex().row(), completed[i]);
        QCOMPARE(summaryOf(view), summary(completed.size(), 0, count));

        QSignalSpy removedRows(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        processor->clearCompleted();
        QCOMPARE(removedRows.size(), removeSignals);
        QCOMPARE(reset.size(), removeSignals > 0 ? 0 : 1);
        QCOMPARE(model.rowCount(), processor->jobs().size());
        const int left = count - int(completed.size());
        QCOMPARE(summaryOf(view), summary(0, 0, left));

        // A removed job no longer counts, and rows still find their jobs after the shift.
        changed.clear();
        for (JobItem* job : removed)
            job->setStatus(JobStatus::failed(QStringLiteral("late")));
        processor->jobs().back()->setStatus(JobStatus::failed(QStringLiteral("x")));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), left - 1);
        QCOMPARE(summaryOf(view), summary(0, 1, left));

        QVERIFY(waitUntilIdle(*processor));
    }

    // The list as shown: its empty state, rows for a further drop, the reveal
    // button for written outputs only, the clear buttons.
    void shownList() {
        ImageProcessor processor;
        JobListModel model(processor);
        QAbstractItemModelTester tester(&model);
        QStringList cleared;
        JobListView view(
            &model, [&] { cleared << QStringLiteral("completed"); },
            [&] { cleared << QStringLiteral("all"); });
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

        processor.enqueue(fileURLs({"/nonexistent/a.jpg", "/nonexistent/b.jpg"}),
                          ResizeSettingsSnapshot());
        QVERIFY(waitUntilIdle(processor));
        QVERIFY(!empty->isVisible() && summary->isVisible() && clearAll->isVisible());

        // A name that is not UTF-8 must reach the file manager byte for byte;
        // a failure keeps no revealable output.
        const fs::path written("/photos/Resized/d\xE9j\xE0.jpg");
        for (JobItem* job : processor.jobs())
            job->setOutputURL(written);
        processor.jobs()[0]->setStatus(JobStatus::succeeded());
        QSignalSpy revealed(view.rowDelegate(), &JobRow::revealRequested);
        QListView* list = view.listView();
        for (int row : {1, 0}) {
            const QRect button = JobRow::revealButtonRect(list->visualRect(model.index(row)));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, button.center());
        }
        QCOMPARE(revealed.size(), 1);
        QCOMPARE(revealed[0][0].value<fs::path>(), written);

        // By keyboard: the list takes focus, arrows select, Enter reveals the
        // selected output and Ctrl+C copies it as a file.
        QSignalSpy revealedByKey(&view, &JobListView::revealRequested);
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        list->setFocus();
        QVERIFY(list->hasFocus());
        for (const auto key : {Qt::Key_Down, Qt::Key_Return, Qt::Key_Up, Qt::Key_Return})
            QTest::keyClick(list, key);
        QCOMPARE(revealedByKey.size(), 1); // the failure's row has nothing to reveal
        QCOMPARE(revealedByKey[0][0].value<fs::path>(), written);
        QCOMPARE(list->selectionModel()->selectedRows(), QModelIndexList{model.index(0)});
        QTest::keySequence(list, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->urls(),
                 QList<QUrl>{FileURLs::fileURL(written)});

        QCOMPARE(clearCompleted->text(), QStringLiteral("完了をクリア"));
        QCOMPARE(clearAll->text(), QStringLiteral("全クリア"));
        auto* stop = view.findChild<QToolButton*>(QStringLiteral("stop"));
        QSignalSpy stopRequested(&view, &JobListView::stopRequested);
        for (const bool processing : {true, false}) {
            view.setIsProcessing(processing);
            // Stop only while processing, and once.
            QCOMPARE(stop->isVisible(), processing);
            QCOMPARE(stop->text(), QStringLiteral("停止"));
            if (processing)
                QTest::mouseClick(stop, Qt::LeftButton);
            QCOMPARE(stop->isEnabled(), !processing);
            QCOMPARE(stopRequested.size(), 1);
            QVERIFY(clearCompleted->isEnabled());
            QCOMPARE(clearAll->isEnabled(), !processing);
            QCOMPARE(clearAll->toolTip(), processing
                                              ? QStringLiteral("処理中は実行中の項目を保持します")
                                              : QStringLiteral("すべての項目を消去"));
            QTest::mouseClick(clearCompleted, Qt::LeftButton);
            QTest::mouseClick(clearAll, Qt::LeftButton);
        }
        // A disabled button does nothing.
        QCOMPARE(cleared, (QStringList{QStringLiteral("completed"), QStringLiteral("completed"),
                                       QStringLiteral("all")}));
        processor.clearAll();
        QVERIFY(empty->isVisible());
    }

    // While processing, a row that starts running is scrolled into view,
    // until the user scrolls the list themselves.
    void runningRowsStayInView() {
        const auto processor = listed(200);
        JobListModel model(*processor);
        JobListView view(&model, {}, {});
        view.resize(500, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setIsProcessing(true);
        QListView* list = view.listView();
        const auto shown = [list](int row) {
            return list->viewport()->rect().intersects(
                list->visualRect(list->model()->index(row, 0)));
        };
        processor->jobs()[150]->setStatus(JobStatus::running());
        QVERIFY(shown(150));
        list->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
        processor->jobs()[180]->setStatus(JobStatus::running());
        QVERIFY(shown(0) && !shown(180));
    }

    // The rows' menu, by its mnemonics: it acts on the selected rows' written
    // outputs only, and hands each action to the owner.
    void rowMenu_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("signal");
        QTest::newRow("reveal") << int(Qt::Key_R)
                                << QByteArray(SIGNAL(revealRequested(std::filesystem::path)));
        QTest::newRow("open") << int(Qt::Key_O)
                              << QByteArray(SIGNAL(openRequested(std::filesystem::path)));
        QTest::newRow("trash") << int(Qt::Key_T)
                               << QByteArray(SIGNAL(trashRequested(QList<JobItem*>)));
    }
    void rowMenu() {
        QFETCH(int, key);
        QFETCH(QByteArray, signal);
        const auto processor = listed(2);
        const fs::path written("/photos/Resized/a.jpg");
        processor->jobs()[0]->setOutputURL(written);
        processor->jobs()[0]->setStatus(JobStatus::succeeded());
        JobListModel model(*processor);
        JobListView view(&model, {}, {});
        view.resize(500, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QListView* list = view.listView();
        list->selectionModel()->select(model.index(0), QItemSelectionModel::Select);
        list->selectionModel()->select(model.index(1), QItemSelectionModel::Select);

        QSignalSpy asked(&view, signal.constData());
        QTimer::singleShot(0, this, [key] {
            if (QWidget* menu = QApplication::activePopupWidget())
                QTest::keyClick(menu, Qt::Key(key));
        });
        Q_EMIT list->customContextMenuRequested(list->visualRect(model.index(0)).center());
        QCOMPARE(asked.size(), 1);
        if (key == Qt::Key_T)
            QCOMPARE(asked[0][0].value<QList<JobItem*>>(), QList{processor->jobs()[0]});
        else
            QCOMPARE(asked[0][0].value<fs::path>(), written);
    }

    // Faded texts stay readable (4.5:1) and symbols on buttons take the
    // palette's text colour, in light and dark palettes alike.
    void readableInEveryPalette_data() {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<QColor>("text");
        QTest::newRow("light") << QColor(239, 239, 239) << QColor(Qt::black);
        QTest::newRow("dark") << QColor(49, 54, 59) << QColor(239, 240, 241);
        QTest::newRow("dim text on grey") << QColor(128, 128, 128) << QColor(20, 20, 20);
    }
    void readableInEveryPalette() {
        QFETCH(QColor, window);
        QFETCH(QColor, text);
        QPalette palette(text, window);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::ButtonText, text);
        for (const QColor& faded : {Style::secondary(palette), Style::tertiary(palette)}) {
            const float a = faded.alphaF();
            const QColor shown = QColor::fromRgbF(text.redF() * a + window.redF() * (1 - a),
                                                  text.greenF() * a + window.greenF() * (1 - a),
                                                  text.blueF() * a + window.blueF() * (1 - a));
            QVERIFY2(Style::contrast(shown, window) >= Style::minimumTextContrast,
                     qPrintable(QString::number(Style::contrast(shown, window))));
        }
        const QImage plus =
            Style::icon(Style::Symbol::plus, palette).pixmap(QSize(24, 24)).toImage();
        QVERIFY(hasInk(plus));
        for (int y = 0; y < plus.height(); ++y) {
            for (int x = 0; x < plus.width(); ++x) {
                if (qAlpha(plus.pixel(x, y)) == 255)
                    QCOMPARE(QColor(plus.pixel(x, y)).rgb(), text.rgb());
            }
        }
    }

    // The rows' symbols and the application icon are SVGs of our own, which
    // only Qt's SVG plugins draw (in libqt6svg6 on Debian 12, qt6-svg-plugins
    // on 13): without them every symbol is an empty square.
    void symbolsDraw_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<int>("symbol"); // -1: the application icon
        using Style::Symbol;
        const std::pair<const char*, Symbol> symbols[] = {
            {"plus", Symbol::plus},
            {"tray-arrow-down", Symbol::dropTarget},
            {"clock", Symbol::clock},
            {"checkmark-circle-fill", Symbol::checkmarkCircleFill},
            {"minus-circle", Symbol::minusCircle},
            {"exclamationmark-triangle-fill", Symbol::exclamationTriangleFill},
            {"magnifyingglass", Symbol::magnifyingGlass},
        };
        for (const auto& [name, symbol] : symbols)
            QTest::newRow(name) << QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name))
                                << int(symbol);
        QTest::newRow("application") << QStringLiteral(":/icons/burisora.svg") << -1;
    }
    void symbolsDraw() {
        QFETCH(QString, resource);
        QFETCH(int, symbol);
        QVERIFY2(QImageReader::supportedImageFormats().contains("svg"),
                 "no SVG image plugin: the window draws no symbols");
        QImageReader reader(resource);
        reader.setScaledSize(QSize(48, 48));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), QSize(48, 48));
        QVERIFY(hasInk(image));
        QVERIFY(hasInk(QIcon(resource).pixmap(QSize(48, 48)).toImage()));
        // What the window draws: the tinted symbol, or the application icon.
        const QPixmap shown = symbol < 0 ? Style::applicationIcon().pixmap(QSize(48, 48))
                                         : Style::tinted(Style::Symbol(symbol), Qt::black, 24, 2.0);
        QVERIFY(!shown.isNull());
        QVERIFY(hasInk(shown.toImage()));
    }
};

QTEST_MAIN(JobListViewTest)
#include "tst_JobListView.moc"
