// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class Updater;

// The updater's window. It follows the updater and comes forward whenever the
// updater asks to be shown. Not modal: the main window goes on working while a
// check or a download runs.
class UpdaterDialog : public QDialog {
    Q_OBJECT
public:
    explicit UpdaterDialog(Updater* updater, QWidget* parent = nullptr);

    // Shows the updater's current state and texts.
    void refresh();

    // Closing the window also stops what runs.
    void reject() override;

private:
    void showNotes();

    Updater* m_updater;
    QLabel* m_title;
    QLabel* m_message;
    QTextBrowser* m_notes;
    QLabel* m_notesLink;
    QProgressBar* m_progress;
    QPushButton* m_downloadButton;
    QPushButton* m_closeButton;
};
