// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

// One window per session. The first process owns the application's name on
// the session bus and serves Open; a later launch hands its paths to it and
// ends. Paths travel as bytes (aay), so names that are not UTF-8 survive.
// Without a bus every process keeps its own window.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.burisora.Burisora")
public:
    static constexpr auto serviceName = "io.github.burisora.Burisora";
    static constexpr auto objectPath = "/io/github/burisora/Burisora";

    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr);
    // Gives the name back.
    ~SingleInstance() override;

    // Takes the name and starts serving. False when another process holds it
    // or there is no bus.
    bool claim();
    // Gives the paths (absolute) to the process that holds the name and asks
    // it to come to the front; true once it has taken them. The token is the
    // launcher's startup token for the desktop's focus rules, or empty.
    bool handOver(const QByteArrayList& paths, const QString& activationToken) const;

    // The startup token a launcher gave this process, if any.
    static QString ownActivationToken();

public Q_SLOTS:
    // D-Bus: Open(aay paths, a{sv} platform_data), with "activation-token" (s)
    // in the platform data. Relative paths are dropped; a trailing NUL (GLib's
    // byte strings) is not part of a path.
    Q_SCRIPTABLE void Open(const QByteArrayList& paths, const QVariantMap& platformData);

Q_SIGNALS:
    void openRequested(const QByteArrayList& paths, const QString& activationToken);

private:
    QDBusConnection m_bus;
    bool m_claimed = false;
};
