// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>

namespace {

const QString tokenKey = QStringLiteral("activation-token");

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {
    qDBusRegisterMetaType<QByteArrayList>();
}

SingleInstance::~SingleInstance() {
    if (!m_claimed)
        return;
    m_bus.unregisterService(text(serviceName));
    m_bus.unregisterObject(text(objectPath));
}

bool SingleInstance::claim() {
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    // Serve first, so that the first call after taking the name finds us.
    if (!m_bus.registerObject(text(objectPath), this, QDBusConnection::ExportScriptableSlots))
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(text(serviceName),
                                           QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    m_claimed = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (m_claimed)
        return true;
    m_bus.unregisterObject(text(objectPath));
    return false;
}

bool SingleInstance::handOver(const QByteArrayList& paths, const QString& activationToken) const {
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(text(serviceName), text(objectPath),
                                                       text(serviceName), QStringLiteral("Open"));
    QVariantMap platformData;
    if (!activationToken.isEmpty())
        platformData.insert(tokenKey, activationToken);
    call << QVariant::fromValue(paths) << platformData;
    // The owner answers from its event loop; a hung one must not hold us for long.
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, 10000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString SingleInstance::ownActivationToken() {
    QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    return token.isEmpty() ? qEnvironmentVariable("DESKTOP_STARTUP_ID") : token;
}

void SingleInstance::Open(const QByteArrayList& paths, const QVariantMap& platformData) {
    QByteArrayList absolute;
    for (QByteArray path : paths) {
        // GLib's byte strings (gdbus call, GApplication) end in a NUL, which
        // no path can hold.
        if (path.endsWith('\0'))
            path.chop(1);
        if (path.startsWith('/') && !path.contains('\0'))
            absolute.append(path);
    }
    Q_EMIT openRequested(absolute, platformData.value(tokenKey).toString());
}
