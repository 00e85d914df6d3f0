// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Platform/UpdaterAppcast.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// Checks the appcast on request and, when asked, downloads the new version and verifies it. It
// never installs or runs anything: a verified file is only shown in the file manager.
class Updater : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Checking, UpToDate, UpdateAvailable, Downloading, Downloaded, Failed };
    Q_ENUM(State)

    Updater(QUrl feedURL, QByteArray publicEDKey, QString runningVersion,
            QObject* parent = nullptr);
    ~Updater() override;

    // Until started the updater refuses checks.
    void start();
    bool isStarted() const { return m_started; }

    // True when a user-initiated check may start now.
    bool canCheckForUpdates() const;
    void checkForUpdates();
    // Downloads the update the last check found.
    void downloadUpdate();
    // Stops a running check or download; a partial download is removed.
    void cancel();

    State state() const { return m_state; }
    // What the dialog says about the state.
    QString title() const { return m_title; }
    QString message() const { return m_message; }
    const std::optional<AppcastItem>& availableUpdate() const { return m_update; }
    QString downloadedFilePath() const { return m_downloadedFilePath; }
    QString runningVersion() const { return m_runningVersion; }

    // The user's download folder unless set.
    void setDownloadDirectory(const QString& path) { m_downloadDirectory = path; }
    // Trusted besides the system's authorities.
    void setAdditionalCaCertificates(const QList<QSslCertificate>& certificates) {
        m_additionalCaCertificates = certificates;
    }
    // Shows a verified download; the file manager by default.
    void setRevealHandler(std::function<void(const QString&)> handler) {
        m_reveal = std::move(handler);
    }
    // A transfer that stalls this long fails.
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool value);
    void downloadProgress(qint64 received, qint64 total);
    // The title or message were set again (also within one state).
    void textsChanged();
    // A check or download started, or was asked for while one runs: whoever
    // shows the updater to the user brings it forward.
    void presentationRequested();

private:
    QNetworkReply* get(const QUrl& url);
    void setBusy(QNetworkReply* reply);
    void setState(State state, const QString& title, const QString& message);
    void finishCheck(QNetworkReply* reply);
    void finishDownload(QNetworkReply* reply);
    void writeDownloadedBytes(QNetworkReply* reply);
    void failDownload(const QString& reason);
    QString failureReason(QNetworkReply* reply) const;
    QString nextDownloadPath() const;

    QUrl m_feedURL;
    QByteArray m_publicEDKey;
    QString m_runningVersion;
    bool m_started = false;

    QNetworkAccessManager* m_network = nullptr; // child
    QPointer<QNetworkReply> m_reply;
    // Why the running transfer was stopped by us, if it was.
    QString m_refusal;
    bool m_cancelled = false;
    QString m_tlsProblem;

    State m_state = State::Idle;
    QString m_title;
    QString m_message;
    std::optional<AppcastItem> m_update;
    std::unique_ptr<QFile> m_download;
    QString m_downloadedFilePath;

    QString m_downloadDirectory;
    QList<QSslCertificate> m_additionalCaCertificates;
    std::function<void(const QString&)> m_reveal;
    std::chrono::milliseconds m_transferTimeout{30000};
};
