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
// write), always before the store is destroyed or the application quits.
// Several processes share the file: a write changes only the keys assigned
// here, merged into the file as it is on disk at that moment, under a lock
// file beside it, and replaces the file atomically. Keys this program does
// not know are kept.
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

    // Writes pending changes now. False when the file could not be locked or
    // written; the changes stay pending and are tried again on the next write.
    bool flush();

    // How long writes are gathered before they go to disk.
    static constexpr int coalesceMilliseconds = 300;

private:
    enum class Read { missing, object, unusable };
    Read read(QJsonObject& values) const;
    bool setAside() const;

    QString m_filePath;
    // The file as last read or written, with our assignments on top.
    QJsonObject m_values;
    // Assigned here and not yet on disk.
    QJsonObject m_pending;
    QTimer m_flushTimer;
};
