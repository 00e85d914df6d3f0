// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One release as an RSS 2.0 appcast in the Sparkle dialect describes it.
struct AppcastItem {
    QString version;        // sparkle:version, compared numerically
    QString displayVersion; // sparkle:shortVersionString, else the version
    QUrl releaseNotesURL;   // sparkle:releaseNotesLink
    QString description;    // inline notes, HTML or plain text
    QUrl downloadURL;       // enclosure url
    qint64 length = -1;     // enclosure length; -1 when absent or unreadable
    QString edSignature;    // enclosure sparkle:edSignature, base64
};

namespace UpdaterAppcast {

inline constexpr auto sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

struct ParseResult {
    QList<AppcastItem> items;
    QString error; // empty when the feed was read
};

// Items without a usable version or a download address are left out; a feed
// that is not well-formed XML or not an RSS channel is an error.
ParseResult parse(const QByteArray& xml);

// Dotted numeric versions: "1.10" > "1.9", "2.0" == "2". Nothing when either
// side is not digits separated by dots.
std::optional<int> compareVersions(const QString& a, const QString& b);

// The highest item above the running version, if any.
std::optional<AppcastItem> newestItemAbove(const QList<AppcastItem>& items,
                                           const QString& runningVersion);

} // namespace UpdaterAppcast
