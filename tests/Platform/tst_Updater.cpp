// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdateConfiguration.h"
#include "Platform/UpdaterController.h"
#include "Views/CheckForUpdatesView.h"
#include "Views/UpdaterDialog.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
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

// Keys and signatures made by openssl(1), independently of the code under test.
QByteArray openssl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qWarning() << arguments << process.readAllStandardError();
    return process.readAllStandardOutput();
}
QString newSigningKey(const QTemporaryDir& folder, const char* name) {
    const QString key = folder.filePath(QLatin1String(name));
    openssl({"genpkey", "-algorithm", "ed25519", "-out", key});
    return key;
}
QByteArray publicKey(const QString& key) { // the raw 32 bytes end the DER form
    return openssl({"pkey", "-in", key, "-pubout", "-outform", "DER"}).right(32);
}
QString sign(const QString& key, const QByteArray& data) {
    QFile file(key + ".data");
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    file.close();
    return QString::fromLatin1(
        openssl({"pkeyutl", "-sign", "-inkey", key, "-rawin", "-in", file.fileName()}).toBase64());
}

// A small HTTPS server on 127.0.0.1 with fixed answers per path.
class LoopbackServer : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray location;
    };

    bool listen(const QSslCertificate& certificate, const QSslKey& key) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(certificate);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_server.setSslConfiguration(tls);
        connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (auto* socket = qobject_cast<QSslSocket*>(m_server.nextPendingConnection()))
                connect(socket, &QSslSocket::readyRead, socket, [this, socket] { serve(socket); });
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path, const char* scheme = "https") const {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(scheme)
            .arg(m_server.serverPort())
            .arg(path);
    }
    void answer(const QByteArray& path, QByteArray body, int status = 200,
                QByteArray location = {}) {
        m_answers.insert(path, Answer{status, std::move(body), std::move(location)});
    }

private:
    void serve(QSslSocket* socket) {
        QByteArray& request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray path = request.split(' ').value(1);
        m_requests.remove(socket);
        const Answer answer = m_answers.value(path, Answer{404, "not here", {}});
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) +
                          " X\r\nContent-Length: " + QByteArray::number(answer.body.size()) +
                          "\r\nConnection: close\r\n";
        if (!answer.location.isEmpty())
            head += "Location: " + answer.location + "\r\n";
        socket->write(head + "\r\n" + answer.body);
        socket->disconnectFromHost();
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    }

    QSslServer m_server;
    QHash<QByteArray, Answer> m_answers;
    QHash<QSslSocket*, QByteArray> m_requests;
};

QByteArray item(const QString& version, const QString& url, qint64 length,
                const QString& signature) {
    return QStringLiteral("<item><title>Burisora %1</title><sparkle:version>%1</sparkle:version>"
                          "<sparkle:shortVersionString>%1 (β)</sparkle:shortVersionString>"
                          "<description><![CDATA[<p>Notes for %1</p>]]></description>"
                          "<enclosure url=\"%2\" length=\"%3\" type=\"application/octet-stream\" "
                          "sparkle:edSignature=\"%4\"/></item>")
        .arg(version, url)
        .arg(length)
        .arg(signature)
        .toUtf8();
}

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<title>Burisora</title>" +
           items + "</channel></rss>";
}

bool dialogShows(const UpdaterDialog& dialog, const QString& fragment) {
    if (!dialog.isVisible())
        return false;
    const auto labels = dialog.findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) {
        return label->isVisibleTo(label->window()) && label->text().contains(fragment);
    });
}

