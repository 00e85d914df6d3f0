// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/ImageProcessor.h"
#include "ContentView.h"
#include "KorrinMacApp.h"
#include "Models/FileURLs.h"
#include "Models/JobSummary.h"
#include "Platform/SingleInstance.h"
#include "Runtime/Localization.h"
#include "Support/TestSupport.h"
#include "Views/DropZoneView.h"
#include "Views/JobListModel.h"
#include "Views/JobListView.h"
#include "Views/OpenImagesDialog.h"
#include "Views/SettingsPanel.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
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
        QCOMPARE(listed.size(), 4);
        QCOMPARE(listed.front(), bytes(root() / "b.jpg"));
        QCOMPARE(
            QSet<QByteArray>(listed.begin() + 1, listed.end() - 1),
            (QSet<QByteArray>{bytes(root() / "trip/c.png"), bytes(root() / "trip/day2/d.JPG")}));
        QCOMPARE(listed.back(), bytes(root() / "a.webp"));
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
        const fs::path folder = root() / "dialog";
        ContentView view;
        QSignalSpy appended(&view.processor(), &ImageProcessor::jobsAppended);

        QString title;
        int listed = 0;
        QByteArrayList chosen;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<OpenImagesDialog*>(QApplication::activeModalWidget());
            title = dialog->windowTitle();
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
    }

    // Closing the window (Quit and the session's end close it too) while a
    // batch runs: no further file starts, those in flight finish, then the
    // program quits. Last, since the quit would end later event loops.
    void closingWaitsForTheFilesInFlight() {
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

        QVERIFY(!app.mainWindow()->close());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 30000);
        QCOMPARE(stopped.first().first().toBool(), false); // nothing abandoned
        QVERIFY(JobCounts::of(processor.jobs())[JobStatus::Kind::pending] > 0);
        QCOMPARE(app.contentView()->size(), QSize(880, 640)); // menu bar and toolbar come on top
    }
};

QTEST_MAIN(WindowTest)
#include "tst_Window.moc"
