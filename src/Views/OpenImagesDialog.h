// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileDialog>
#include <QList>
#include <QSet>
#include <QUrl>

// Qt's own (widget) file dialog, changed so that files and folders can be
// chosen together: several entries of either kind can be selected, and the
// Open button takes the selection as it is instead of entering a selected
// folder (a double click still enters one, and so does Enter after typing a
// folder's name). Only folders and accepted images are listed,
// whatever the letter case of their extension. In a sandbox (Flatpak, Snap),
// where this dialog sees only the sandbox, the desktop's dialog is used
// through its portal instead. Either way the chosen names reach the caller as
// their exact bytes. (Qt's own dialog does not list names that are not UTF-8
// at all, as Qt's folder listing skips them; their folder can be chosen.)
class OpenImagesDialog : public QFileDialog {
    Q_OBJECT
public:
    OpenImagesDialog(const QSet<QString>& acceptedExtensions, QWidget* parent = nullptr);

    // What was chosen, in the order shown in the dialog.
    QList<QUrl> chosenURLs() const { return m_chosen; }

    // "*.[jJ][pP][gG]": matches the extension in any letter case.
    static QString caseInsensitivePattern(const QString& extension);

public Q_SLOTS:
    void accept() override;

private:
    QList<QUrl> m_chosen;
};
