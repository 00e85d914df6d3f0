// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/DesktopNotifications.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace DesktopNotifications {

void show(const QDBusConnection& bus, const QString& appName, const QString& summary,
          const QString& body) {
    if (!bus.isConnected())
        return;
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    const QString applicationID = QStringLiteral("io.github.burisora.Burisora");
    call << appName << uint(0) << applicationID << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), applicationID}} << int(-1);
    // Fire and forget: the reply (an id, or "no such service") changes nothing.
    bus.send(call);
}

} // namespace DesktopNotifications
