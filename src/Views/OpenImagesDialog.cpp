// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/OpenImagesDialog.h"

#include "Models/FileURLs.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>

#include <algorithm>

OpenImagesDialog::OpenImagesDialog(const QSet<QString>& acceptedExtensions, QWidget* parent)
    : QFileDialog(parent) {
    const bool sandboxed =
        QFile::exists(QStringLiteral("/.flatpak-info")) || qEnvironmentVariableIsSet("SNAP");
    setOption(QFileDialog::DontUseNativeDialog, !sandboxed);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setOption(QFileDialog::HideNameFilterDetails);
    // The message, shown as the dialog's title.
    setWindowTitle(tr("リサイズする画像を選択"));

    QStringList extensions(acceptedExtensions.cbegin(), acceptedExtensions.cend());
    std::sort(extensions.begin(), extensions.end());
    QStringList patterns;
    for (const QString& extension : std::as_const(extensions))
        patterns << caseInsensitivePattern(extension);
    setNameFilter(tr("画像") + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                  QLatin1Char(')'));

    for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        if (qobject_cast<QListView*>(view) || qobject_cast<QTreeView*>(view))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
}

QString OpenImagesDialog::caseInsensitivePattern(const QString& extension) {
    QString pattern = QStringLiteral("*.");
    for (const QChar c : extension) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (lower == upper)
            pattern += c;
        else
            pattern += QLatin1Char('[') + lower + upper + QLatin1Char(']');
    }
    return pattern;
}

void OpenImagesDialog::accept() {
    // Enter in the name field with a folder's name opens that folder, as in
    // any file dialog, even though typing has selected it; the Open button
    // still takes a selected folder as it is.
    auto* nameField = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (nameField && focusWidget() == nameField) {
        const QString typed = nameField->text().trimmed();
        const QFileInfo named(QDir(directory().absolutePath()), typed);
        if (!typed.isEmpty() && !typed.contains(QLatin1Char('"')) && named.isDir()) {
            setDirectory(named.absoluteFilePath());
            nameField->clear();
            return;
        }
    }
    // The detail view and the list view share one selection model.
    const auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"));
    const QItemSelectionModel* selection = tree ? tree->selectionModel() : nullptr;
    QModelIndexList rows = selection ? selection->selectedRows() : QModelIndexList();
    if (rows.isEmpty()) {
        // Nothing selected (a typed name), or the desktop's dialog: handled as
        // the dialog always does. Its URLs may have been made from text.
        QFileDialog::accept();
        if (result() == QDialog::Accepted)
            m_chosen = FileURLs::exactURLs(selectedUrls());
        return;
    }
    // One folder's entries: their row order is the order shown.
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });

    const auto* proxy = qobject_cast<const QAbstractProxyModel*>(tree->model());
    const auto* files = findChild<QFileSystemModel*>();
    QList<QUrl> shown;
    for (const QModelIndex& row : std::as_const(rows)) {
        const QModelIndex source = proxy ? proxy->mapToSource(row) : row;
        if (!files)
            break;
        shown.append(QUrl::fromLocalFile(files->filePath(source)));
    }
    // The model holds names as text.
    m_chosen = FileURLs::exactURLs(shown);
    QDialog::accept();
}
