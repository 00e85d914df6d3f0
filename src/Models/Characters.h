// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Text measured the way a user counts it: in user-perceived characters
// (extended grapheme clusters), so a flag emoji or a letter with a combining
// accent is one character.
namespace Characters {

qsizetype count(const QString& text);
// The first `maxCharacters` characters of `text`, never splitting one.
QString prefix(const QString& text, qsizetype maxCharacters);
// The longest prefix whose UTF-8 form fits `maxBytes`, cut between characters;
// the first character alone when even it does not fit; empty for a budget < 1.
QString truncateToUTF8Bytes(const QString& text, qint64 maxBytes);

} // namespace Characters
