// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QString>

// Progress on the application's dock or task bar entry, through the launcher
// entry signal that Ubuntu's dock, Dash to Dock, KDE's task manager and
// Plank listen to (com.canonical.Unity.LauncherEntry). Without a bus or a
// listener nothing happens.
namespace LauncherProgress {

// `done` of `total` as a bar and `total - done` as a count on the entry of
// `desktopFileID` (without ".desktop"); `visible` false takes both away.
void update(const QDBusConnection& bus, const QString& desktopFileID, qint64 done, qint64 total,
            bool visible);

} // namespace LauncherProgress
