// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/JobListView.h"

#include "Models/JobStatus.h"
#include "Views/JobListModel.h"
#include "Views/JobRow.h"
#include "Views/Style.h"

#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

QToolButton* smallBorderlessButton(QWidget* parent, const char* name) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFont(Style::font(Style::TextRole::subheadline, button->font()));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

JobListView::JobListView(JobListModel* jobs, std::function<void()> onClearCompleted,
                         std::function<void()> onClearAll, QWidget* parent)
    : QWidget(parent), m_jobs(jobs), m_onClearCompleted(std::move(onClearCompleted)),
      m_onClearAll(std::move(onClearAll)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(Style::standardMargin, 8, Style::standardMargin, 8);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("title"));
    Style::applyText(m_title, Style::TextRole::headline);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    Style::applyText(m_summary, Style::TextRole::caption, Style::Tone::secondary);
    m_saving = new QLabel(this);
    m_saving->setObjectName(QStringLiteral("saving"));
    Style::applyText(m_saving, Style::TextRole::caption, Style::Tone::secondary);
    m_stop = smallBorderlessButton(this, "stop");
    m_clearCompleted = smallBorderlessButton(this, "clearCompleted");
    m_clearAll = smallBorderlessButton(this, "clearAll");
    header->addWidget(m_title);
    header->addStretch(1);
    // The saving goes under the summary: beside it, the header no longer
    // fits the window's minimum width in English. Its line is kept while it
    // is empty, so that the list does not move when the first output comes.
    auto* counts = new QVBoxLayout;
    counts->setSpacing(0);
    counts->addWidget(m_summary, 0, Qt::AlignRight);
    counts->addWidget(m_saving, 0, Qt::AlignRight);
    QSizePolicy savingPolicy = m_saving->sizePolicy();
    savingPolicy.setRetainSizeWhenHidden(true);
    m_saving->setSizePolicy(savingPolicy);
    header->addLayout(counts);
    header->addWidget(m_stop);
    header->addWidget(m_clearCompleted);
    header->addWidget(m_clearAll);
    layout->addLayout(header);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(6);
    // Its place is kept, so that the rows do not move when a batch starts.
    QSizePolicy progressPolicy = m_progress->sizePolicy();
    progressPolicy.setRetainSizeWhenHidden(true);
    m_progress->setSizePolicy(progressPolicy);
    m_progress->hide();
    auto* progressRow = new QHBoxLayout;
    progressRow->setContentsMargins(Style::standardMargin, 0, Style::standardMargin, 4);
    progressRow->addWidget(m_progress);
    layout->addLayout(progressRow);
    layout->addWidget(Style::separator(this));

    m_body = new QStackedWidget(this);
    m_empty = new QLabel(m_body);
    m_empty->setObjectName(QStringLiteral("emptyState"));
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setMinimumHeight(160);
    Style::applyText(m_empty, Style::TextRole::callout, Style::Tone::tertiary);
    m_list = new QListView(m_body);
    m_list->setObjectName(QStringLiteral("jobList"));
    m_list->setMinimumHeight(160);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setDragEnabled(true);
    m_list->setDragDropMode(QAbstractItemView::DragOnly);
    m_list->setDefaultDropAction(Qt::CopyAction);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->installEventFilter(this);
    // Every row has the same height: the view then never asks for the size of
    // rows it does not show, which keeps ten thousand jobs cheap.
    m_list->setUniformItemSizes(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setMouseTracking(true);
    m_list->viewport()->installEventFilter(this);
    m_list->setBackgroundRole(QPalette::Window);
    m_list->viewport()->setBackgroundRole(QPalette::Window);
    m_row = new JobRow(m_list);
    m_list->setItemDelegate(m_row);
    m_list->setModel(m_jobs);
    m_body->addWidget(m_empty);
    m_body->addWidget(m_list);
    layout->addWidget(m_body, 1);

    // The rows come first, so that the window's first focus lands on them
    // and never on a button that clears the list.
    setTabOrder(m_list, m_stop);
    setTabOrder(m_stop, m_clearCompleted);
    setTabOrder(m_clearCompleted, m_clearAll);

    connect(m_row, &JobRow::revealRequested, this, &JobListView::revealRequested);
    connect(m_list, &QWidget::customContextMenuRequested, this, &JobListView::showRowMenu);
    connect(m_jobs, &QAbstractItemModel::dataChanged, this, &JobListView::followRunning);
    // Only the user's own scrolling (wheel, bar, keys on the bar) stops it.
    connect(m_list->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { m_followRunning = false; });
    connect(m_stop, &QToolButton::clicked, this, [this] {
        m_stopPressed = true;
        refresh();
        Q_EMIT stopRequested();
    });
    connect(m_clearCompleted, &QToolButton::clicked, this, [this] {
        if (m_onClearCompleted)
            m_onClearCompleted();
    });
    connect(m_clearAll, &QToolButton::clicked, this, [this] {
        if (m_onClearAll)
            m_onClearAll();
    });

    m_spinnerTimer = new QTimer(this);
    m_spinnerTimer->setInterval(80);
    connect(m_spinnerTimer, &QTimer::timeout, this, &JobListView::tickSpinners);

    connect(m_jobs, &JobListModel::countsChanged, this, &JobListView::refresh);
    connect(m_jobs, &QAbstractItemModel::modelReset, this, &JobListView::refresh);
    connect(m_jobs, &QAbstractItemModel::rowsInserted, this, [this] {
        m_stopPressed = false;
        refresh();
    });
    connect(m_jobs, &QAbstractItemModel::rowsRemoved, this, &JobListView::refresh);

    retranslate();
}

