// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/Characters.h"

#include <QTextBoundaryFinder>

namespace {

// Calls `visit(end)` with the end offset of each character in turn until it returns false.
template <typename Visitor> void forEachCharacterEnd(const QString& text, Visitor visit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toStart();
    for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
        if (!visit(end))
            return;
    }
}

} // namespace

namespace Characters {

qsizetype count(const QString& text) {
    qsizetype n = 0;
    forEachCharacterEnd(text, [&](qsizetype) {
        ++n;
        return true;
    });
    return n;
}

QString prefix(const QString& text, qsizetype maxCharacters) {
    if (maxCharacters <= 0)
        return {};
    qsizetype n = 0;
    qsizetype cut = text.size();
    forEachCharacterEnd(text, [&](qsizetype end) {
        if (++n == maxCharacters) {
            cut = end;
            return false;
        }
        return true;
    });
    return text.left(cut);
}

QString truncateToUTF8Bytes(const QString& text, qint64 maxBytes) {
    if (maxBytes < 1)
        return {};
    if (text.toUtf8().size() <= maxBytes)
        return text;
    qsizetype cut = 0;
    qsizetype start = 0;
    qint64 bytes = 0;
    forEachCharacterEnd(text, [&](qsizetype end) {
        const qint64 characterBytes = QStringView(text).mid(start, end - start).toUtf8().size();
        if (bytes + characterBytes > maxBytes) {
            if (cut == 0)
                cut = end; // not even the first character fits: keep it whole
            return false;
        }
        bytes += characterBytes;
        cut = end;
        start = end;
        return true;
    });
    return text.left(cut);
}

} // namespace Characters
