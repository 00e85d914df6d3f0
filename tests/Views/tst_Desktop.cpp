// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentView.h"
#include "KorrinMacApp.h"
#include "Models/FileURLs.h"
#include "Platform/SingleInstance.h"
#include "Services/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QMainWindow>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace TestSupport;

namespace {

// A session bus of the test's own: dbus-run-session keeps it up until the
// test closes the child's input.
class PrivateBus {
public:
    bool start() {
        const QString runner = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
        if (runner.isEmpty())
            return false;
        m_process.start(runner, {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                                 QStringLiteral("echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat")});
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        address = QString::fromUtf8(m_process.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus() {
        m_process.closeWriteChannel();
        m_process.waitForFinished(10000);
    }
    QDBusConnection connect(const QString& name) const {
        return QDBusConnection::connectToBus(address, name);
    }
    QString address;

private:
    QProcess m_process;
};

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

QList<QByteArray> sources(const ImageProcessor& processor) {
    QList<QByteArray> list;
    for (const JobItem* job : processor.jobs())
        list << bytes(job->sourceURL());
    return list;
}

} // namespace

// The window as a citizen of the desktop: one per session, lossless names from
// the open dialog's results, notifications, its size.
class DesktopTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    PrivateBus m_bus;
    bool m_hasBus = false;
    fs::path root() const { return path(m_dir); }

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
        m_hasBus = m_bus.start();
        for (const char* name : {"\xff.jpg", "b.png", "own.jpg", "x\xfe.jpg", "x\xff.jpg"})
            makeImage(root() / name);
        fs::create_directories(root() / "\xfa");
        makeImage(root() / "\xfa" / "in.jpg");
        QVERIFY(QFile::exists(qEnvironmentVariable("BURISORA_APP")));
    }
    void cleanupTestCase() {
        // QTemporaryDir does not see names that are not UTF-8.
        fs::remove_all(root());
    }

    void secondLaunchHandsOver_data() {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<bool>("bus");
        // What the first window enqueues, in one batch; empty: nothing.
        QTest::addColumn<QList<QByteArray>>("enqueued");
        const QByteArray png = bytes(root() / "b.png");
        QTest::newRow("relative and absolute, one not UTF-8")
            << QList<QByteArray>{"\xff.jpg", png} << true
            << QList<QByteArray>{bytes(root() / "\xff.jpg"), png};
        // GLib's byte strings end in a NUL; gdbus is such a client.
        QTest::newRow("a GLib client")
            << QList<QByteArray>{"gdbus", png} << true << QList<QByteArray>{png};
        QTest::newRow("no paths: the window comes to the front")
            << QList<QByteArray>{} << true << QList<QByteArray>{};
        QTest::newRow("no session bus: a window of its own")
            << QList<QByteArray>{"own.jpg"} << false << QList<QByteArray>{};
    }

