// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/FileURLs.h"

namespace FileURLs {

std::optional<std::filesystem::path> localPath(const QUrl& url) {
    if (!url.isLocalFile())
        return std::nullopt;
    // The fully encoded path keeps percent escapes that are not UTF-8, which
    // toLocalFile() would turn into replacement characters.
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded);
    if (bytes.isEmpty())
        return std::nullopt;
    return std::filesystem::path(bytes.toStdString());
}

QUrl fileURL(const std::filesystem::path& path) {
    const QByteArray bytes = QByteArray::fromStdString(path.native());
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    url.setPath(QString::fromLatin1(bytes.toPercentEncoding("/")), QUrl::TolerantMode);
    return url;
}

QString displayName(const std::filesystem::path& path) {
    return QString::fromStdString(path.filename().native());
}

QString displayPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.native());
}

} // namespace FileURLs
