// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentView.h"
#include "KorrinMacApp.h"
#include "Models/FileURLs.h"
#include "Models/JobSummary.h"
#include "Services/ImageProcessor.h"
#include "Services/Localization.h"
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
    QTemporaryDir m_files;

    static QStringList sourceNames(const ImageProcessor& processor) {
        QStringList names;
        for (const JobItem* job : processor.jobs())
            names << FileURLs::displayName(job->sourceURL());
        return names;
    }

    static bool send(QWidget* target, QEvent&& event) {
        QCoreApplication::sendEvent(target, &event);
        return event.isAccepted();
    }

private Q_SLOTS:
    void initTestCase() {
        TestSupport::initialize();
        // The application's own settings file lands here, not in the home folder.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        const fs::path root = TestSupport::path(m_files);
        TestSupport::makeImage(root / "b.jpg", {.width = 2000, .height = 1000});
        fs::create_directories(root / "trip" / "day2");
        for (const char* name : {"trip/c.png", "trip/day2/d.JPG", "a.webp", "notes.txt"})
            TestSupport::writeBytes(root / name, "not read here");
    }

    // The drop zone takes any list of URLs and hands it over as it is: one
    // batch in the order given, folders listed in place, the rest left out.
    void drop_data() {
        QTest::addColumn<QList<QUrl>>("urls"); // empty: text only
        QTest::addColumn<bool>("dropped");     // false: the drag leaves
        QTest::addColumn<bool>("batch");
        const fs::path root = TestSupport::path(m_files);
        const QList<QUrl> files{FileURLs::fileURL(root / "b.jpg"), FileURLs::fileURL(root / "trip"),
                                FileURLs::fileURL(root / "notes.txt"),
                                QUrl(QStringLiteral("https://example.org/x.jpg")),
                                FileURLs::fileURL(root / "a.webp")};
        QTest::newRow("files and folders") << files << true << true;
        QTest::newRow("nothing usable, still accepted")
            << QList<QUrl>{QUrl(QStringLiteral("https://example.org/picture.jpg")),
                           FileURLs::fileURL(root / "notes.txt")}
            << true << false;
        QTest::newRow("leaving") << files << false << false;
        QTest::newRow("text refused") << QList<QUrl>{} << false << false;
    }

    void drop() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, dropped);
        QFETCH(bool, batch);
        SettingsStore store(m_config.filePath(QStringLiteral("drop.json")));
        ContentView view(&store);
        view.resize(880, 640);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        DropZoneView* zone = view.dropZone();
        QCOMPARE(zone->findChild<QLabel*>(QStringLiteral("title"))->text(),
                 QStringLiteral("ここに画像をドロップ"));
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
        if (urls.isEmpty())
            data.setText(QStringLiteral("just words"));
        else
            data.setUrls(urls);
        const QPoint at = zone->rect().center();
        QCOMPARE(send(zone, QDragEnterEvent(at, Qt::CopyAction, &data, Qt::LeftButton, {})),
                 !urls.isEmpty());
        QCOMPARE(zone->isTargeted(), !urls.isEmpty());
        if (urls.isEmpty())
            return;
        // The colours move to the accent over 0.15 s, not at once.
        QVERIFY(zone->highlight() < 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(zone->highlight(), 1.0, 1000);
        QVERIFY(send(zone, QDragMoveEvent(at, Qt::CopyAction, &data, Qt::LeftButton, {})));
        if (dropped)
            QVERIFY(send(zone, QDropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, {})));
        else
            send(zone, QDragLeaveEvent());
        QVERIFY(!zone->isTargeted());
        QTRY_COMPARE_WITH_TIMEOUT(zone->highlight(), 0.0, 1000);
        if (!batch) {
            QVERIFY(!view.processor().isProcessing()); // nothing was enqueued
            return;
        }

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

    // Folders and images in any letter case are listed; a folder and a file
    // chosen together are one batch, in the dialog's order.
    void openDialogTakesFilesAndFoldersTogether() {
        QTemporaryDir dir;
        const fs::path root = TestSupport::path(dir);
        fs::create_directories(root / "album");
        for (const char* name : {"album/in.jpg", "UPPER.JPG", "Mixed.Png", "notes.txt"})
            TestSupport::writeBytes(root / name, "not read here");
        SettingsStore store(m_config.filePath(QStringLiteral("dialog.json")));
        ContentView view(&store);
        QSignalSpy appended(&view.processor(), &ImageProcessor::jobsAppended);

        QString title;
        QStringList listed;
        QStringList chosen;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<OpenImagesDialog*>(QApplication::activeModalWidget());
            title = dialog->windowTitle();
            dialog->setDirectory(QString::fromStdString(root.native()));
            auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            const QAbstractItemModel* model = tree->model();
            if (!QTest::qWaitFor([&] { return model->rowCount(tree->rootIndex()) >= 3; }, 10000))
                return dialog->reject(); // the checks below fail
            QTest::qWait(200);           // let the model finish listing
            for (int row = 0; row < model->rowCount(tree->rootIndex()); ++row) {
                const QModelIndex index = model->index(row, 0, tree->rootIndex());
                listed << index.data().toString();
                if (listed.back() == QStringLiteral("album") ||
                    listed.back() == QStringLiteral("UPPER.JPG")) {
                    tree->selectionModel()->select(index, QItemSelectionModel::Select |
                                                              QItemSelectionModel::Rows);
                    chosen << listed.back();
                }
            }
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
            if (dialog->isVisible())
                dialog->reject();
        });
        view.openFileDialog();

        QCOMPARE(title, QStringLiteral("リサイズする画像を選択"));
        listed.sort();
        QCOMPARE(listed, (QStringList{QStringLiteral("Mixed.Png"), QStringLiteral("UPPER.JPG"),
                                      QStringLiteral("album")}));
        // The processor lists the folder in its place.
        QTRY_COMPARE(appended.size(), 1);
        chosen.replace(chosen.indexOf(QStringLiteral("album")), QStringLiteral("in.jpg"));
        QCOMPARE(sourceNames(view.processor()), chosen);
        QVERIFY(TestSupport::waitUntilIdle(view.processor()));
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

    void translationTables_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("reveal");
        QTest::addColumn<QString>("title");
        const auto row = [](const char* tag, const char* locale, const char* reveal,
                            const char* title) {
            QTest::newRow(tag) << QString::fromLatin1(locale) << QString::fromUtf8(reveal)
                               << QString::fromUtf8(title);
        };
        row("English", "en_GB", "Show in File Manager", "Results");
        row("any other language: Japanese", "de_DE", "ファイルマネージャで表示", "処理結果");
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
        // The tables go with their owner.
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
        ImageProcessor& processor = app.contentView()->processor();
        app.openURLs(urls);
        QVERIFY(!processor.isProcessing()); // waits for the window
        app.show();
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
