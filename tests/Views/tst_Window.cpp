// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/ImageProcessor.h"
#include "ContentView.h"
#include "KorrinMacApp.h"
#include "Models/FileURLs.h"
#include "Models/JobSummary.h"
#include "Platform/SingleInstance.h"
#include "Runtime/Localization.h"
#include "Settings/ResizeSettings.h"
#include "Support/TestSupport.h"
#include "Views/DropZoneView.h"
#include "Views/JobListModel.h"
#include "Views/JobListView.h"
#include "Views/OpenImagesDialog.h"
#include "Views/SettingsPanel.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QDBusMessage>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

using namespace TestSupport;

namespace {

// What stands in for the desktop's notification service: it keeps what it
// was asked to show.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown;

public Q_SLOTS:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        shown << appName + u'|' + summary + u'|' + body + u'|' +
                     hints.value(QStringLiteral("desktop-entry")).toString();
        return uint(shown.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

// What stands in for the dock: it keeps the launcher entry's updates.
class LauncherListener : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> updates;

public Q_SLOTS:
    void update(const QString& appURI, const QVariantMap& properties) {
        QVariantMap update = properties;
        update.insert(QStringLiteral("uri"), appURI);
        updates << update;
    }
};

constexpr char notifications[] = "org.freedesktop.Notifications";
constexpr char notificationsPath[] = "/org/freedesktop/Notifications";

QByteArray bytes(const fs::path& path) {
    return QByteArray::fromStdString(path.native());
}

QByteArrayList sources(const ImageProcessor& processor) {
    QByteArrayList list;
    for (const JobItem* job : processor.jobs())
        list << bytes(job->sourceURL());
    return list;
}

bool send(QWidget* target, QEvent&& event) {
    QCoreApplication::sendEvent(target, &event);
    return event.isAccepted();
}

// Leaves the window under test inactive: `other` is the active one.
void deactivate(QWidget& other) {
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
}

} // namespace

