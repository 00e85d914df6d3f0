// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/UpdaterDialog.h"

#include "Platform/Updater.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

UpdaterDialog::UpdaterDialog(Updater* updater, QWidget* parent)
    : QDialog(parent), m_updater(updater), m_title(new QLabel(this)), m_message(new QLabel(this)),
      m_notes(new QTextBrowser(this)), m_notesLink(new QLabel(this)),
      m_progress(new QProgressBar(this)),
      m_downloadButton(new QPushButton(tr("ダウンロード"), this)),
      m_closeButton(new QPushButton(this)) {
    setWindowTitle(tr("ソフトウェア・アップデート"));
    setWindowModality(Qt::NonModal);
    setMinimumWidth(420);

    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    m_title->setFont(titleFont);
    m_title->setWordWrap(true);
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notes->setOpenExternalLinks(true);
    m_notes->setMinimumHeight(160);
    m_notesLink->setOpenExternalLinks(true);
    m_notesLink->setTextFormat(Qt::RichText);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_downloadButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(m_closeButton, QDialogButtonBox::RejectRole);
    m_downloadButton->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_title);
    layout->addWidget(m_message);
    layout->addWidget(m_notes, 1);
    layout->addWidget(m_notesLink);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);

    connect(m_downloadButton, &QPushButton::clicked, m_updater, &Updater::downloadUpdate);
    connect(m_closeButton, &QPushButton::clicked, this, &UpdaterDialog::reject);
    connect(m_updater, &Updater::downloadProgress, this, [this](qint64 received, qint64) {
        // QProgressBar counts in int, so it counts kibibytes.
        m_progress->setValue(
            static_cast<int>(std::min(received / 1024, qint64(m_progress->maximum()))));
    });
    connect(m_updater, &Updater::textsChanged, this, [this] {
        if (isVisible())
            refresh();
    });
    connect(m_updater, &Updater::presentationRequested, this, [this] {
        refresh();
        show();
        raise();
        activateWindow();
    });
    refresh();
}

void UpdaterDialog::refresh() {
    using State = Updater::State;
    const State state = m_updater->state();
    const bool busy = state == State::Checking || state == State::Downloading;
    m_title->setText(m_updater->title());
    m_message->setText(m_updater->message());
    m_message->setVisible(!m_updater->message().isEmpty());
    m_progress->setVisible(busy);
    if (state == State::Checking)
        m_progress->setRange(0, 0);
    else if (state == State::Downloading && m_updater->availableUpdate())
        m_progress->setRange(0, static_cast<int>(m_updater->availableUpdate()->length / 1024 + 1));
    m_downloadButton->setVisible(state == State::UpdateAvailable);
    m_downloadButton->setEnabled(m_updater->canCheckForUpdates());
    m_closeButton->setText(busy                              ? tr("キャンセル")
                           : state == State::UpdateAvailable ? tr("後で")
                                                             : tr("閉じる"));
    showNotes();
    adjustSize();
}

void UpdaterDialog::showNotes() {
    const auto& update = m_updater->availableUpdate();
    const bool offered = update && (m_updater->state() == Updater::State::UpdateAvailable ||
                                    m_updater->state() == Updater::State::Downloading);
    const bool inline_ = offered && !update->description.isEmpty();
    m_notes->setVisible(inline_);
    if (inline_) {
        if (Qt::mightBeRichText(update->description))
            m_notes->setHtml(update->description);
        else
            m_notes->setPlainText(update->description);
    }
    const bool link =
        offered && !inline_ && update->releaseNotesURL.scheme() == QLatin1String("https");
    m_notesLink->setVisible(link);
    if (link)
        m_notesLink->setText(
            QStringLiteral("<a href=\"%1\">%2</a>")
                .arg(update->releaseNotesURL.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                     tr("リリースノートを開く").toHtmlEscaped()));
}

void UpdaterDialog::reject() {
    m_updater->cancel();
    QDialog::reject();
}
