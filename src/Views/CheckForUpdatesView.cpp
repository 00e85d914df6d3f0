// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/CheckForUpdatesView.h"

#include "Platform/Updater.h"

#include <QMenu>

CheckForUpdatesView::CheckForUpdatesView(Updater* updater, QObject* parent)
    : QAction(tr("更新を確認(&U)…"), parent), m_updater(updater) {
    setMenuRole(QAction::NoRole);
    connect(this, &QAction::triggered, this, [this] {
        if (m_updater)
            m_updater->checkForUpdates();
    });
    refresh();
}

void CheckForUpdatesView::refresh() {
    setEnabled(m_updater && m_updater->canCheckForUpdates());
}

CheckForUpdatesView* addCheckForUpdatesItem(QMenu* helpMenu, Updater* updater) {
    if (!helpMenu || !updater)
        return nullptr;
    auto* item = new CheckForUpdatesView(updater, helpMenu);
    const QList<QAction*> actions = helpMenu->actions();
    QAction* before = nullptr;
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions[i]->menuRole() == QAction::AboutRole) {
            before = i + 1 < actions.size() ? actions[i + 1] : nullptr;
            break;
        }
    }
    helpMenu->insertAction(before, item);
    QObject::connect(helpMenu, &QMenu::aboutToShow, item, &CheckForUpdatesView::refresh);
    return item;
}
