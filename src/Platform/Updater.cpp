// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/Updater.h"

#include "Platform/FileManagerReveal.h"
#include "Platform/UpdaterSignature.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslError>
#include <QStandardPaths>

namespace {

// A feed is a few kilobytes; anything this large is not one.
constexpr qint64 maximumFeedBytes = 8 * 1024 * 1024;

bool isHttps(const QUrl& url) {
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

Updater::Updater(QUrl feedURL, QByteArray publicEDKey, QString runningVersion, QObject* parent)
    : QObject(parent), m_feedURL(std::move(feedURL)), m_publicEDKey(std::move(publicEDKey)),
      m_runningVersion(std::move(runningVersion)), m_network(new QNetworkAccessManager(this)),
      m_reveal([](const QString& path) { revealInFileManager(path); }) {
    // Every request says its own redirect policy; this is only the fallback.
    m_network->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
}

Updater::~Updater() {
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    if (m_download)
        m_download->remove();
}

bool Updater::canCheckForUpdates() const {
    return m_started && !m_reply;
}

void Updater::start() {
    if (m_started)
        return;
    m_started = true;
    Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
}

void Updater::setBusy(QNetworkReply* reply) {
    const bool before = canCheckForUpdates();
    m_reply = reply;
    if (before != canCheckForUpdates())
        Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
}

void Updater::setState(State state, const QString& title, const QString& message) {
    m_title = title;
    m_message = message;
    m_state = state;
    // The texts can change within one state (two failures in a row).
    Q_EMIT textsChanged();
}

QNetworkReply* Updater::get(const QUrl& url) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(static_cast<int>(m_transferTimeout.count()));
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Burisora/%1").arg(m_runningVersion));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_additionalCaCertificates.isEmpty())
        tls.addCaCertificates(m_additionalCaCertificates);
    request.setSslConfiguration(tls);

    m_refusal.clear();
    m_tlsProblem.clear();
    m_cancelled = false;
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& target) {
        if (isHttps(reply->url().resolved(target))) {
            Q_EMIT reply->redirectAllowed();
            return;
        }
        m_refusal = tr("暗号化されていないアドレスへの転送を拒否しました。");
        reply->abort();
    });
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError>& errors) {
        // Never ignored; kept only to say why the connection failed.
        if (!errors.isEmpty() && m_tlsProblem.isEmpty())
            m_tlsProblem = errors.first().errorString();
    });
    setBusy(reply);
    return reply;
}

void Updater::checkForUpdates() {
    if (!canCheckForUpdates()) {
        Q_EMIT presentationRequested(); // what runs is shown again
        return;
    }
    m_update.reset();
    setState(State::Checking, tr("アップデートを確認中…"), QString());
    Q_EMIT presentationRequested();
    if (!isHttps(m_feedURL)) {
        setState(State::Failed, tr("アップデートを確認できませんでした"),
                 tr("アップデート情報のアドレスが https ではありません。"));
        return;
    }
    QNetworkReply* reply = get(m_feedURL);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > maximumFeedBytes && m_reply == reply) {
            m_refusal = tr("アップデート情報が大きすぎます。");
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishCheck(reply); });
}

QString Updater::failureReason(QNetworkReply* reply) const {
    if (!m_refusal.isEmpty())
        return m_refusal;
    const QString detail = reply->errorString();
    switch (reply->error()) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::SslHandshakeFailedError:
        return tr("安全な接続を確立できませんでした。") +
               (m_tlsProblem.isEmpty() ? detail : m_tlsProblem);
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return tr("サーバが応答しませんでした。");
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return tr("サーバに接続できませんでした。") + detail;
    default:
        break;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 0 && (status < 200 || status > 299))
        return tr("サーバがエラーを返しました（HTTP %1）。").arg(status);
    if (reply->error() != QNetworkReply::NoError)
        return tr("通信に失敗しました。") + detail;
    return QString();
}

void Updater::finishCheck(QNetworkReply* reply) {
    reply->deleteLater();
    if (m_reply != reply)
        return;
    const bool cancelled = m_cancelled;
    const QString reason = failureReason(reply);
    const QByteArray body = reason.isEmpty() ? reply->readAll() : QByteArray();
    setBusy(nullptr);
    if (cancelled) {
        setState(State::Idle, QString(), QString());
        return;
    }
    const QString failed = tr("アップデートを確認できませんでした");
    if (!reason.isEmpty()) {
        setState(State::Failed, failed, reason);
        return;
    }
    const UpdaterAppcast::ParseResult feed = UpdaterAppcast::parse(body);
    if (!feed.error.isEmpty()) {
        setState(State::Failed, failed,
                 tr("アップデート情報の形式が正しくありません。") + feed.error);
        return;
    }
    m_update = UpdaterAppcast::newestItemAbove(feed.items, m_runningVersion);
    if (!m_update) {
        setState(State::UpToDate, tr("ブリソラは最新です"),
                 tr("お使いのバージョン %1 が最新のバージョンです。").arg(m_runningVersion));
        return;
    }
    if (m_update->length < 0 || m_update->edSignature.isEmpty()) {
        m_update.reset();
        setState(State::Failed, failed,
                 tr("新しいバージョンの情報に、確認に必要な大きさまたは署名がありません。"));
        return;
    }
    setState(State::UpdateAvailable,
             tr("新しいバージョン %1 があります").arg(m_update->displayVersion),
             tr("お使いのバージョンは %1 です。ダウンロードしますか？").arg(m_runningVersion));
}

