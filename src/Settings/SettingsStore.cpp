// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

SettingsStore::SettingsStore(QString filePath, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)) {
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(coalesceMilliseconds);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flush(); });
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { flush(); });
    read(m_values);
}

SettingsStore::~SettingsStore() {
    flush();
}

SettingsStore& SettingsStore::standard() {
    static SettingsStore store(defaultFilePath());
    return store;
}

QString SettingsStore::defaultFilePath() {
    // GenericConfigLocation honours $XDG_CONFIG_HOME and falls back to ~/.config.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QStringLiteral("/burisora/settings.json");
}

SettingsStore::Read SettingsStore::read(QJsonObject& values) const {
    QFile file(m_filePath);
    if (!file.exists())
        return Read::missing;
    if (!file.open(QIODevice::ReadOnly))
        return Read::unusable;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Read::unusable;
    values = document.object();
    return Read::object;
}

// A file that is not a JSON object (or cannot be read) is kept beside, as
// settings.json.bad, before a write replaces it; an older copy set aside
// earlier is kept too.
bool SettingsStore::setAside() const {
    QString aside = m_filePath + QStringLiteral(".bad");
    for (int n = 1; QFile::exists(aside); ++n)
        aside = m_filePath + QStringLiteral(".bad.") + QString::number(n);
    return QFile::rename(m_filePath, aside);
}

std::optional<QString> SettingsStore::text(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

void SettingsStore::setValue(const QString& key, const QJsonValue& value) {
    m_values.insert(key, value);
    m_pending.insert(key, value);
    if (QCoreApplication::instance() && thread() == QCoreApplication::instance()->thread())
        m_flushTimer.start();
}

bool SettingsStore::flush() {
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return true;
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    // Another process may be between reading and replacing the file; a lock
    // left by a crashed one goes stale after QLockFile's 30 seconds.
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    if (!lock.tryLock(5000))
        return false;
    QJsonObject merged;
    if (read(merged) == Read::unusable) {
        if (!setAside())
            return false;
        merged = m_values; // what we last knew, rather than nothing
    }
    for (auto it = m_pending.constBegin(); it != m_pending.constEnd(); ++it)
        merged.insert(it.key(), it.value());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(merged).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return false;
    m_values = merged;
    m_pending = QJsonObject();
    return true;
}