QVariantMap dictionary(const QString& feedURL, const QByteArray& key) {
    return {{"SUFeedURL", feedURL},
            {"SUPublicEDKey", QString::fromLatin1(key.toBase64())},
            {"CFBundleVersion", "1.0"}};
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        const QString certificatePath = m_work.filePath("cert.pem");
        const QString keyPath = m_work.filePath("key.pem");
        openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                 "subjectAltName=IP:127.0.0.1", "-keyout", keyPath, "-out", certificatePath});
        const auto certificates = QSslCertificate::fromPath(certificatePath);
        QCOMPARE(certificates.size(), 1);
        m_certificate = certificates.first();
        QFile keyFile(keyPath);
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        const QSslKey key(&keyFile, QSsl::Ec);
        QVERIFY(!key.isNull());
        QVERIFY(m_server.listen(m_certificate, key));

        m_signingKey = newSigningKey(m_work, "sign.pem");
        m_archive = QByteArray("Burisora 1.2 archive\n").repeated(5000);
        const QString good = sign(m_signingKey, m_archive);
        const QString forged = sign(newSigningKey(m_work, "other.pem"), m_archive);
        QVERIFY(publicKey(m_signingKey).size() == 32 && good.size() == 88 && good != forged);
        const QString archiveURL = m_server.url("/archive.tar.gz");
        const qint64 size = m_archive.size();
        m_server.answer("/archive.tar.gz", m_archive);
        m_server.answer("/up-to-date.xml", feed(item("0.9", archiveURL, size, good) +
                                                item("1.0", archiveURL, size, good)));
        // Out of order on purpose: the newest item is chosen by numeric version,
        // so 1.10 wins over 1.9.
        const auto newer = [&](qint64 length, const QString& signature) {
            return feed(item("1.1", archiveURL, size, good) +
                        item("1.10", archiveURL, length, signature) +
                        item("1.9", archiveURL, size, good));
        };
        m_server.answer("/newer.xml", newer(size, good));
        m_server.answer("/forged.xml", newer(size, forged));
        m_server.answer("/short.xml", newer(size + 1, good));
        m_server.answer("/malformed.xml", feed(item("2.0", "x", 1, good)).chopped(20));
        m_server.answer("/to-https", {}, 301, m_server.url("/up-to-date.xml").toUtf8());
        m_server.answer("/to-http", {}, 302, m_server.url("/up-to-date.xml", "http").toUtf8());
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
              " \t\nhttps://updates.burisora.jp/a.xml\r\n ", "HTTPS://Updates.Burisora.JP/a.xml",
              "https://u:p@updates.burisora.jp:8443/a.xml?x=1#f",
              "https://example.com.jp/appcast.xml", "https://myexample.com/",
              "https://example.net/appcast.xml", "https://example.org/appcast.xml",
              "https://updates.example/appcast.xml"})
            both(valid, valid, key(32), true);
        for (const char* invalid :
             {"http://updates.burisora.jp/appcast.xml", "ftp://updates.burisora.jp/appcast.xml",
              "updates.burisora.jp/appcast.xml", "https:///appcast.xml", "  ",
              "https://updates burisora.jp/", "https://example.com/appcast.xml",
              "https://EXAMPLE.COM/appcast.xml", "https://updates.example.com/appcast.xml",
              "https://a.b.c.example.com/"})
            both(invalid, invalid, key(32), false);
        QString broken = key(32);
        broken.insert(20, QLatin1Char('\n'));
        both("key with blanks around", feed, QString("\r\n " + key(32) + "\n"), true);
        both("31-byte key", feed, key(31), false);
        both("33-byte key", feed, key(33), false);
        both("line break inside the key", feed, broken, false);
        both("key without padding", feed, key(32).chopped(1), false);
        both("feed is a number", 42, key(32), false);
        both("feed is a list", QVariantList{feed}, key(32), false);
        both("key is a table", feed, QVariantMap{{"key", key(32)}}, false);
        QTest::newRow("no key") << QVariantMap{{"SUFeedURL", feed}} << false;
        QTest::newRow("no feed") << QVariantMap{{"SUPublicEDKey", key(32)}} << false;
    }
    void configuration() {
        QFETCH(QVariantMap, dictionary);
        QFETCH(bool, valid);
        using namespace UpdateConfiguration;
        QCOMPARE(hasSparkleConfiguration(std::optional(dictionary)), valid);
        QCOMPARE(hasSparkleConfiguration(QJsonObject::fromVariantMap(dictionary)), valid);
        const auto controller = UpdaterController::createIfConfigured(dictionary);
        QCOMPARE(controller != nullptr, valid);
        if (controller) // started at once
            QVERIFY(controller->updater()->canCheckForUpdates());
    }

    void compiledInDictionary() {
        using namespace UpdateConfiguration;
        const auto dictionary = informationDictionary();
        QVERIFY(dictionary);
        QCOMPARE(dictionary->value("CFBundleVersion").toString(), QStringLiteral(BURISORA_VERSION));
        QCOMPARE(UpdaterController::createIfConfigured() != nullptr, hasSparkleConfiguration());
        QVERIFY(!hasSparkleConfiguration(std::nullopt));
    }

    void check_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<State>("checked");
        QTest::addColumn<QString>("checkText");
        QTest::addColumn<State>("downloaded");
        QTest::addColumn<QString>("downloadText");
        const auto row = [](const char* tag, const char* path, State checked, const char* checkText,
                            State downloaded = State::Failed, const char* downloadText = "",
                            bool trusted = true) {
            QTest::newRow(tag) << path << trusted << checked << checkText << downloaded
                               << downloadText;
        };
        row("up to date", "/up-to-date.xml", State::UpToDate, "1.0", State::UpToDate);
        row("newer, verified", "/newer.xml", State::UpdateAvailable, "1.10 (β)", State::Downloaded,
            "署名を確認しました");
        row("wrong signature", "/forged.xml", State::UpdateAvailable, "1.10 (β)", State::Failed,
            "署名を確認できません");
        row("wrong length", "/short.xml", State::UpdateAvailable, "1.10 (β)", State::Failed,
            "大きさが更新情報と一致");
        row("malformed feed", "/malformed.xml", State::Failed, "形式");
        row("redirect to https", "/to-https", State::UpToDate, "1.0", State::UpToDate);
        row("redirect to http", "/to-http", State::Failed, "転送を拒否");
        row("HTTP error", "/missing.xml", State::Failed, "HTTP 404");
        row("untrusted certificate", "/up-to-date.xml", State::Failed, "安全な接続", State::Failed,
            "", false);
    }
    void check() {
        QFETCH(QString, path);
        QFETCH(bool, trusted);
        QFETCH(State, checked);
        QFETCH(QString, checkText);
        QFETCH(State, downloaded);
        QFETCH(QString, downloadText);

        QTemporaryDir downloads;
        UpdaterController controller(dictionary(m_server.url(path), publicKey(m_signingKey)), true);
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
        QCOMPARE(updater.state(), checked);
        QVERIFY2(dialogShows(dialog, checkText), qPrintable(updater.message()));
        QCOMPARE(canCheck.size(), 2); // off while it ran, on again

        if (checked == State::UpdateAvailable) {
            updater.downloadUpdate();
            QTRY_VERIFY_WITH_TIMEOUT(updater.state() != State::Downloading, 10000);
        }
        QCOMPARE(updater.state(), downloaded);
        QVERIFY2(dialogShows(dialog, downloadText), qPrintable(updater.message()));
        const QStringList files = QDir(downloads.path()).entryList(QDir::Files);
        if (downloaded == State::Downloaded) {
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

        UpdaterController controller(dictionary(m_server.url("/up-to-date.xml"), {}), false);
        Updater& updater = *controller.updater();
        updater.setAdditionalCaCertificates({m_certificate});
        QAction* item = addCheckForUpdatesItem(&help, &updater);
        QCOMPARE(help.actions(), (QList<QAction*>{about, item, other}));
        QVERIFY(!item->isEnabled()); // not started yet

        controller.startUpdater();
        QVERIFY(!item->isEnabled()); // read only when the menu opens
        Q_EMIT help.aboutToShow();
        QVERIFY(item->isEnabled());

        item->trigger();
        QCOMPARE(updater.state(), State::Checking);
        Q_EMIT help.aboutToShow();
        QVERIFY(!item->isEnabled());

        updater.cancel();
        QTRY_VERIFY(updater.canCheckForUpdates());
        QCOMPARE(updater.state(), State::Idle);
        Q_EMIT help.aboutToShow();
        QVERIFY(item->isEnabled());
    }

private:
    QTemporaryDir m_work;
    QSslCertificate m_certificate;
    LoopbackServer m_server;
    QString m_signingKey;
    QByteArray m_archive;
};

QTEST_MAIN(TestUpdater)
#include "tst_Updater.moc"