// The window on the real engine, with real images made here, and as a citizen
// of the desktop: one per session, lossless names, notifications, its size.
class WindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_busDaemon; // a session bus of the test's own
    QString m_bus;
    NotificationService m_notifications;
    LauncherListener m_launcher;
    fs::path root() const { return path(m_dir); }
    QDBusConnection connectToBus(const QString& name) const {
        return QDBusConnection::connectToBus(m_bus, name);
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        // The application's own settings file lands here, not in the home folder.
        qputenv("XDG_CONFIG_HOME", bytes(root() / "config"));
        makeImage(root() / "b.jpg", {.width = 2000, .height = 1000});
        for (const char* name : {"\xff.jpg", "b.png", "own.jpg", "x\xfe.jpg", "x\xff.jpg",
                                 "\xfa/in.jpg", "trip/c.png", "trip/day2/d.JPG", "a.webp",
                                 "dialog/album/in.jpg", "dialog/UPPER.JPG", "dialog/Mixed.Png"})
            makeImage(root() / name);
        for (const char* name : {"notes.txt", "dialog/notes.txt"})
            writeBytes(root() / name, "not an image");
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_busDaemon.start(daemon,
                          {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
        QTRY_VERIFY(m_busDaemon.canReadLine());
        m_bus = QString::fromUtf8(m_busDaemon.readLine()).trimmed();
        QDBusConnection desktop = connectToBus(QStringLiteral("desktop"));
        QVERIFY(desktop.registerObject(QLatin1String(notificationsPath), &m_notifications,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.registerService(QLatin1String(notifications)));
        QVERIFY(desktop.connect({}, {}, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                QStringLiteral("Update"), &m_launcher,
                                SLOT(update(QString, QVariantMap))));
    }
    void cleanupTestCase() {
        m_busDaemon.kill();
        m_busDaemon.waitForFinished();
        // QTemporaryDir does not see names that are not UTF-8.
        fs::remove_all(root());
    }

    // The drop zone takes any list of URLs and hands it over as it is: one
    // batch in the order given, folders listed in place, the rest left out.
    void drop_data() {
        QTest::addColumn<QList<QUrl>>("urls"); // empty: text only
        QTest::addColumn<bool>("dropped");     // false: the drag leaves
        QList<QUrl> files = fileURLs({root() / "b.jpg", root() / "trip", root() / "notes.txt"});
        files << QUrl(QStringLiteral("https://example.org/x.jpg"))
              << FileURLs::fileURL(root() / "a.webp");
        QTest::newRow("files and folders") << files << true;
        QTest::newRow("leaving") << files << false;
        QTest::newRow("text refused") << QList<QUrl>{} << false;
    }

    void drop() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, dropped);
        ContentView view;
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
        QTRY_COMPARE_WITH_TIMEOUT(zone->highlight(), 1.0, 1000);
        QVERIFY(send(zone, QDragMoveEvent(at, Qt::CopyAction, &data, Qt::LeftButton, {})));
        if (dropped)
            QVERIFY(send(zone, QDropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, {})));
        else
            send(zone, QDragLeaveEvent());
        QTRY_COMPARE_WITH_TIMEOUT(zone->highlight(), 0.0, 1000);
        if (!dropped) {
            QVERIFY(!view.processor().isProcessing()); // nothing was enqueued
            return;
        }

        QTRY_COMPARE(appended.size(), 1); // folders are listed on a worker
        const QByteArrayList listed = sources(view.processor());
        QCOMPARE(listed,
                 (QByteArrayList{bytes(root() / "b.jpg"), bytes(root() / "trip/c.png"),
                                 bytes(root() / "trip/day2/d.JPG"), bytes(root() / "a.webp")}));
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
    // chosen together are one batch, in the dialog's order. A folder's name
    // typed and entered opens it instead.
    void openDialogTakesFilesAndFoldersTogether() {
        const fs::path folder = root() / "dialog";
        ContentView view;
        QSignalSpy appended(&view.processor(), &ImageProcessor::jobsAppended);

        QString title;
        bool enteredByName = false;
        int listed = 0;
        QByteArrayList chosen;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<OpenImagesDialog*>(QApplication::activeModalWidget());
            title = dialog->windowTitle();
            // A typed folder name and Enter open the folder; nothing is chosen.
            dialog->setDirectory(QString::fromStdString(folder.native()));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->setFocus();
            QTest::keyClicks(name, QStringLiteral("album"));
            QTest::keyClick(name, Qt::Key_Return);
            enteredByName =
                dialog->isVisible() && dialog->directory().absolutePath() ==
                                           QString::fromStdString((folder / "album").native());
            dialog->setDirectory(QString::fromStdString(folder.native()));
            auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            const QAbstractItemModel* model = tree->model();
            if (!QTest::qWaitFor([&] { return model->rowCount(tree->rootIndex()) >= 3; }, 10000))
                return dialog->reject(); // the checks below fail
            QTest::qWait(200);           // let the model finish listing
            listed = model->rowCount(tree->rootIndex());
            for (int row = 0; row < listed; ++row) {
                const QModelIndex index = model->index(row, 0, tree->rootIndex());
                const QString name = index.data().toString();
                const bool album = name == QStringLiteral("album");
                if (album || name == QStringLiteral("UPPER.JPG")) {
                    tree->selectionModel()->select(index, QItemSelectionModel::Select |
                                                              QItemSelectionModel::Rows);
                    // The processor lists the folder in its place.
                    chosen << bytes(folder / (album ? "album/in.jpg" : "UPPER.JPG"));
                }
            }
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
            if (dialog->isVisible())
                dialog->reject();
        });
        view.openFileDialog();

        QCOMPARE(title, QStringLiteral("リサイズする画像を選択"));
        QVERIFY(enteredByName);
        QCOMPARE(listed, 3); // album, Mixed.Png and UPPER.JPG; not notes.txt
        QTRY_COMPARE(appended.size(), 1);
        QCOMPARE(sources(view.processor()), chosen);
        QVERIFY(waitUntilIdle(view.processor()));
    }

    void secondLaunchHandsOver_data() {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("bus");
        // What the first window enqueues, in one batch; empty: nothing.
        QTest::addColumn<QByteArrayList>("enqueued");
        const QByteArray png = bytes(root() / "b.png");
        const QByteArray uri = "file://" + bytes(root() / "b.jpg");
        QTest::newRow("options, relative, absolute and URI, one not UTF-8")
            << QByteArrayList{"--verbose", "--", "-dash.jpg", "trip/../\xff.jpg", png, uri} << true
            << QByteArrayList{bytes(root() / "-dash.jpg"), bytes(root() / "\xff.jpg"), png,
                              bytes(root() / "b.jpg")};
        QTest::newRow("no paths: the window comes to the front")
            << QByteArrayList{} << true << QByteArrayList{};
        QTest::newRow("no session bus: a window of its own")
            << QByteArrayList{"own.jpg"} << false << QByteArrayList{};
    }

    void secondLaunchHandsOver() {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, bus);
        QFETCH(QByteArrayList, enqueued);
        if (m_bus.isEmpty())
            QSKIP("dbus-daemon is not installed");
        const QDBusConnection first = connectToBus(QStringLiteral("first"));
        KorrinMacApp app(first);
        SingleInstance instance(first);
        QVERIFY(instance.claim());
        connect(&instance, &SingleInstance::openRequested, &app, &KorrinMacApp::openHandedOver);
        app.show();
        QWidget other;
        deactivate(other);
        ImageProcessor& processor = app.contentView()->processor();
        QSignalSpy appended(&processor, &ImageProcessor::jobsAppended);

        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           bus ? m_bus : QStringLiteral("unix:path=/nonexistent/bus"));
        // Its own window saves a picture once its batch is over, and quits.
        environment.insert(QStringLiteral("BURISORA_SCREENSHOT"),
                           QString::fromStdString((root() / "own.png").native()));
        second.setProcessEnvironment(environment);
        second.setWorkingDirectory(QString::fromStdString(root().native()));
        // QProcess passes arguments as text; xargs passes these bytes.
        writeBytes(root() / "arguments", arguments.join('\0'));
        second.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("exec xargs -0 -a arguments \"$BURISORA_APP\"")});
        // The first window answers from this event loop: wait without blocking it.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 60000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        if (bus)
            QTRY_VERIFY(app.mainWindow()->isActiveWindow());
        QTest::qWait(100); // a second batch would have come by now
        QCOMPARE(appended.size(), enqueued.isEmpty() ? 0 : 1);
        QCOMPARE(sources(processor), enqueued);
        QVERIFY(waitUntilIdle(processor));
        QCOMPARE(fs::exists(root() / "Resized" / "own.jpg"), !bus);
    }

    void notificationWhenUnseen_data() {
        QTest::addColumn<bool>("active");
        QTest::addColumn<int>("longBatchMs");
        QTest::addColumn<QStringList>("shown");
        const QStringList one{
            QStringLiteral("ブリソラ|処理が終わりました|完了 1 / スキップ 0 / 失敗 0 / 全 1|"
                           "io.github.burisora.Burisora")};
        QTest::newRow("long batch, window not active") << false << 0 << one;
        QTest::newRow("long batch, window active") << true << 0 << QStringList();
        QTest::newRow("short batch, window not active") << false << 3600000 << QStringList();
    }

    void notificationWhenUnseen() {
        QFETCH(bool, active);
        QFETCH(int, longBatchMs);
        QFETCH(QStringList, shown);
        if (m_bus.isEmpty())
            QSKIP("dbus-daemon is not installed");
        m_notifications.shown.clear();
        m_launcher.updates.clear();
        const QDBusConnection bus = connectToBus(QStringLiteral("app"));
        KorrinMacApp app(bus);
        app.setLongBatch(std::chrono::milliseconds(longBatchMs));
        app.show();
        QWidget other;
        if (active) {
            app.mainWindow()->activateWindow();
            QTRY_VERIFY(app.mainWindow()->isActiveWindow());
        } else {
            deactivate(other);
        }
        app.openURLs(fileURLs({root() / "b.png"}));
        QTRY_VERIFY(app.contentView()->processor().isProcessing());
        QVERIFY(waitUntilIdle(app.contentView()->processor()));
        // Calls from one connection arrive in order: once this one is
        // answered, a notification would have been shown.
        bus.call(QDBusMessage::createMethodCall(
                     QLatin1String(notifications), QLatin1String(notificationsPath),
                     QLatin1String(notifications), QStringLiteral("GetCapabilities")),
                 QDBus::BlockWithGui);
        QCOMPARE(m_notifications.shown, shown);
        // The dock showed the run's progress, and hides it at the end.
        QTRY_VERIFY(!m_launcher.updates.isEmpty() &&
                    !m_launcher.updates.last()[QStringLiteral("progress-visible")].toBool());
        const QVariantMap full = m_launcher.updates.value(m_launcher.updates.size() - 2);
        QCOMPARE(full[QStringLiteral("uri")],
                 QStringLiteral("application://io.github.burisora.Burisora.desktop"));
        QCOMPARE(full[QStringLiteral("progress")].toDouble(), 1.0);
        QCOMPARE(full[QStringLiteral("progress-visible")].toBool(), true);
    }

    // Every control a person can reach is named, in both languages, after the
    // label shown with it; the menus have mnemonics; nothing takes focus
    // without showing it (the settings' scroll area).
    void everyControlIsNamed_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("names"); // preset, custom, quality, prefix, folder,
                                                // metadata toggle, upscale toggle, list
        QTest::addColumn<QStringList>("menus");
        QTest::newRow("Japanese") << QStringLiteral("ja_JP")
                                  << QStringList{"長辺サイズ",       "長辺サイズ (px)",
                                                 "JPEG画質",         "ファイル名プレフィックス",
                                                 "保存先フォルダ名", "EXIF・GPS情報を保持",
                                                 "拡大しない",       "処理結果"}
                                  << QStringList{"ファイル(&F)", "ヘルプ(&H)"};
        QTest::newRow("English") << QStringLiteral("en_US")
                                 << QStringList{"Long Edge",          "Long Edge (px)",
                                                "JPEG Quality",       "File Name Prefix",
                                                "Output Folder Name", "Keep EXIF and GPS data",
                                                "Don't enlarge",      "Results"}
                                 << QStringList{"&File", "&Help"};
    }
    void everyControlIsNamed() {
        QFETCH(QString, locale);
        QFETCH(QStringList, names);
        QFETCH(QStringList, menus);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        QObject translations;
        Localization::installTranslators(&translations);
        QLocale::setDefault(before);
        KorrinMacApp app;
        app.contentView()->settings().setPreset(SizePreset::custom);
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));

        const char* named[] = {"preset", "customLongEdge", "quality",     "prefix",
                               "folder", "preserveExif",   "skipUpscale", "jobList"};
        for (size_t i = 0; i < std::size(named); ++i) {
            auto* control = app.mainWindow()->findChild<QWidget*>(QLatin1String(named[i]));
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            const auto labels = accessible->relations(QAccessible::Label);
            QVERIFY2(i == 7 || !labels.isEmpty(), named[i]); // the list's title is no label
            // On Linux a combo box's name is its value: its label comes through the relation.
            QCOMPARE(i == 0 ? labels.first().first->text(QAccessible::Name)
                            : accessible->text(QAccessible::Name),
                     names[i]);
        }
        for (QWidget* widget : app.mainWindow()->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(app.mainWindow()) || !(widget->focusPolicy() & Qt::TabFocus))
                continue;
            QVERIFY2(!qobject_cast<QAbstractScrollArea*>(widget) ||
                         qobject_cast<QAbstractItemView*>(widget),
                     widget->metaObject()->className());
            QVERIFY2(
                !QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty(),
                qPrintable(widget->objectName() + u' ' + widget->metaObject()->className()));
        }
        QStringList titles;
        for (const QAction* menu : app.mainWindow()->menuBar()->actions())
            titles << menu->text();
        QCOMPARE(titles, menus);
        for (const QMenu* menu : app.mainWindow()->menuBar()->findChildren<QMenu*>()) {
            for (const QAction* item : menu->actions())
                QVERIFY2(item->isSeparator() || item->text().contains(u'&'),
                         qPrintable(item->text()));
        }
    }

    // Closing the window (Quit and the session's end close it too) while a
    // batch runs asks first. Keep working: nothing changes. Stop and quit: no
    // further file starts, those in flight finish, then the program quits.
    // Last, since the quit would end later event loops.
    void closingWhileProcessingAsks_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("byQuit"); // the Quit item (Ctrl+Q), or closing the window
        QTest::newRow("Quit, keep working") << QStringLiteral("keepWorking") << true;
        QTest::newRow("close, stop and quit") << QStringLiteral("stopAndQuit") << false;
    }
    void closingWhileProcessingAsks() {
        QFETCH(QString, answer);
        QFETCH(bool, byQuit);
        QTemporaryDir dir;
        const fs::path folder = path(dir);
        QList<QUrl> urls;
        for (int i = 0; i < 8; ++i)
            urls << FileURLs::fileURL(makeImage(folder / ("p" + std::to_string(i) + ".png"),
                                                {.width = 1200, .height = 900}));
        KorrinMacApp app;
        ImageProcessor& processor = app.contentView()->processor();
        app.openURLs(urls);
        QVERIFY(!processor.isProcessing()); // waits for the window
        app.show();
        QTRY_VERIFY(!processor.jobs().isEmpty() &&
                    processor.jobs().first()->status() == JobStatus::running());
        QSignalSpy stopped(&processor, &ImageProcessor::stopped);

        QString question;
        QTimer answering; // the question comes once the quit has reached the window
        answering.callOnTimeout(this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                answering.stop();
                question = box->text();
                box->findChild<QPushButton*>(answer)->click();
            }
        });
        answering.start(10);
        if (byQuit) {
            for (QAction* item : app.mainWindow()->findChildren<QAction*>()) {
                if (item->menuRole() == QAction::QuitRole)
                    item->trigger();
            }
            QTRY_VERIFY(!question.isEmpty());
        } else {
            QVERIFY(!app.mainWindow()->close());
        }
        QCOMPARE(question, QStringLiteral("処理中です。停止して終了しますか？"));
        if (answer == u"keepWorking") {
            QVERIFY(processor.isProcessing() && !processor.isStopping());
            QVERIFY(app.mainWindow()->isVisible());
            QVERIFY(waitUntilIdle(processor));
            QCOMPARE(JobCounts::of(processor.jobs())[JobStatus::Kind::succeeded], urls.size());
            QCOMPARE(stopped.size(), 0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 30000);
        QCOMPARE(stopped.first().first().toBool(), false); // nothing abandoned
        QVERIFY(JobCounts::of(processor.jobs())[JobStatus::Kind::pending] > 0);
        QCOMPARE(app.contentView()->size(), QSize(880, 640)); // menu bar and toolbar come on top
    }
};

QTEST_MAIN(WindowTest)
#include "tst_Window.moc"
