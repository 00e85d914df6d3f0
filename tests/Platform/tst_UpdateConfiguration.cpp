// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdateConfiguration.h"
#include "Platform/UpdaterController.h"

#include <QJsonObject>
#include <QTest>

using namespace UpdateConfiguration;

namespace {

QString keyOfLength(int bytes) {
    return QString::fromLatin1(QByteArray(bytes, '\x5a').toBase64());
}

const QString validFeed = QStringLiteral("https://updates.burisora.jp/appcast.xml");

} // namespace

class TestUpdateConfiguration : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void feedURL_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << validFeed << true;
        QTest::newRow("white space and line breaks around")
            << QString(" \t\n" + validFeed + "\r\n ") << true;
        QTest::newRow("scheme in capitals") << "HTTPS://Updates.Burisora.JP/a.xml" << true;
        QTest::newRow("user, port, query, fragment ignored")
            << "https://u:p@updates.burisora.jp:8443/a.xml?x=1#f" << true;
        QTest::newRow("unencrypted") << "http://updates.burisora.jp/appcast.xml" << false;
        QTest::newRow("other scheme") << "ftp://updates.burisora.jp/appcast.xml" << false;
        QTest::newRow("no scheme") << "updates.burisora.jp/appcast.xml" << false;
        QTest::newRow("no host") << "https:///appcast.xml" << false;
        QTest::newRow("empty") << "  " << false;
        QTest::newRow("unparsable") << "https://updates burisora.jp/" << false;
        QTest::newRow("example.com") << "https://example.com/appcast.xml" << false;
        QTest::newRow("example.com in capitals") << "https://EXAMPLE.COM/appcast.xml" << false;
        QTest::newRow("subdomain") << "https://updates.example.com/appcast.xml" << false;
        QTest::newRow("deep subdomain") << "https://a.b.c.example.com/" << false;
        QTest::newRow("example.com.jp") << "https://example.com.jp/appcast.xml" << true;
        QTest::newRow("name merely ending in example.com") << "https://myexample.com/" << true;
        QTest::newRow("example.net") << "https://example.net/appcast.xml" << true;
        QTest::newRow("example.org") << "https://example.org/appcast.xml" << true;
        QTest::newRow("top-level example") << "https://updates.example/appcast.xml" << true;
    }
    void feedURL() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidSparkleFeedURL(text), valid);
    }

    void configuration_data() {
        QTest::addColumn<QVariantMap>("dictionary");
        QTest::addColumn<bool>("valid");
        const auto both = [](const QVariant& feed, const QVariant& key) {
            return QVariantMap{{"SUFeedURL", feed}, {"SUPublicEDKey", key}};
        };
        QTest::newRow("valid") << both(validFeed, keyOfLength(32)) << true;
        QTest::newRow("trimmed feed and key")
            << both(QString("\n " + validFeed + " "), QString("\r\n " + keyOfLength(32) + "\n"))
            << true;
        QTest::newRow("31-byte key") << both(validFeed, keyOfLength(31)) << false;
        QTest::newRow("33-byte key") << both(validFeed, keyOfLength(33)) << false;
        QString broken = keyOfLength(32);
        broken.insert(20, QLatin1Char('\n'));
        QTest::newRow("line break inside the key") << both(validFeed, broken) << false;
        QTest::newRow("key without padding")
            << both(validFeed, keyOfLength(32).chopped(1)) << false;
        QTest::newRow("http feed")
            << both("http://updates.burisora.jp/a.xml", keyOfLength(32)) << false;
        QTest::newRow("example.com feed")
            << both("https://example.com/a.xml", keyOfLength(32)) << false;
        QTest::newRow("feed is a number") << both(42, keyOfLength(32)) << false;
        QTest::newRow("feed is a list") << both(QVariantList{validFeed}, keyOfLength(32)) << false;
        QTest::newRow("key is a table")
            << both(validFeed, QVariantMap{{"key", keyOfLength(32)}}) << false;
        QTest::newRow("no key") << QVariantMap{{"SUFeedURL", validFeed}} << false;
        QTest::newRow("no feed") << QVariantMap{{"SUPublicEDKey", keyOfLength(32)}} << false;
        QTest::newRow("empty") << QVariantMap() << false;
    }
    void configuration() {
        QFETCH(QVariantMap, dictionary);
        QFETCH(bool, valid);
        QCOMPARE(hasSparkleConfiguration(std::optional(dictionary)), valid);
        QCOMPARE(hasSparkleConfiguration(QJsonObject::fromVariantMap(dictionary)), valid);
        QCOMPARE(UpdaterController::createIfConfigured(dictionary) != nullptr, valid);
    }

    void missingDictionary() { QVERIFY(!hasSparkleConfiguration(std::nullopt)); }

    void compiledInDictionary() {
        const auto dictionary = informationDictionary();
        QVERIFY(dictionary);
        QCOMPARE(dictionary->value("CFBundleVersion").toString(), QStringLiteral(BURISORA_VERSION));
        // A build without both variables must not offer updates.
        if (!dictionary->contains("SUFeedURL") || !dictionary->contains("SUPublicEDKey"))
            QVERIFY(!hasSparkleConfiguration());
        QCOMPARE(UpdaterController::createIfConfigured() != nullptr, hasSparkleConfiguration());
    }
};

QTEST_MAIN(TestUpdateConfiguration)
#include "tst_UpdateConfiguration.moc"
