// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
// For showing to a person; bytes that are not UTF-8 appear as U+FFFD.
QString displayName(const std::filesystem::path& path);
QString displayPath(const std::filesystem::path& path);

} // namespace FileURLs