void JobListView::setIsProcessing(bool isProcessing) {
    if (m_isProcessing == isProcessing)
        return;
    m_isProcessing = isProcessing;
    m_stopPressed = false;
    if (isProcessing) {
        m_finishedBefore = m_jobs->finishedCount();
        m_followRunning = true;
    }
    refresh();
}

void JobListView::refresh() {
    const JobCounts& counts = m_jobs->counts();
    const bool empty = counts.all == 0;
    m_summary->setVisible(!empty);
    m_clearCompleted->setVisible(!empty);
    m_clearAll->setVisible(!empty);
    m_summary->setText(JobSummary::summary(counts));
    m_saving->setText(JobSummary::saving(counts));
    m_saving->setVisible(!m_saving->text().isEmpty());
    m_stop->setVisible(m_isProcessing);
    m_stop->setEnabled(!m_stopPressed);
    // This run's jobs: those it finished, and those still to finish.
    const qint64 done = m_isProcessing ? m_jobs->finishedCount() - m_finishedBefore : 0;
    const qint64 total =
        m_isProcessing ? done + counts[JobStatus::Kind::pending] + counts[JobStatus::Kind::running]
                       : 0;
    m_progress->setVisible(m_isProcessing);
    if (m_progress->maximum() != total || m_progress->value() != done) {
        m_progress->setRange(0, int(total));
        m_progress->setValue(int(done));
        Q_EMIT progressChanged(done, total);
    }
    m_clearAll->setEnabled(!m_isProcessing);
    m_clearAll->setToolTip(m_isProcessing ? tr("処理中は実行中の項目を保持します")
                                          : tr("すべての項目を消去"));
    m_body->setCurrentWidget(empty ? static_cast<QWidget*>(m_empty) : m_list);

    if (counts[JobStatus::Kind::running] > 0 && !m_spinnerTimer->isActive())
        m_spinnerTimer->start();
    else if (counts[JobStatus::Kind::running] == 0)
        m_spinnerTimer->stop();
}

