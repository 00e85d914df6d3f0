// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>

// File names on Linux are bytes, not text. These helpers carry them through
// URLs (drops, the open dialog, the command line) without losing a byte, so a
// name that is not valid UTF-8 still reaches the right file.
namespace FileURLs {

// The local path of a file URL, byte for byte; nothing for other URLs.
std::optional<std::filesystem::path> localPath(const QUrl& url);
// A file URL that names exactly this path.
QUrl fileURL(const std::filesystem::path& path);
// What a file dialog chose, naming the files exactly. URLs that carry the
// bytes of an existing file (a portal's URIs) stay as they are. URLs made from
// text cannot hold a name that is not UTF-8 (it shows as U+FFFD): each such
// component is matched against the folder's real entries, and when several
// entries show alike, all of them are returned. The rest pass unchanged.
QList<QUrl> exactURLs(const QList<QUrl>& chosen);
// For showing to a person; bytes that are not UTF-8 appear as U+FFFD.
QString displayName(const std::filesystem::path& path);

} // namespace FileURLs
