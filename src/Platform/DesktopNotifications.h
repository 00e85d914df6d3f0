// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QString>

// Desktop notifications through org.freedesktop.Notifications.
namespace DesktopNotifications {

// Asks the notification service on `bus` to show `summary` with `body`, from
// the application `appName`, and returns at once. Without a bus or a service
// nothing happens.
void show(const QDBusConnection& bus, const QString& appName, const QString& summary,
          const QString& body);

} // namespace DesktopNotifications
