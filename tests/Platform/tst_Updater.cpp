// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdateConfiguration.h"
#include "Platform/UpdaterController.h"
#include "Support/TestSupport.h"
#include "Views/CheckForUpdatesView.h"
#include "Views/UpdaterDialog.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using State = Updater::State;

namespace {

// Keys, certificate and signatures made by openssl(1), independently of the code under test.
QByteArray openssl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qWarning() << arguments << process.readAllStandardError();
    return process.readAllStandardOutput();
}

bool dialogShows(const UpdaterDialog& dialog, const QString& fragment) {
    if (!dialog.isVisible())
        return false;
    const auto labels = dialog.findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) {
        return label->isVisibleTo(label->window()) && label->text().contains(fragment);
    });
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    QTemporaryDir m_work;
    QSslCertificate m_certificate;
    QByteArray m_publicKey;
    // A small HTTPS server on 127.0.0.1 with a fixed response per path.
    QSslServer m_server;
    QHash<QByteArray, QByteArray> m_responses;

    QString url(const QString& path, const char* scheme = "https") const {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(scheme)
            .arg(m_server.serverPort())
            .arg(path);
    }
    void answer(const QByteArray& path, const QByteArray& body, const QByteArray& head = "200 OK") {
        m_responses.insert(path, "HTTP/1.1 " + head +
                                     "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                     "\r\nConnection: close\r\n\r\n" + body);
    }
    void serve(QSslSocket* socket) {
        if (!socket->peek(socket->bytesAvailable()).contains("\r\n\r\n"))
            return; // the rest of the request is still coming
        const QByteArray path = socket->readAll().split(' ').value(1);
        socket->write(
            m_responses.value(path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
        socket->disconnectFromHost();
    }
    QVariantMap dictionary(const QString& path) const {
        return {{"SUFeedURL", url(path)},
                {"SUPublicEDKey", QString::fromLatin1(m_publicKey.toBase64())},
                {"CFBundleVersion", "1.0"}};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        const QByteArray pem = // key and certificate
            openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                     "subjectAltName=IP:127.0.0.1", "-keyout", "-", "-out", "-"});
        m_certificate = QSslCertificate::fromData(pem).value(0);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(m_certificate);
        tls.setPrivateKey(QSslKey(pem, QSsl::Ec));
        m_server.setSslConfiguration(tls);
        connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (auto* socket = qobject_cast<QSslSocket*>(m_server.nextPendingConnection())) {
                connect(socket, &QSslSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        QVERIFY(m_server.listen(QHostAddress::LocalHost));

        const QByteArray archive = QByteArray("Burisora 1.2 archive\n").repeated(5000);
        const QString data = m_work.filePath("archive");
        TestSupport::writeBytes(data.toStdString(), archive);
        const auto signWithNewKey = [&](const char* name) {
            const QString signing = m_work.filePath(QLatin1String(name));
            openssl({"genpkey", "-algorithm", "ed25519", "-out", signing});
            return QString::fromLatin1(
                openssl({"pkeyutl", "-sign", "-inkey", signing, "-rawin", "-in", data}).toBase64());
        };
        const QString good = signWithNewKey("sign.pem");
        const QString forged = signWithNewKey("other.pem");
        // The raw 32 bytes end the DER form.
        m_publicKey =
            openssl({"pkey", "-in", m_work.filePath("sign.pem"), "-pubout", "-outform", "DER"})
                .right(32);
        const auto item = [&](const char* version, qint64 length, const QString& signature) {
            return QStringLiteral("<item><sparkle:version>%1</sparkle:version>"
                                  "<sparkle:shortVersionString>%1 (β)</sparkle:shortVersionString>"
                                  "<enclosure url=\"%2\" length=\"%3\" sparkle:edSignature=\"%4\"/>"
                                  "</item>")
                .arg(QLatin1String(version), url("/archive.tar.gz"))
                .arg(length)
                .arg(signature)
                .toUtf8();
        };
        const auto feed = [](const QByteArray& items) -> QByteArray {
            return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
                   "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
                   "<channel>" +
                   items + "</channel></rss>";
        };
        const qint64 size = archive.size();
        answer("/archive.tar.gz", archive);
        answer("/up-to-date.xml", feed(item("0.9", size, good) + item("1.0", size, good)));
        // Out of order on purpose: the newest item is chosen by numeric version,
        // so 1.10 wins over 1.9.
        const auto newer = [&](qint64 length, const QString& signature) {
            return feed(item("1.1", size, good) + item("1.10", length, signature) +
                        item("1.9", size, good));
        };
        answer("/newer.xml", newer(size, good));
        answer("/forged.xml", newer(size, forged));
        answer("/short.xml", newer(size + 1, good));
        answer("/malformed.xml", feed(item("2.0", 1, good)).chopped(20));
        answer("/to-https", {}, "301 Moved\r\nLocation: " + url("/up-to-date.xml").toUtf8());
        answer("/to-http", {}, "302 Found\r\nLocation: " + url("/up-to-date.xml", "http").toUtf8());
    }

    // Updates are offered only for an https feed outside example.com and a
    // padded base64 key of exactly 32 bytes, both given as text.
    void configuration_data() {
        QTest::addColumn<QVariantMap>("dictionary");
        QTest::addColumn<bool>("valid");
        const QString feed = QStringLiteral("https://updates.burisora.jp/appcast.xml");
        const auto key = [](int bytes) {
            return QString::fromLatin1(QByteArray(bytes, 'Z').toBase64());
        };
        const auto both = [](const char* tag, const QVariant& feed, const QVariant& key,
                             bool valid) {
            QTest::newRow(tag) << QVariantMap{{"SUFeedURL", feed}, {"SUPublicEDKey", key}} << valid;
        };
        for (const char* valid :
             {"https://updates.burisora.jp/appcast.xml",
              " \t\nhttps://updates.burisora.jp/a.xml\r\n ", "https://example.com.jp/appcast.xml",
              "https://myexample.com/", "https://example.net/appcast.xml"})
            both(valid, valid, key(32), true);
        for (const char* invalid :
             {"http://updates.burisora.jp/appcast.xml", "https:///appcast.xml",
              "https://updates burisora.jp/", "https://example.com/appcast.xml",
              "https://updates.example.com/appcast.xml"})
            both(invalid, invalid, key(32), false);
        QString broken = key(32);
        broken.insert(20, QLatin1Char('\n'));
        both("key with blanks around", feed, QString("\r\n " + key(32) + "\n"), true);
        both("31-byte key", feed, key(31), false);
        both("33-byte key", feed, key(33), false);
        both("line break inside the key", feed, broken, false);
        both("key without padding", feed, key(32).chopped(1), false);
        QTest::newRow("no key") << QVariantMap{{"SUFeedURL", feed}} << false;
    }
    void configuration() {
        QFETCH(QVariantMap, dictionary);
        QFETCH(bool, valid);
        using namespace UpdateConfiguration;
        QCOMPARE(hasSparkleConfiguration(std::optional(dictionary)), valid);
        const auto controller = UpdaterController::createIfConfigured(dictionary);
        QCOMPARE(controller != nullptr, valid);
        if (controller) // started at once
            QVERIFY(controller->updater()->canCheckForUpdates());
    }

    void compiledInDictionary() {
        const auto dictionary = UpdateConfiguration::informationDictionary();
        QVERIFY(dictionary);
        QCOMPARE(dictionary->value("CFBundleVersion").toString(), QStringLiteral(BURISORA_VERSION));
    }

    void check_data() {
        QTest::addColumn<QString>("path");
        // After the check, and after the download when an update is offered,
        // and what the dialog then says.
        QTest::addColumn<QList<State>>("states");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("trusted");
        const auto row = [](const char* tag, const char* path, const QList<State>& states,
                            const QStringList& texts, bool trusted = true) {
            QTest::newRow(tag) << QString::fromLatin1(path) << states << texts << trusted;
        };
        const State available = State::UpdateAvailable;
        row("up to date", "/up-to-date.xml", {State::UpToDate}, {"1.0"});
        row("newer, verified", "/newer.xml", {available, State::Downloaded},
            {"1.10 (β)", "署名を確認しました"});
        row("wrong signature", "/forged.xml", {available, State::Failed},
            {"1.10 (β)", "署名を確認できません"});
        row("wrong length", "/short.xml", {available, State::Failed},
            {"1.10 (β)", "大きさが更新情報と一致"});
        row("malformed feed", "/malformed.xml", {State::Failed}, {"形式"});
        row("redirect to https", "/to-https", {State::UpToDate}, {"1.0"});
        row("redirect to http", "/to-http", {State::Failed}, {"転送を拒否"});
        row("HTTP error", "/missing.xml", {State::Failed}, {"HTTP 404"});
        row("untrusted certificate", "/up-to-date.xml", {State::Failed}, {"安全な接続"}, false);
    }
    void check() {
        QFETCH(QString, path);
        QFETCH(QList<State>, states);
        QFETCH(QStringList, texts);
        QFETCH(bool, trusted);

        QTemporaryDir downloads;
        UpdaterController controller(dictionary(path), true);
        Updater& updater = *controller.updater();
        UpdaterDialog dialog(&updater);
        if (trusted)
            updater.setAdditionalCaCertificates({m_certificate});
        updater.setDownloadDirectory(downloads.path());
        updater.setTransferTimeout(5s);
        QStringList revealed;
        updater.setRevealHandler([&](const QString& file) { revealed.append(file); });
        QSignalSpy canCheck(&updater, &Updater::canCheckForUpdatesChanged);

        updater.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(updater.state() != State::Checking, 10000);
        QCOMPARE(updater.state(), states[0]);
        QVERIFY2(dialogShows(dialog, texts[0]), qPrintable(updater.message()));
        QCOMPARE(canCheck.size(), 2); // off while it ran, on again
        if (states.size() > 1) {
            updater.downloadUpdate();
            QTRY_VERIFY_WITH_TIMEOUT(updater.state() != State::Downloading, 10000);
            QCOMPARE(updater.state(), states[1]);
            QVERIFY2(dialogShows(dialog, texts[1]), qPrintable(updater.message()));
        }
        const QStringList files = QDir(downloads.path()).entryList(QDir::Files);
        if (updater.state() == State::Downloaded) {
            QCOMPARE(files, QStringList{"archive.tar.gz"});
            QCOMPARE(revealed, QStringList{downloads.filePath("archive.tar.gz")});
        } else { // nothing refused stays behind
            QVERIFY2(files.isEmpty(), qPrintable(files.join(", ")));
            QVERIFY(revealed.isEmpty());
        }
    }

    // No updater, no item; else one after About, enabled by what the updater
    // says when the menu opens.
    void menuItem() {
        QMenu help;
        QAction* about = help.addAction("ブリソラについて");
        about->setMenuRole(QAction::AboutRole);
        QAction* other = help.addAction("ヘルプ");
        QVERIFY(!addCheckForUpdatesItem(&help, nullptr));
        QCOMPARE(help.actions(), (QList<QAction*>{about, other}));

        UpdaterController controller(dictionary("/up-to-date.xml"), false);
        Updater& updater = *controller.updater();
        updater.setAdditionalCaCertificates({m_certificate});
        QAction* item = addCheckForUpdatesItem(&help, &updater);
        QCOMPARE(help.actions(), (QList<QAction*>{about, item, other}));
        QVERIFY(!item->isEnabled()); // not started yet

        controller.startUpdater();
        Q_EMIT help.aboutToShow();
        QVERIFY(item->isEnabled());

        item->trigger();
        Q_EMIT help.aboutToShow();
        QVERIFY(!item->isEnabled());

        updater.cancel();
        QTRY_VERIFY(updater.canCheckForUpdates());
        QCOMPARE(updater.state(), State::Idle);
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_Updater.moc"