QString Updater::nextDownloadPath() const {
    QString directory = m_downloadDirectory;
    if (directory.isEmpty())
        directory = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (directory.isEmpty())
        directory = QDir::homePath();
    QString name = m_update->downloadURL.fileName();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name = QStringLiteral("Burisora-%1").arg(m_update->displayVersion);
    // "name (2).tar.gz" rather than "name.tar (2).gz".
    const QFileInfo info(name);
    QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QString base = name.left(name.size() - suffix.size());
    if (base.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive)) {
        suffix = base.right(4) + suffix;
        base.chop(4);
    }
    QString path = QDir(directory).filePath(name);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(directory).filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
    return path;
}

void Updater::downloadUpdate() {
    if (m_state != State::UpdateAvailable || !m_update || !canCheckForUpdates())
        return;
    Q_EMIT presentationRequested();
    const QString failed = tr("アップデートをダウンロードできませんでした");
    if (!isHttps(m_update->downloadURL)) {
        setState(State::Failed, failed,
                 tr("暗号化されていないアドレスからはダウンロードしません。"));
        return;
    }
    const QString path = nextDownloadPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_download = std::make_unique<QFile>(path);
    // NewOnly: never write through a file someone else put there meanwhile.
    if (!m_download->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const QString reason = m_download->errorString();
        m_download.reset();
        setState(State::Failed, failed,
                 tr("ファイル %1 を作成できませんでした。").arg(path) + reason);
        return;
    }
    m_downloadedFilePath.clear();
    setState(State::Downloading,
             tr("バージョン %1 をダウンロード中…").arg(m_update->displayVersion), QString());
    QNetworkReply* reply = get(m_update->downloadURL);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { writeDownloadedBytes(reply); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        Q_EMIT downloadProgress(received, m_update->length);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishDownload(reply); });
}

void Updater::writeDownloadedBytes(QNetworkReply* reply) {
    if (m_reply != reply || !m_download)
        return;
    const QByteArray bytes = reply->readAll();
    if (m_download->size() + bytes.size() > m_update->length) {
        m_refusal = tr("ファイルが更新情報に書かれた大きさを超えました。");
        reply->abort();
        return;
    }
    if (m_download->write(bytes) != bytes.size()) {
        m_refusal = tr("ファイルを書き込めませんでした。") + m_download->errorString();
        reply->abort();
    }
}

void Updater::failDownload(const QString& reason) {
    m_download->remove();
    m_download.reset();
    setState(State::Failed, tr("アップデートをダウンロードできませんでした"),
             reason + tr("ダウンロードしたファイルは削除しました。"));
}

void Updater::finishDownload(QNetworkReply* reply) {
    reply->deleteLater();
    if (m_reply != reply || !m_download)
        return;
    if (m_refusal.isEmpty() && reply->error() == QNetworkReply::NoError)
        writeDownloadedBytes(reply);
    const bool cancelled = m_cancelled;
    const QString reason = failureReason(reply);
    setBusy(nullptr);
    if (cancelled) {
        m_download->remove();
        m_download.reset();
        setState(State::UpdateAvailable,
                 tr("新しいバージョン %1 があります").arg(m_update->displayVersion),
                 tr("ダウンロードを中止しました。"));
        return;
    }
    if (!reason.isEmpty()) {
        failDownload(reason);
        return;
    }
    if (!m_download->flush()) {
        failDownload(tr("ファイルを書き込めませんでした。") + m_download->errorString());
        return;
    }
    m_download->close();
    if (m_download->size() != m_update->length) {
        failDownload(tr("ファイルの大きさが更新情報と一致しません。"));
        return;
    }
    if (!UpdaterSignature::verifyFile(m_download->fileName(), m_publicEDKey,
                                      m_update->edSignature)) {
        failDownload(tr("ファイルの署名を確認できませんでした。"));
        return;
    }
    m_downloadedFilePath = m_download->fileName();
    m_download.reset();
    setState(State::Downloaded,
             tr("バージョン %1 をダウンロードしました").arg(m_update->displayVersion),
             tr("署名を確認しました。ファイル %1 を開いてインストールしてください。")
                 .arg(QFileInfo(m_downloadedFilePath).fileName()));
    if (m_reveal)
        m_reveal(m_downloadedFilePath);
}

void Updater::cancel() {
    if (!m_reply)
        return;
    m_cancelled = true;
    m_reply->abort();
}
