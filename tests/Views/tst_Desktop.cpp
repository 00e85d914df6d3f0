// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentView.h"
#include "KorrinMacApp.h"
#include "Models/FileURLs.h"
#include "Platform/SingleInstance.h"
#include "Services/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QApplication>
#include <QDBusMessage>
#include <QMainWindow>
#include <QMenuBar>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

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

QByteArray bytes(const fs::path& path) {
    return QByteArray::fromStdString(path.native());
}

} // namespace

// The window as a citizen of the desktop: one per session, lossless names from
// the open dialog's results, notifications, its size.
class DesktopTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_busDaemon; // a session bus of the test's own
    QString m_bus;
    fs::path root() const { return path(m_dir); }
    QDBusConnection connectToBus(const QString& name) const {
        return QDBusConnection::connectToBus(m_bus, name);
    }

    // Leaves the window under test inactive: `other` is the active one.
    static void deactivate(QWidget& other) {
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
    }

private Q_SLOTS:
    void initTestCase() {
        initialize();
        qputenv("XDG_CONFIG_HOME", bytes(root() / "config"));
        for (const char* name : {"\xff.jpg", "b.png", "own.jpg", "x\xfe.jpg", "x\xff.jpg"})
            makeImage(root() / name);
        fs::create_directories(root() / "\xfa");
        makeImage(root() / "\xfa" / "in.jpg");
        QVERIFY(QFile::exists(qEnvironmentVariable("BURISORA_APP")));
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_busDaemon.start(daemon,
                          {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
        QTRY_VERIFY(m_busDaemon.canReadLine());
        m_bus = QString::fromUtf8(m_busDaemon.readLine()).trimmed();
    }
    void cleanupTestCase() {
        m_busDaemon.kill();
        m_busDaemon.waitForFinished();
        // QTemporaryDir does not see names that are not UTF-8.
        fs::remove_all(root());
    }

    void secondLaunchHandsOver_data() {
        QTest::addColumn<QByteArrayList>("arguments"); // "gdbus": a GLib client calls Open
        QTest::addColumn<bool>("bus");
        // What the first window enqueues, in one batch; empty: nothing.
        QTest::addColumn<QByteArrayList>("enqueued");
        const QByteArray png = bytes(root() / "b.png");
        QTest::newRow("relative and absolute, one not UTF-8")
            << QByteArrayList{"\xff.jpg", png} << true
            << QByteArrayList{bytes(root() / "\xff.jpg"), png};
        // GLib's byte strings end in a NUL.
        QTest::newRow("a GLib client")
            << QByteArrayList{"gdbus", png} << true << QByteArrayList{png};
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
        {
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
            QString command = QStringLiteral("exec xargs -0 -a arguments \"$BURISORA_APP\"");
            if (arguments.value(0) == "gdbus")
                command = QStringLiteral("exec gdbus call --session --dest %1 --object-path %2 "
                                         "--method %1.Open \"[b'%3']\" {}")
                              .arg(QLatin1String(SingleInstance::serviceName),
                                   QLatin1String(SingleInstance::objectPath),
                                   QString::fromUtf8(arguments.at(1)));
            second.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
            // The first window answers from this event loop: wait without blocking it.
            QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 60000);
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);

            if (bus)
                QTRY_VERIFY(app.mainWindow()->isActiveWindow());
            QTest::qWait(100); // a second batch would have come by now
            QCOMPARE(appended.size(), enqueued.isEmpty() ? 0 : 1);
            QByteArrayList sources;
            for (const JobItem* job : processor.jobs())
                sources << bytes(job->sourceURL());
            QCOMPARE(sources, enqueued);
            QVERIFY(waitUntilIdle(processor));
            QCOMPARE(fs::exists(root() / "Resized" / "own.jpg"), !bus);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("first"));
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
        const QString name = QStringLiteral("org.freedesktop.Notifications");
        const QString object = QStringLiteral("/org/freedesktop/Notifications");
        QDBusConnection desktop = connectToBus(QStringLiteral("desktop"));
        NotificationService service;
        QVERIFY(desktop.registerObject(object, &service, QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.registerService(name));
        const QDBusConnection appBus = connectToBus(QStringLiteral("app"));
        {
            KorrinMacApp app(appBus);
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
            appBus.call(QDBusMessage::createMethodCall(name, object, name,
                                                       QStringLiteral("GetCapabilities")),
                        QDBus::BlockWithGui);
            QCOMPARE(service.shown, shown);
        }
        desktop.unregisterService(name);
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("app"));
    }

    void dialogResultsNameExactFiles_data() {
        QTest::addColumn<QList<QUrl>>("chosen");
        QTest::addColumn<QByteArrayList>("files");
        const QString shown = QString::fromStdString(root().native());
        const QByteArray encoded = QUrl::fromLocalFile(shown).toEncoded();
        QTest::newRow("a portal's URI carries the bytes")
            << QList<QUrl>{QUrl::fromEncoded(encoded + "/%FF.jpg")}
            << QByteArrayList{bytes(root() / "\xff.jpg")};
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

    void answersWithoutDisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("start");
        const auto row = [](const char* tag, const char* option, const char* lang,
                            const char* start) {
            QTest::newRow(tag) << QString::fromLatin1(option) << QString::fromLatin1(lang)
                               << QString::fromUtf8(start);
        };
        row("help, Japanese", "--help", "ja_JP.UTF-8", "使い方: burisora");
        row("help, other: Japanese", "-h", "fr_FR.UTF-8", "使い方: burisora");
        row("help, English", "--help", "en_US.UTF-8", "Usage: burisora");
        row("version", "--version", "en_US.UTF-8", "burisora " BURISORA_VERSION);
    }

    void answersWithoutDisplay() {
        QFETCH(QString, option);
        QFETCH(QString, lang);
        QFETCH(QString, start);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("LANG"), lang);
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("BURISORA_APP"), {option});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(QString::fromUtf8(process.readAllStandardOutput()).startsWith(start),
                 qPrintable(QString::fromUtf8(process.readAllStandardError())));
    }

    // 880 x 640 for the content, and no menu item opens a second window.
    void oneWindowOf880By640() {
        KorrinMacApp app;
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
        QCOMPARE(app.contentView()->size(), QSize(880, 640));
        for (QAction* menu : app.mainWindow()->menuBar()->actions())
            for (QAction* item : menu->menu()->actions())
                QVERIFY2(!item->text().contains(QStringLiteral("新規")), qPrintable(item->text()));
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_Desktop.moc"
