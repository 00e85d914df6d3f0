// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentView.h"
#include "KorrinMacApp.h"
#include "Models/FileURLs.h"
#include "Models/JobSummary.h"
#include "Services/ImageProcessor.h"
#include "Services/Localization.h"
#include "Settings/ResizeSettings.h"
#include "Settings/SettingsStore.h"
#include "Support/TestSupport.h"
#include "Views/DropZoneView.h"
#include "Views/JobListModel.h"
#include "Views/JobListView.h"
#include "Views/OpenImagesDialog.h"
#include "Views/SettingsPanel.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

namespace fs = std::filesystem;

// The window's parts together on the real engine, with real images made here.
class ContentViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;

    static QStringList sourceNames(const ImageProcessor& processor) {
        QStringList names;
        for (const JobItem* job : processor.jobs())
            names << FileURLs::displayName(job->sourceURL());
        return names;
    }

private Q_SLOTS:
    void initTestCase() {
        TestSupport::initialize();
        // The application's own settings file lands here, not in the home folder.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void dropRunsOneBatchInOrder() {
        QTemporaryDir dir;
        const fs::path root = TestSupport::path(dir);
        TestSupport::makeImage(root / "b.jpg", {.width = 2000, .height = 1000});
        fs::create_directories(root / "trip" / "day2");
        for (const char* name : {"trip/c.png", "trip/day2/d.JPG", "a.webp", "notes.txt"})
            TestSupport::writeBytes(root / name, "not read here");

        SettingsStore store(m_config.filePath(QStringLiteral("drop.json")));
        ContentView view(&store);
        view.resize(880, 640);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy appended(&view.processor(), &ImageProcessor::jobsAppended);
        // What the window shows when the jobs arrive: a fast batch may be over
        // by the time the test looks again.
        auto* clearAll = view.jobList()->findChild<QToolButton*>(QStringLiteral("clearAll"));
        auto* notice = view.settingsPanel()->findChild<QLabel*>(QStringLiteral("notice"));
        bool runningWhenAppended = false;
        connect(&view.processor(), &ImageProcessor::jobsAppended, this, [&] {
            runningWhenAppended =
                view.processor().isProcessing() && !clearAll->isEnabled() && notice->isVisible();
        });
        QMimeData data;
        data.setUrls({FileURLs::fileURL(root / "b.jpg"), FileURLs::fileURL(root / "trip"),
                      FileURLs::fileURL(root / "notes.txt"),
                      QUrl(QStringLiteral("https://example.org/x.jpg")),
                      FileURLs::fileURL(root / "a.webp")});
        const QPoint at = view.dropZone()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.dropZone(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.dropZone(), &drop);

        QTRY_COMPARE(appended.size(), 1); // folders are listed on a worker
        const QStringList names = sourceNames(view.processor());
        QCOMPARE(names.size(), 4);
        QCOMPARE(names.front(), QStringLiteral("b.jpg"));
        QCOMPARE(QSet<QString>(names.begin() + 1, names.end() - 1),
                 (QSet<QString>{QStringLiteral("c.png"), QStringLiteral("d.JPG")}));
        QCOMPARE(names.back(), QStringLiteral("a.webp"));

        // Running while the jobs arrive, with the notice and no clearing of running jobs.
        QVERIFY(runningWhenAppended);
        QTRY_VERIFY_WITH_TIMEOUT(!view.processor().isProcessing(), 60000);
        QVERIFY(clearAll->isEnabled() && !notice->isVisible());

        // Results reach the rows, made with the window's settings.
        const QAbstractItemModel* rows = view.jobList()->listView()->model();
        QCOMPARE(rows->index(0, 0).data(JobListModel::DetailLineRole).toString(),
                 QStringLiteral("2000px → 1280px"));
        QTest::mouseClick(clearAll, Qt::LeftButton);
        QCOMPARE(rows->rowCount(), 0);
    }

    void openDialogChoosesFilesAndFoldersTogether() {
        QTemporaryDir dir;
        const fs::path root = TestSupport::path(dir);
        fs::create_directories(root / "album");
        TestSupport::makeImage(root / "album" / "in.jpg");
        TestSupport::makeImage(root / "UPPER.JPG");
        TestSupport::makeImage(root / "Mixed.Png");
        QFile notes(QString::fromStdString((root / "notes.txt").native()));
        QVERIFY(notes.open(QIODevice::WriteOnly));

        SettingsStore store(m_config.filePath(QStringLiteral("dialog.json")));
        ContentView view(&store);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy appended(&view.processor(), &ImageProcessor::jobsAppended);

        QStringList listed;
        QStringList chosen;
        QString title;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<OpenImagesDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            dialog->setDirectory(QString::fromStdString(root.native()));
            auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            const QModelIndex rootIndex = tree->rootIndex();
            if (!QTest::qWaitFor([&] { return tree->model()->rowCount(rootIndex) >= 3; }, 10000)) {
                dialog->reject();
                return;
            }
            QTest::qWait(200); // let the model finish listing
            for (int row = 0; row < tree->model()->rowCount(rootIndex); ++row)
                listed << tree->model()->index(row, 0, rootIndex).data().toString();
            // The folder and one image, chosen together.
            for (int row = 0; row < tree->model()->rowCount(rootIndex); ++row) {
                const QModelIndex index = tree->model()->index(row, 0, rootIndex);
                if (index.data().toString() == QStringLiteral("album") ||
                    index.data().toString() == QStringLiteral("UPPER.JPG")) {
                    tree->selectionModel()->select(index, QItemSelectionModel::Select |
                                                              QItemSelectionModel::Rows);
                    chosen << index.data().toString();
                }
            }
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            QAbstractButton* open = buttons->button(QDialogButtonBox::Open);
            if (!open)
                open = buttons->buttons().front();
            QTest::mouseClick(open, Qt::LeftButton);
            if (dialog->isVisible())
                dialog->reject();
        });
        view.openFileDialog();

        QCOMPARE(title, QStringLiteral("リサイズする画像を選択"));
        // Images in any letter case and folders are listed; other files are not.
        QVERIFY2(listed.contains(QStringLiteral("UPPER.JPG")) &&
                     listed.contains(QStringLiteral("Mixed.Png")) &&
                     listed.contains(QStringLiteral("album")),
                 qPrintable(listed.join(u',')));
        QVERIFY(!listed.contains(QStringLiteral("notes.txt")));
        // One enqueue with both, in the dialog's order; the folder is expanded
        // by the processor.
        QTRY_COMPARE(appended.size(), 1);
        QStringList expected;
        for (const QString& name : std::as_const(chosen))
            expected << (name == QStringLiteral("album") ? QStringLiteral("in.jpg") : name);
        QCOMPARE(sourceNames(view.processor()), expected);
        QTRY_VERIFY_WITH_TIMEOUT(!view.processor().isProcessing(), 60000);
    }

    void commandLine_data() {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<QList<QUrl>>("urls");
        const QString cwd = QDir::currentPath();
        QTest::newRow("absolute and relative paths")
            << QList<QByteArray>{"/photos/a b.jpg", "trip/../c.png"}
            << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/photos/a b.jpg")),
                           QUrl::fromLocalFile(cwd + QStringLiteral("/c.png"))};
        QTest::newRow("file URIs as given")
            << QList<QByteArray>{"file:///photos/%E5%86%99%E7%9C%9F.jpg"}
            << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/photos/写真.jpg"))};
        QTest::newRow("options skipped until --")
            << QList<QByteArray>{"--verbose", "--", "-dash.jpg"}
            << QList<QUrl>{QUrl::fromLocalFile(cwd + QStringLiteral("/-dash.jpg"))};
        QTest::newRow("a name that is not UTF-8")
            << QList<QByteArray>{"/p/\xff.jpg"}
            << QList<QUrl>{QUrl::fromEncoded("file:///p/%FF.jpg")};
    }

    void commandLine() {
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(QList<QUrl>, urls);
        QCOMPARE(KorrinMacApp::commandLineURLs(arguments), urls);
    }

    void applicationWindowAndCommandLineBatch() {
        KorrinMacApp app;
        QMainWindow* window = app.mainWindow();
        // One window only: nothing in the menus opens another.
        const QWidgetList windows = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(windows.begin(), windows.end(),
                               [](QWidget* w) { return qobject_cast<QMainWindow*>(w); }),
                 1);
        for (QAction* menu : window->menuBar()->actions())
            for (QAction* item : menu->menu()->actions())
                QVERIFY2(!item->text().contains(QStringLiteral("新規")), qPrintable(item->text()));

        QTemporaryDir dir;
        const fs::path root = TestSupport::path(dir);
        TestSupport::makeImage(root / "one.jpg");
        TestSupport::makeImage(root / "two.png");
        QSignalSpy appended(&app.contentView()->processor(), &ImageProcessor::jobsAppended);
        app.openURLs(KorrinMacApp::commandLineURLs(
            {QByteArray::fromStdString((root / "one.jpg").native()),
             QByteArray::fromStdString((root / "two.png").native())}));
        QCOMPARE(appended.size(), 0); // waits for the window
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE(appended.size(), 1);
        QCOMPARE(sourceNames(app.contentView()->processor()),
                 (QStringList{QStringLiteral("one.jpg"), QStringLiteral("two.png")}));
        QTRY_VERIFY_WITH_TIMEOUT(!app.contentView()->processor().isProcessing(), 60000);
    }

    void translationTables_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("reveal");
        QTest::addColumn<QString>("title");
        QTest::newRow("Japanese") << QStringLiteral("ja_JP")
                                  << QStringLiteral("ファイルマネージャで表示")
                                  << QStringLiteral("処理結果");
        QTest::newRow("English") << QStringLiteral("en_GB")
                                 << QStringLiteral("Show in File Manager")
                                 << QStringLiteral("Results");
        QTest::newRow("any other language: Japanese")
            << QStringLiteral("de_DE") << QStringLiteral("ファイルマネージャで表示")
            << QStringLiteral("処理結果");
    }

    void translationTables() {
        QFETCH(QString, locale);
        QFETCH(QString, reveal);
        QFETCH(QString, title);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        {
            QObject owner;
            Localization::installTranslators(&owner);
            QCOMPARE(QCoreApplication::translate("JobRow", "Finderで表示"), reveal);
            QCOMPARE(QCoreApplication::translate("JobListView", "処理結果"), title);
        }
        QLocale::setDefault(before);
        QCOMPARE(QCoreApplication::translate("JobRow", "Finderで表示"),
                 QStringLiteral("Finderで表示"));
    }

    // Closing the window (Quit and the session's end close it too) while a
    // batch runs: no further file starts, those in flight finish, then the
    // program quits. Last, since the quit would end later event loops.
    void closingWaitsForTheFilesInFlight() {
        QTemporaryDir dir;
        const fs::path root = TestSupport::path(dir);
        QList<QUrl> urls;
        for (int i = 0; i < 8; ++i)
            urls << FileURLs::fileURL(TestSupport::makeImage(
                root / ("p" + std::to_string(i) + ".png"), {.width = 1200, .height = 900}));
        KorrinMacApp app;
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
        ImageProcessor& processor = app.contentView()->processor();
        app.openURLs(urls);
        QTRY_VERIFY(!processor.jobs().isEmpty() &&
                    processor.jobs().first()->status() == JobStatus::running());
        QSignalSpy stopped(&processor, &ImageProcessor::stopped);

        QVERIFY(!app.mainWindow()->close());
        QVERIFY(app.mainWindow()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 30000);
        QCOMPARE(stopped.first().first().toBool(), false); // nothing abandoned
        const JobCounts counts = JobCounts::of(processor.jobs());
        QVERIFY(counts[JobStatus::Kind::pending] > 0);
        QCOMPARE(counts[JobStatus::Kind::running], 0);
        QCOMPARE(qsizetype(std::distance(fs::directory_iterator(root / "Resized"), {})),
                 counts[JobStatus::Kind::succeeded]);
    }
};

QTEST_MAIN(ContentViewTest)
#include "tst_ContentView.moc"
