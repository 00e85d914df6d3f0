// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAction>
#include <QPointer>

class QMenu;
class Updater;

// The "check for updates" menu item. Its enabled state is read from the
// updater whenever the menu opens, not followed while the menu is shown.
class CheckForUpdatesView : public QAction {
    Q_OBJECT
public:
    CheckForUpdatesView(Updater* updater, QObject* parent);

    // Reads canCheckForUpdates now.
    void refresh();

private:
    QPointer<Updater> m_updater;
};

// Puts the item into the menu directly after its About item (the action whose
// menuRole is QAction::AboutRole), or at the end when there is none. Without an
// updater nothing is added and nothing is returned.
CheckForUpdatesView* addCheckForUpdatesItem(QMenu* helpMenu, Updater* updater);
