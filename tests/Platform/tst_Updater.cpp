// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdaterController.h"
#include "Views/CheckForUpdatesView.h"
#include "Views/UpdaterDialog.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>

#include <memory>

using namespace std::chrono_literals;
using State = Updater::State;

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct KeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using SigningKey = std::unique_ptr<EVP_PKEY, KeyFree>;

SigningKey newSigningKey() {
    std::unique_ptr<EVP_PKEY_CTX, KeyContextFree> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &key) != 1)
        return nullptr;
    return SigningKey(key);
}

QByteArray publicKey(EVP_PKEY* key) {
    QByteArray bytes(32, '\0');
    size_t length = bytes.size();
    EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(bytes.data()), &length);
    return bytes;
}

QString sign(EVP_PKEY* key, const QByteArray& data) {
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    QByteArray signature(64, '\0');
    size_t length = signature.size();
    EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key);
    EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                   reinterpret_cast<const unsigned char*>(data.constData()), data.size());
    return QString::fromLatin1(signature.toBase64());
}

// A small HTTPS server on 127.0.0.1 with fixed answers per path.
class LoopbackServer : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray location;
        bool stall = false;
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
    void answer(const QByteArray& path, Answer answer) { m_answers.insert(path, answer); }

private:
    void serve(QSslSocket* socket) {
        QByteArray& request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray path = request.split(' ').value(1);
        m_requests.remove(socket);
        const Answer answer = m_answers.value(path, Answer{404, "not here", {}, false});
        if (answer.stall)
            return;
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
        QProcess openssl;
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                       "subjectAltName=IP:127.0.0.1", "-keyout", keyPath, "-out", certificatePath});
        QVERIFY2(openssl.waitForFinished(30000) && openssl.exitCode() == 0,
                 openssl.readAllStandardError().constData());
        const auto certificates = QSslCertificate::fromPath(certificatePath);
        QCOMPARE(certificates.size(), 1);
        m_certificate = certificates.first();
        QFile keyFile(keyPath);
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        const QSslKey key(&keyFile, QSsl::Ec);
        QVERIFY(!key.isNull());
        QVERIFY(m_server.listen(m_certificate, key));

        m_signingKey = newSigningKey();
        const SigningKey otherKey = newSigningKey();
        QVERIFY(m_signingKey && otherKey);

        const QByteArray archive = QByteArray("Burisora 1.2 archive\n").repeated(5000);
        const QString good = sign(m_signingKey.get(), archive);
        const QString forged = sign(otherKey.get(), archive);
        m_server.answer("/archive.tar.gz", {200, archive, {}, false});
        m_server.answer("/up-to-date.xml",
                        {200,
                         feed(item("0.9", m_server.url("/archive.tar.gz"), archive.size(), good) +
                              item("1.0", m_server.url("/archive.tar.gz"), archive.size(), good)),
                         {},
                         false});
        // Out of order on purpose: the newest item is chosen by numeric version,
        // so 1.10 wins over 1.9.
        const auto newer = [&](qint64 length, const QString& signature) {
            return feed(item("1.1", m_server.url("/archive.tar.gz"), archive.size(), good) +
                        item("1.10", m_server.url("/archive.tar.gz"), length, signature) +
                        item("1.9", m_server.url("/archive.tar.gz"), archive.size(), good));
        };
        m_server.answer("/newer.xml", {200, newer(archive.size(), good), {}, false});
        m_server.answer("/forged.xml", {200, newer(archive.size(), forged), {}, false});
        m_server.answer("/short.xml", {200, newer(archive.size() + 1, good), {}, false});
        m_server.answer("/malformed.xml",
                        {200, feed(item("2.0", "x", 1, good)).chopped(20), {}, false});
        m_server.answer("/to-https", {301, {}, m_server.url("/up-to-date.xml").toUtf8(), false});
        m_server.answer("/to-http",
                        {302, {}, m_server.url("/up-to-date.xml", "http").toUtf8(), false});
        m_server.answer("/stall", {200, {}, {}, true});
        m_archive = archive;
    }

    void check_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<State>("checked");
        QTest::addColumn<QString>("checkText");
        QTest::addColumn<State>("downloaded");
        QTest::addColumn<QString>("downloadText");
        QTest::newRow("up to date")
            << "/up-to-date.xml" << true << State::UpToDate << "1.0" << State::UpToDate << "";
        QTest::newRow("newer, verified") << "/newer.xml" << true << State::UpdateAvailable
                                         << "1.10 (β)" << State::Downloaded << "署名を確認しました";
        QTest::newRow("wrong signature") << "/forged.xml" << true << State::UpdateAvailable
                                         << "1.10 (β)" << State::Failed << "署名を確認できません";
        QTest::newRow("wrong length") << "/short.xml" << true << State::UpdateAvailable
                                      << "1.10 (β)" << State::Failed << "大きさが更新情報と一致";
        QTest::newRow("malformed feed")
            << "/malformed.xml" << true << State::Failed << "形式" << State::Failed << "";
        QTest::newRow("redirect to https")
            << "/to-https" << true << State::UpToDate << "1.0" << State::UpToDate << "";
        QTest::newRow("redirect to http")
            << "/to-http" << true << State::Failed << "転送を拒否" << State::Failed << "";
        QTest::newRow("HTTP error")
            << "/missing.xml" << true << State::Failed << "HTTP 404" << State::Failed << "";
        QTest::newRow("untrusted certificate")
            << "/up-to-date.xml" << false << State::Failed << "安全な接続" << State::Failed << "";
    }
    void check() {
        QFETCH(QString, path);
        QFETCH(bool, trusted);
        QFETCH(State, checked);
        QFETCH(QString, checkText);
        QFETCH(State, downloaded);
        QFETCH(QString, downloadText);

        QTemporaryDir downloads;
        UpdaterController controller(dictionary(m_server.url(path), publicKey(m_signingKey.get())),
                                     true);
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
        QCOMPARE(updater.state(), State::Checking);
        QVERIFY(!updater.canCheckForUpdates());
        QTRY_VERIFY_WITH_TIMEOUT(updater.state() != State::Checking, 10000);
        QCOMPARE(updater.state(), checked);
        QVERIFY2(dialogShows(dialog, checkText), qPrintable(updater.message()));
        QVERIFY(updater.canCheckForUpdates());
        QCOMPARE(canCheck.size(), 2);

        if (checked == State::UpdateAvailable) {
            updater.downloadUpdate();
            QCOMPARE(updater.state(), State::Downloading);
            QTRY_VERIFY_WITH_TIMEOUT(updater.state() != State::Downloading, 10000);
        }
        QCOMPARE(updater.state(), downloaded);
        QVERIFY2(dialogShows(dialog, downloadText), qPrintable(updater.message()));
        const QStringList files = QDir(downloads.path()).entryList(QDir::Files);
        if (downloaded == State::Downloaded) {
            QCOMPARE(files, QStringList{"archive.tar.gz"});
            QCOMPARE(revealed, QStringList{downloads.filePath("archive.tar.gz")});
            QFile file(revealed.first());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), m_archive);
        } else {
            QVERIFY2(files.isEmpty(), qPrintable(files.join(", ")));
            QVERIFY(revealed.isEmpty());
        }
        if (checked == State::UpdateAvailable && downloaded == State::Failed)
            QVERIFY(updater.message().contains("削除しました"));
    }

    void menuItemOnlyWhenConfigured_data() {
        QTest::addColumn<QVariantMap>("dictionary");
        QTest::addColumn<bool>("present");
        const QByteArray key(32, '\x07');
        QTest::newRow("valid") << dictionary("https://updates.burisora.jp/a.xml", key) << true;
        QTest::newRow("unconfigured") << QVariantMap{{"CFBundleVersion", "1.0"}} << false;
    }
    void menuItemOnlyWhenConfigured() {
        QFETCH(QVariantMap, dictionary);
        QFETCH(bool, present);
        QMenu help;
        QAction* about = help.addAction("ブリソラについて");
        about->setMenuRole(QAction::AboutRole);
        QAction* other = help.addAction("ヘルプ");
        const auto controller = UpdaterController::createIfConfigured(dictionary);
        addCheckForUpdatesItem(&help, controller ? controller->updater() : nullptr);
        const QList<QAction*> actions = help.actions();
        if (!present) {
            QCOMPARE(actions, (QList<QAction*>{about, other}));
            return;
        }
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0], about);
        QCOMPARE(actions[1]->text(), QString::fromUtf8("更新を確認\u2026"));
        QVERIFY(actions[1]->isEnabled());
    }

    void menuItemEnabledWhenMenuOpens() {
        UpdaterController controller(dictionary(m_server.url("/stall"), QByteArray(32, 'k')),
                                     false);
        Updater& updater = *controller.updater();
        updater.setAdditionalCaCertificates({m_certificate});
        QMenu help;
        QAction* item = addCheckForUpdatesItem(&help, &updater);
        QVERIFY(item);
        QVERIFY(!item->isEnabled()); // not started yet

        controller.startUpdater();
        QVERIFY(!item->isEnabled()); // read only when the menu opens
        Q_EMIT help.aboutToShow();
        QVERIFY(item->isEnabled());

        item->trigger();
        QCOMPARE(updater.state(), State::Checking);
        Q_EMIT help.aboutToShow();
        QVERIFY(!item->isEnabled());
        item->trigger(); // ignored while one runs
        QCOMPARE(updater.state(), State::Checking);

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
    SigningKey m_signingKey;
    QByteArray m_archive;
};

QTEST_MAIN(TestUpdater)
#include "tst_Updater.moc"
