// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdaterAppcast.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace UpdaterAppcast {

namespace {

std::optional<QList<quint64>> versionParts(const QString& version) {
    const QStringList pieces = version.trimmed().split(QLatin1Char('.'));
    QList<quint64> parts;
    for (const QString& piece : pieces) {
        if (piece.isEmpty() || !std::all_of(piece.begin(), piece.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }))
            return std::nullopt;
        bool ok = false;
        const quint64 value = piece.toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        parts.append(value);
    }
    return parts;
}

bool isSparkle(const QXmlStreamReader& reader) {
    return reader.namespaceUri() == QLatin1String(sparkleNamespace);
}

void readEnclosure(const QXmlStreamReader& reader, AppcastItem& item) {
    const QXmlStreamAttributes attributes = reader.attributes();
    item.downloadURL = QUrl(attributes.value(QLatin1String("url")).toString().trimmed());
    bool ok = false;
    const qint64 length = attributes.value(QLatin1String("length")).toLongLong(&ok);
    item.length = ok && length >= 0 ? length : -1;
    const QString sparkle = QLatin1String(sparkleNamespace);
    item.edSignature = attributes.value(sparkle, QLatin1String("edSignature")).toString().trimmed();
    // Older feeds put the versions on the enclosure; the item's own elements win.
    if (item.version.isEmpty())
        item.version = attributes.value(sparkle, QLatin1String("version")).toString().trimmed();
    if (item.displayVersion.isEmpty())
        item.displayVersion =
            attributes.value(sparkle, QLatin1String("shortVersionString")).toString().trimmed();
}

AppcastItem readItem(QXmlStreamReader& reader) {
    AppcastItem item;
    QString version;
    QString displayVersion;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (isSparkle(reader) && name == QLatin1String("version")) {
            version = reader.readElementText().trimmed();
        } else if (isSparkle(reader) && name == QLatin1String("shortVersionString")) {
            displayVersion = reader.readElementText().trimmed();
        } else if (isSparkle(reader) && name == QLatin1String("releaseNotesLink")) {
            item.releaseNotesURL = QUrl(reader.readElementText().trimmed());
        } else if (reader.namespaceUri().isEmpty() && name == QLatin1String("description")) {
            item.description = reader.readElementText().trimmed();
        } else if (reader.namespaceUri().isEmpty() && name == QLatin1String("enclosure")) {
            readEnclosure(reader, item);
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (!version.isEmpty())
        item.version = version;
    if (!displayVersion.isEmpty())
        item.displayVersion = displayVersion;
    if (item.displayVersion.isEmpty())
        item.displayVersion = item.version;
    return item;
}

} // namespace

ParseResult parse(const QByteArray& xml) {
    ParseResult result;
    QXmlStreamReader reader(xml);
    bool sawChannel = false;
    if (reader.readNextStartElement() && reader.name() == QLatin1String("rss")) {
        while (reader.readNextStartElement()) {
            if (reader.name() != QLatin1String("channel")) {
                reader.skipCurrentElement();
                continue;
            }
            sawChannel = true;
            while (reader.readNextStartElement()) {
                if (reader.name() != QLatin1String("item")) {
                    reader.skipCurrentElement();
                    continue;
                }
                AppcastItem item = readItem(reader);
                if (versionParts(item.version) && item.downloadURL.isValid() &&
                    !item.downloadURL.isRelative())
                    result.items.append(std::move(item));
            }
        }
    }
    if (reader.hasError())
        result.error = reader.errorString();
    else if (!sawChannel)
        result.error = QStringLiteral("no RSS channel");
    // Anything after the root element must still be well-formed.
    while (!reader.hasError() && !reader.atEnd())
        reader.readNext();
    if (result.error.isEmpty() && reader.hasError())
        result.error = reader.errorString();
    if (!result.error.isEmpty())
        result.items.clear();
    return result;
}

std::optional<int> compareVersions(const QString& a, const QString& b) {
    auto left = versionParts(a);
    auto right = versionParts(b);
    if (!left || !right)
        return std::nullopt;
    const qsizetype count = std::max(left->size(), right->size());
    left->resize(count, 0);
    right->resize(count, 0);
    for (qsizetype i = 0; i < count; ++i) {
        if ((*left)[i] != (*right)[i])
            return (*left)[i] < (*right)[i] ? -1 : 1;
    }
    return 0;
}

std::optional<AppcastItem> newestItemAbove(const QList<AppcastItem>& items,
                                           const QString& runningVersion) {
    std::optional<AppcastItem> newest;
    for (const AppcastItem& item : items) {
        const auto aboveRunning = compareVersions(item.version, runningVersion);
        if (!aboveRunning || *aboveRunning <= 0)
            continue;
        if (!newest || compareVersions(item.version, newest->version).value_or(0) > 0)
            newest = item;
    }
    return newest;
}

} // namespace UpdaterAppcast
