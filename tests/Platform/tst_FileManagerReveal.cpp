// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

// Stands where Nautilus, Dolphin and the others stand on a desktop session
// bus, and where the desktop opens folders: what revealInFileManager sends is
// what they would receive.
class Desktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
    QList<QUrl> opened;
public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown.append(uris); }
    void open(const QUrl& url) { opened.append(url); }
};

class FileManagerRevealTest : public QObject {
    Q_OBJECT
    QProcess m_bus;
    Desktop m_desktop;

private Q_SLOTS:
    void initTestCase() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        // A bus of our own, so no real file manager answers and none opens.
        m_bus.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address"});
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY(m_bus.canReadLine());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_desktop, "open");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // With a file manager on the bus it shows the file, named by its bytes
    // (not all UTF-8 here), and no folder opens; without one the folder opens.
    void reveal() {
        const std::filesystem::path file("/tmp/写真 2024/\xff#夏 1.jpg");
        const QString service = QStringLiteral("org.freedesktop.FileManager1");
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &m_desktop,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(service));
        revealInFileManager(file);
        QTRY_COMPARE(m_desktop.shown.size(), 1);
        QCOMPARE(m_desktop.shown.front(),
                 QStringList{"file:///tmp/%E5%86%99%E7%9C%9F%202024/%FF%23%E5%A4%8F%201.jpg"});
        QTest::qWait(50);
        QVERIFY(m_desktop.opened.isEmpty());

        QVERIFY(bus.unregisterService(service));
        revealInFileManager(file);
        QTRY_COMPARE(m_desktop.opened.size(), 1);
        QCOMPARE(m_desktop.opened.front(), QUrl::fromLocalFile(QStringLiteral("/tmp/写真 2024")));
        QCOMPARE(m_desktop.shown.size(), 1);
    }
};

QTEST_MAIN(FileManagerRevealTest)
#include "tst_FileManagerReveal.moc"