void JobListView::followRunning(const QModelIndex& first, const QModelIndex& last) {
    if (!m_followRunning)
        return;
    for (int row = first.row(); row <= last.row(); ++row) {
        const QModelIndex index = m_jobs->index(row);
        if (index.data(JobListModel::StatusKindRole).toInt() != int(JobStatus::Kind::running))
            continue;
        m_list->scrollTo(index, QAbstractItemView::EnsureVisible);
    }
}

void JobListView::retranslate() {
    m_title->setText(tr("処理結果"));
    m_list->setAccessibleName(m_title->text());
    m_progress->setAccessibleName(tr("進行状況"));
    m_stop->setText(tr("停止"));
    m_clearCompleted->setText(tr("完了をクリア"));
    m_clearAll->setText(tr("全クリア"));
    m_empty->setText(tr("まだ何も処理していません"));
    refresh();
}

void JobListView::tickSpinners() {
    if (!m_list->isVisible())
        return;
    m_row->setSpinnerPhase(++m_spinnerPhase);
    // Only the running rows that are on screen are repainted.
    const QRect area = m_list->viewport()->rect();
    const QModelIndex first = m_list->indexAt(area.topLeft());
    if (!first.isValid())
        return;
    QModelIndex last = m_list->indexAt(QPoint(area.left(), area.bottom()));
    const int lastRow = last.isValid() ? last.row() : m_jobs->rowCount() - 1;
    for (int row = first.row(); row <= lastRow; ++row) {
        const QModelIndex index = m_jobs->index(row);
        if (index.data(JobListModel::StatusKindRole).toInt() == int(JobStatus::Kind::running))
            m_list->update(index);
    }
}

bool JobListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::Leave)
        m_row->clearHover(m_list);
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            copySelected();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers() == Qt::NoModifier) {
            const QByteArray output =
                m_list->currentIndex().data(JobListModel::OutputPathRole).toByteArray();
            if (!output.isEmpty())
                Q_EMIT revealRequested(output.toStdString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QList<std::filesystem::path> JobListView::selectedOutputs() const {
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<std::filesystem::path> outputs;
    for (const QModelIndex& row : std::as_const(rows)) {
        const QByteArray output = row.data(JobListModel::OutputPathRole).toByteArray();
        if (!output.isEmpty())
            outputs << output.toStdString();
    }
    return outputs;
}

void JobListView::copySelected() {
    // The same data as a drag: file managers paste it as copies of the files.
    std::unique_ptr<QMimeData> data(m_jobs->mimeData(m_list->selectionModel()->selectedRows()));
    if (data)
        QGuiApplication::clipboard()->setMimeData(data.release());
}

void JobListView::showRowMenu(const QPoint& at) {
    const QList<std::filesystem::path> outputs = selectedOutputs();
    QList<JobItem*> written;
    for (const QModelIndex& row : m_list->selectionModel()->selectedRows()) {
        if (!row.data(JobListModel::OutputPathRole).toByteArray().isEmpty())
            written << m_jobs->job(row);
    }
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("rowMenu"));
    QAction* reveal = menu.addAction(tr("ファイルマネージャで表示(&R)"));
    QAction* open = menu.addAction(tr("開く(&O)"));
    QAction* copy = menu.addAction(tr("コピー(&C)"));
    copy->setShortcut(QKeySequence::Copy);
    menu.addSeparator();
    QAction* trash = menu.addAction(tr("出力をゴミ箱に移動(&T)"));
    for (QAction* action : {reveal, open})
        action->setEnabled(outputs.size() == 1);
    for (QAction* action : {copy, trash})
        action->setEnabled(!outputs.isEmpty());
    QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(at));
    if (chosen == reveal)
        Q_EMIT revealRequested(outputs.front());
    else if (chosen == open)
        Q_EMIT openRequested(outputs.front());
    else if (chosen == copy)
        copySelected();
    else if (chosen == trash)
        Q_EMIT trashRequested(written);
}

void JobListView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}