    void secondLaunchHandsOver() {
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(bool, bus);
        QFETCH(QList<QByteArray>, enqueued);
        if (!m_hasBus)
            QSKIP("dbus-run-session is not installed");
        const QDBusConnection first = m_bus.connect(QStringLiteral("first"));
        {
            KorrinMacApp app(first);
            SingleInstance instance(first);
            QVERIFY(instance.claim());
            QVERIFY(!SingleInstance(m_bus.connect(QStringLiteral("other"))).claim());
            connect(&instance, &SingleInstance::openRequested, &app, &KorrinMacApp::openHandedOver);
            app.show();
            QWidget other;
            deactivate(other);
            QSignalSpy appended(&app.contentView()->processor(), &ImageProcessor::jobsAppended);

            QProcess second;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                               bus ? m_bus.address
                                   : QStringLiteral("unix:path=") +
                                         QString::fromStdString((root() / "no-bus").native()));
            // Its own window saves a picture once its batch is over, and quits.
            environment.insert(QStringLiteral("BURISORA_SCREENSHOT"),
                               QString::fromStdString((root() / "own.png").native()));
            second.setProcessEnvironment(environment);
            second.setWorkingDirectory(QString::fromStdString(root().native()));
            // QProcess passes arguments as text; the shell passes these bytes.
            QString command = QStringLiteral("exec \"$BURISORA_APP\"");
            for (const QByteArray& argument : arguments) {
                command += QStringLiteral(" \"$(printf '");
                for (const char c : argument)
                    command += u'\\' + QString::number(uchar(c), 8);
                command += QStringLiteral("')\"");
            }
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
            QCOMPARE(sources(app.contentView()->processor()), enqueued);
            QVERIFY(waitUntilIdle(app.contentView()->processor()));
            QCOMPARE(fs::exists(root() / "Resized" / "own.jpg"), !bus);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("first"));
        QDBusConnection::disconnectFromBus(QStringLiteral("other"));
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
        if (!m_hasBus)
            QSKIP("dbus-run-session is not installed");
        QDBusConnection desktop = m_bus.connect(QStringLiteral("desktop"));
        NotificationService service;
        QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
        const QDBusConnection appBus = m_bus.connect(QStringLiteral("app"));
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
            QDBusPendingCall after = appBus.asyncCall(
                QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("/org/freedesktop/Notifications"),
                                               QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("GetCapabilities")));
            QTRY_VERIFY(after.isFinished());
            QCOMPARE(service.shown, shown);
        }
        desktop.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("app"));
    }

    void dialogResultsNameExactFiles_data() {
        QTest::addColumn<QList<QUrl>>("chosen");
        QTest::addColumn<QList<QByteArray>>("files");
        const QString shown = QString::fromStdString(root().native());
        const QByteArray encoded = QUrl::fromLocalFile(shown).toEncoded();
        QTest::newRow("a portal's URI carries the bytes")
            << QList<QUrl>{QUrl::fromEncoded(encoded + "/%FF.jpg")}
            << QList<QByteArray>{bytes(root() / "\xff.jpg")};
        QTest::newRow("made from text: found again")
            << QList<QUrl>{QUrl::fromLocalFile(shown + QStringLiteral("/\uFFFD.jpg")),
                           QUrl::fromLocalFile(shown + QStringLiteral("/\uFFFD/in.jpg"))}
            << QList<QByteArray>{bytes(root() / "\xff.jpg"), bytes(root() / "\xfa" / "in.jpg")};
        QTest::newRow("two names that show alike: both")
            << QList<QUrl>{QUrl::fromLocalFile(shown + QStringLiteral("/x\uFFFD.jpg"))}
            << QList<QByteArray>{bytes(root() / "x\xfe.jpg"), bytes(root() / "x\xff.jpg")};
        QTest::newRow("no such file: passed on")
            << QList<QUrl>{QUrl::fromLocalFile(shown + QStringLiteral("/gone.jpg"))}
            << QList<QByteArray>{bytes(root() / "gone.jpg")};
    }

    void dialogResultsNameExactFiles() {
        QFETCH(QList<QUrl>, chosen);
        QFETCH(QList<QByteArray>, files);
        QList<QByteArray> named;
        for (const QUrl& url : FileURLs::exactURLs(chosen))
            named << bytes(FileURLs::localPath(url).value_or(fs::path()));
        QCOMPARE(named, files);
    }

    void answersWithoutDisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("start");
        QTest::newRow("help, Japanese") << "--help"
                                        << "ja_JP.UTF-8"
                                        << "使い方: burisora";
        QTest::newRow("help, other: Japanese") << "-h"
                                               << "fr_FR.UTF-8"
                                               << "使い方: burisora";
        QTest::newRow("help, English") << "--help"
                                       << "en_US.UTF-8"
                                       << "Usage: burisora";
        QTest::newRow("version") << "--version"
                                 << "en_US.UTF-8"
                                 << "burisora " BURISORA_VERSION;
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

    void contentAreaIs880By640() {
        KorrinMacApp app;
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
        QCOMPARE(app.contentView()->size(), QSize(880, 640));
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_Desktop.moc"
