// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/FileURLs.h"

#include <QFile>

#include <algorithm>
#include <system_error>

namespace {

// The files on disk that a path shown as text stands for.
QList<std::filesystem::path> pathsShownAs(const QString& shownPath) {
    namespace fs = std::filesystem;
    if (!shownPath.startsWith(u'/'))
        return {};
    QList<fs::path> found{fs::path("/")};
    for (const QString& component : shownPath.split(u'/', Qt::SkipEmptyParts)) {
        QList<fs::path> next;
        const fs::path direct = QFile::encodeName(component).toStdString();
        for (const fs::path& folder : std::as_const(found)) {
            std::error_code error;
            // The common case: the text is the name.
            if (fs::symlink_status(folder / direct, error).type() != fs::file_type::not_found &&
                !error) {
                next.append(folder / direct);
                continue;
            }
            for (fs::directory_iterator it(folder, error), end; !error && it != end;
                 it.increment(error)) {
                const fs::path name = it->path().filename();
                if (QFile::decodeName(QByteArray::fromStdString(name.native())) == component)
                    next.append(folder / name);
            }
        }
        found = std::move(next);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

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

QList<QUrl> exactURLs(const QList<QUrl>& chosen) {
    QList<QUrl> exact;
    for (const QUrl& url : chosen) {
        const std::optional<std::filesystem::path> path = localPath(url);
        std::error_code error;
        if (!path || std::filesystem::symlink_status(*path, error).type() !=
                         std::filesystem::file_type::not_found) {
            exact.append(url);
            continue;
        }
        const QList<std::filesystem::path> matches =
            pathsShownAs(QString::fromStdString(path->native()));
        if (matches.isEmpty())
            exact.append(url);
        for (const std::filesystem::path& match : matches)
            exact.append(fileURL(match));
    }
    return exact;
}

QString displayName(const std::filesystem::path& path) {
    return QString::fromStdString(path.filename().native());
}

} // namespace FileURLs
