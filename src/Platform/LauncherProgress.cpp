// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/LauncherProgress.h"

#include <QDBusMessage>
#include <QVariantMap>

#include <algorithm>

namespace LauncherProgress {

void update(const QDBusConnection& bus, const QString& desktopFileID, qint64 done, qint64 total,
            bool visible) {
    if (!bus.isConnected())
        return;
    // Listeners match the signal by its interface and the URI, not the path.
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/burisora"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const double progress = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
    signal << QStringLiteral("application://%1.desktop").arg(desktopFileID)
           << QVariantMap{{QStringLiteral("progress"), progress},
                          {QStringLiteral("progress-visible"), visible},
                          {QStringLiteral("count"), qint64(std::max<qint64>(0, total - done))},
                          {QStringLiteral("count-visible"), visible}};
    bus.send(signal);
}

} // namespace LauncherProgress
