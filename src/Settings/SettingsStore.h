// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>

// The per-user settings file: one JSON object in
// $XDG_CONFIG_HOME/burisora/settings.json. Reads come from memory; writes update
// memory at once and reach the disk shortly after (a slider drag becomes one
// write), always before the store is destroyed or the application quits. The
// file is replaced atomically, and keys this program does not know are kept.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    explicit SettingsStore(QString filePath, QObject* parent = nullptr);
    ~SettingsStore() override;

    // The process-wide store at the default location, created on first use.
    static SettingsStore& standard();
    static QString defaultFilePath();

    QString filePath() const { return m_filePath; }
    bool isEmpty() const { return m_values.isEmpty(); }
    bool contains(const QString& key) const { return m_values.contains(key); }

    // A string value; nothing when the key is missing or holds another kind.
    std::optional<QString> text(const QString& key) const;
    // The raw JSON value; undefined when the key is missing.
    QJsonValue value(const QString& key) const { return m_values.value(key); }

    void setValue(const QString& key, const QJsonValue& value);

    // Writes pending changes now. False when the file could not be written;
    // the changes stay pending and are tried again on the next write.
    bool flush();

    // How long writes are gathered before they go to disk.
    static constexpr int coalesceMilliseconds = 300;

private:
    void load();

    QString m_filePath;
    QJsonObject m_values;
    bool m_dirty = false;
    // The file on disk was not a JSON object: it is kept as settings.json.bad
    // before our first write replaces it.
    bool m_moveAsideBeforeWrite = false;
    QTimer m_flushTimer;
};
