// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

SettingsStore::SettingsStore(QString filePath, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)) {
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(coalesceMilliseconds);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flush(); });
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { flush(); });
    load();
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

void SettingsStore::load() {
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable: do not replace what we could not read.
        m_moveAsideBeforeWrite = true;
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        m_moveAsideBeforeWrite = true;
        return;
    }
    m_values = document.object();
}

std::optional<QString> SettingsStore::text(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

void SettingsStore::setValue(const QString& key, const QJsonValue& value) {
    m_values.insert(key, value);
    m_dirty = true;
    if (QCoreApplication::instance() && thread() == QCoreApplication::instance()->thread())
        m_flushTimer.start();
}

bool SettingsStore::flush() {
    m_flushTimer.stop();
    if (!m_dirty)
        return true;
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (m_moveAsideBeforeWrite) {
        // An older copy set aside earlier is kept too.
        QString aside = m_filePath + QStringLiteral(".bad");
        for (int n = 1; QFile::exists(aside); ++n)
            aside = m_filePath + QStringLiteral(".bad.") + QString::number(n);
        if (QFile::exists(m_filePath) && !QFile::rename(m_filePath, aside))
            return false;
        m_moveAsideBeforeWrite = false;
    }
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return false;
    m_dirty = false;
    return true;
}
