// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>

class QObject;

// The program speaks English to English locales and Japanese to all others.
// The Japanese texts in the code are the translation keys; the Japanese table
// holds the few Linux wordings that differ from them.
namespace Localization {

// "en" for an English locale, otherwise "ja".
QString languageFor(const QLocale& locale = QLocale());

// Loads the program's table (and, for the window, Qt's own) for the language
// of the default locale. The translators belong to `owner`, so they are
// removed again when it goes.
void installTranslators(QObject* owner, bool withQtTexts = true);

} // namespace Localization
