// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/FileManagerReveal.h"

#include "Models/FileURLs.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace {

void openContainingFolder(const std::filesystem::path& path) {
    QDesktopServices::openUrl(FileURLs::fileURL(path.parent_path()));
}

} // namespace

void revealInFileManager(const QString& path) {
    revealInFileManager(std::filesystem::path(path.toStdString()));
}

void revealInFileManager(const std::filesystem::path& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QString::fromLatin1(FileURLs::fileURL(path).toEncoded());
    call << QStringList{uri} << QString();
    // Asynchronous: D-Bus activation of a file manager can take seconds, and
    // the window must not freeze meanwhile.
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, path] {
        if (watcher->isError())
            openContainingFolder(path);
        watcher->deleteLater();
    });
}
