// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdateConfiguration.h"

#include <QFile>
#include <QJsonDocument>
#include <QUrl>

namespace UpdateConfiguration {

namespace {

// Ed25519 public keys are always this long.
constexpr qsizetype publicKeyLength = 32;

bool isStrictBase64(const QByteArray& bytes) {
    // Qt tolerates missing padding; the key must be padded like any standard
    // encoder writes it.
    if (bytes.size() % 4 != 0)
        return false;
    for (const char c : bytes) {
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
        if (!alphabet)
            return false;
    }
    return true;
}

} // namespace

std::optional<QVariantMap> informationDictionary() {
    QFile file(QStringLiteral(":/burisora/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return std::nullopt;
    return document.object().toVariantMap();
}

std::optional<QString> text(const QVariantMap& dictionary, const char* key) {
    const auto found = dictionary.constFind(QString::fromLatin1(key));
    if (found == dictionary.cend() || found->typeId() != QMetaType::QString)
        return std::nullopt;
    return found->toString();
}

std::optional<QByteArray> decodedPublicEDKey(const QString& text) {
    const QByteArray encoded = text.trimmed().toLatin1();
    if (text.trimmed().size() != encoded.size() || !isStrictBase64(encoded))
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

bool isValidSparkleFeedURL(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid())
        return false;
    if (url.scheme().toLower() != QLatin1String("https"))
        return false;
    const QString host = url.host().toLower();
    if (host.isEmpty())
        return false;
    // RFC 2606 reserves example.com; only it and its subdomains are refused.
    return host != QLatin1String("example.com") && !host.endsWith(QLatin1String(".example.com"));
}

bool hasSparkleConfiguration(const std::optional<QVariantMap>& dictionary) {
    if (!dictionary)
        return false;
    const auto feed = text(*dictionary, feedURLKey);
    const auto key = text(*dictionary, publicEDKeyKey);
    if (!feed || !key || !isValidSparkleFeedURL(*feed))
        return false;
    const auto decoded = decodedPublicEDKey(*key);
    return decoded && decoded->size() == publicKeyLength;
}

bool hasSparkleConfiguration(const QJsonObject& dictionary) {
    return hasSparkleConfiguration(std::optional(dictionary.toVariantMap()));
}

bool hasSparkleConfiguration() {
    return hasSparkleConfiguration(informationDictionary());
}

QString programVersion(const QVariantMap& dictionary) {
    return text(dictionary, versionKey).value_or(QStringLiteral(BURISORA_VERSION));
}

} // namespace UpdateConfiguration
