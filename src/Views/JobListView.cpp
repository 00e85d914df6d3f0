// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/JobListView.h"

#include "Models/JobStatus.h"
#include "Views/JobListModel.h"
#include "Views/JobRow.h"
#include "Views/Style.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

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
    m_clearCompleted = smallBorderlessButton(this, "clearCompleted");
    m_clearAll = smallBorderlessButton(this, "clearAll");
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_summary);
    header->addWidget(m_clearCompleted);
    header->addWidget(m_clearAll);
    layout->addLayout(header);
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
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
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
    connect(m_jobs, &QAbstractItemModel::rowsInserted, this, &JobListView::refresh);
    connect(m_jobs, &QAbstractItemModel::rowsRemoved, this, &JobListView::refresh);

    retranslate();
}

void JobListView::setIsProcessing(bool isProcessing) {
    if (m_isProcessing == isProcessing)
        return;
    m_isProcessing = isProcessing;
    refresh();
}

void JobListView::refresh() {
    const JobCounts& counts = m_jobs->counts();
    const bool empty = counts.all == 0;
    m_summary->setVisible(!empty);
    m_clearCompleted->setVisible(!empty);
    m_clearAll->setVisible(!empty);
    m_summary->setText(JobSummary::summary(counts));
    m_clearAll->setEnabled(!m_isProcessing);
    m_clearAll->setToolTip(m_isProcessing ? tr("処理中は実行中の項目を保持します")
                                          : tr("すべての項目を消去"));
    m_body->setCurrentWidget(empty ? static_cast<QWidget*>(m_empty) : m_list);

    if (counts[JobStatus::Kind::running] > 0 && !m_spinnerTimer->isActive())
        m_spinnerTimer->start();
    else if (counts[JobStatus::Kind::running] == 0)
        m_spinnerTimer->stop();
}

void JobListView::retranslate() {
    m_title->setText(tr("処理結果"));
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
    return QWidget::eventFilter(watched, event);
}

void JobListView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}
