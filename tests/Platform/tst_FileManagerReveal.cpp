// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

// Stands where Nautilus, Dolphin and the others stand on a desktop session
// bus: what revealInFileManager sends is what a file manager would receive.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown.append(uris); }
};

class Opener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class FileManagerRevealTest : public QObject {
    Q_OBJECT

    QProcess m_bus;
    FileManager m_fileManager;
    Opener m_opener;

    static const inline QString service = QStringLiteral("org.freedesktop.FileManager1");

private Q_SLOTS:
    void initTestCase() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        // A bus of our own, so no real file manager answers and none opens.
        m_bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                             QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY(m_bus.canReadLine());
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opener, "open");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // With a file manager on the bus it shows the file; without, the folder opens.
    void reveal_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("uri"); // empty: no file manager
        QTest::newRow("blanks and Japanese")
            << QByteArray("/tmp/写真 2024/Resized/夏 1.jpg")
            << QStringLiteral("file:///tmp/%E5%86%99%E7%9C%9F%202024/Resized/%E5%A4%8F%201.jpg");
        QTest::newRow("not UTF-8")
            << QByteArray("/tmp/\xff#.jpg") << QStringLiteral("file:///tmp/%FF%23.jpg");
        QTest::newRow("no file manager") << QByteArray("/tmp/写真/Resized/a.jpg") << QString();
    }
    void reveal() {
        QFETCH(QByteArray, path);
        QFETCH(QString, uri);
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QString object = QStringLiteral("/org/freedesktop/FileManager1");
        if (!uri.isEmpty()) {
            QVERIFY(bus.registerObject(object, &m_fileManager, QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(service));
        }
        m_fileManager.shown.clear();
        m_opener.opened.clear();
        revealInFileManager(std::filesystem::path(path.toStdString()));
        if (uri.isEmpty()) {
            QTRY_COMPARE(m_opener.opened.size(), 1);
            QCOMPARE(m_opener.opened.front(),
                     QUrl::fromLocalFile(QStringLiteral("/tmp/写真/Resized")));
            return;
        }
        QTRY_COMPARE(m_fileManager.shown.size(), 1);
        QCOMPARE(m_fileManager.shown.front(), QStringList{uri});
        QTest::qWait(50);
        QVERIFY(m_opener.opened.isEmpty());
        bus.unregisterService(service);
        bus.unregisterObject(object);
    }
};

QTEST_MAIN(FileManagerRevealTest)
#include "tst_FileManagerReveal.moc"
