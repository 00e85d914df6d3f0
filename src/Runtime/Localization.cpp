// SPDX-License-Identifier: GPL-3.0-or-later
#include "Runtime/Localization.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace Localization {

QString languageFor(const QLocale& locale) {
    return locale.language() == QLocale::English ? QStringLiteral("en") : QStringLiteral("ja");
}

namespace {

bool install(QObject* owner, const QString& file, const QStringList& directories) {
    for (const QString& directory : directories) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(file, directory)) {
            translator->setParent(owner);
            QCoreApplication::installTranslator(translator.release());
            return true;
        }
    }
    return false;
}

} // namespace

void installTranslators(QObject* owner, bool withQtTexts) {
    const QString language = languageFor();
    // Tables installed beside the program win over those built into it, so a
    // corrected translation can be dropped in without rebuilding.
    install(owner, QStringLiteral("burisora_") + language,
            {QDir(QCoreApplication::applicationDirPath())
                 .filePath(QStringLiteral("../share/burisora/translations")),
             QStringLiteral(":/i18n")});
    // Qt's own texts (the file dialog's buttons and the like) in the same
    // language as ours; English is Qt's own.
    if (withQtTexts && language != QStringLiteral("en"))
        install(owner, QStringLiteral("qtbase_") + language,
                {QLibraryInfo::path(QLibraryInfo::TranslationsPath)});
}

} // namespace Localization
