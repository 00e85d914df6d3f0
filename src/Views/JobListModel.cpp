// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/JobListModel.h"

#include "Models/FileURLs.h"
#include "Models/JobItem.h"

#include <algorithm>

namespace {

// Row by row, many scattered removals cost more than one reset.
constexpr qsizetype maximumRemovalRuns = 64;

bool canReveal(const JobItem& job) {
    return job.status().kind() == JobStatus::Kind::succeeded && job.outputURL().has_value();
}

QString stateName(JobStatus::Kind kind) {
    switch (kind) {
    case JobStatus::Kind::pending:
        return JobListModel::tr("未処理");
    case JobStatus::Kind::running:
        return JobListModel::tr("処理中");
    case JobStatus::Kind::succeeded:
        return JobListModel::tr("完了");
    case JobStatus::Kind::skipped:
        return JobListModel::tr("スキップ");
    case JobStatus::Kind::failed:
        return JobListModel::tr("失敗");
    }
    return {};
}

QString accessibleText(const JobItem& job) {
    QStringList parts{FileURLs::displayName(job.sourceURL()), stateName(job.status().kind())};
    // The second line of a waiting or running job only repeats its state.
    if (job.status().isCompleted()) {
        if (const std::optional<QString> detail = JobSummary::detailLine(job))
            parts << *detail;
    }
    return parts.join(JobListModel::tr("、"));
}

} // namespace

JobListModel::JobListModel(const ImageProcessor& processor, QObject* parent)
    : QAbstractListModel(parent), m_processor(processor) {
    connect(&processor, &ImageProcessor::jobsAppended, this, &JobListModel::append);
    connect(&processor, &ImageProcessor::jobsRemoved, this, &JobListModel::remove);
    reset();
}

void JobListModel::append(qsizetype first, qsizetype count) {
    const QList<JobItem*>& jobs = m_processor.jobs();
    beginInsertRows({}, int(first), int(first + count - 1));
    for (qsizetype i = first; i < first + count; ++i) {
        m_rows.insert(jobs[i], int(m_entries.size()));
        m_entries.append({jobs[i], jobs[i]->status().kind(), {}});
        watch(m_entries.back());
    }
    endInsertRows();
    Q_EMIT countsChanged();
}

void JobListModel::remove(const ImageProcessor::RowRanges& rows) {
    if (rows.size() > maximumRemovalRuns) {
        reset();
        return;
    }
    for (auto run = rows.crbegin(); run != rows.crend(); ++run) {
        const auto [first, count] = *run;
        beginRemoveRows({}, int(first), int(first + count - 1));
        for (qsizetype i = first; i < first + count; ++i) {
            countIn(m_entries[i], -1);
            disconnect(m_entries[i].job, nullptr, this, nullptr);
        }
        m_entries.remove(first, count);
        endRemoveRows();
    }
    rebuildRowIndex();
    Q_EMIT countsChanged();
}

void JobListModel::reset() {
    beginResetModel();
    for (const Entry& entry : std::as_const(m_entries))
        disconnect(entry.job, nullptr, this, nullptr);
    m_entries.clear();
    m_counts = {};
    for (JobItem* job : m_processor.jobs()) {
        m_entries.append({job, job->status().kind(), {}});
        watch(m_entries.back());
    }
    rebuildRowIndex();
    endResetModel();
    Q_EMIT countsChanged();
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const JobItem& job = *m_entries[index.row()].job;
    switch (role) {
    case Qt::DisplayRole:
        return FileURLs::displayName(job.sourceURL());
    case StatusKindRole:
        return int(job.status().kind());
    case DetailLineRole:
        return JobSummary::detailLine(job).value_or(QString());
    case Qt::AccessibleTextRole:
        return accessibleText(job);
    case SizeChangeRole:
        return JobSummary::sizeChange(job).value_or(QString());
    case OutputPathRole:
        if (canReveal(job))
            return QByteArray::fromStdString(job.outputURL()->native());
        return {};
    default:
        return {};
    }
}

void JobListModel::countIn(Entry& entry, int sign) {
    m_counts.add(entry.kind, sign);
    if (sign > 0)
        entry.bytes = JobCounts::bytesOf(*entry.job);
    m_counts.sourceBytes += sign * entry.bytes.first;
    m_counts.outputBytes += sign * entry.bytes.second;
}

void JobListModel::watch(Entry& entry) {
    countIn(entry, +1);
    JobItem* job = entry.job;
    auto changed = [this, job] { jobChanged(job); };
    connect(job, &JobItem::statusChanged, this, changed);
    connect(job, &JobItem::outputURLChanged, this, changed);
    connect(job, &JobItem::sourcePixelLongEdgeChanged, this, changed);
    connect(job, &JobItem::outputPixelLongEdgeChanged, this, changed);
}

void JobListModel::jobChanged(JobItem* job) {
    const auto it = m_rows.constFind(job);
    if (it == m_rows.constEnd())
        return;
    const int row = *it;
    Entry& entry = m_entries[row];
    const JobStatus::Kind kind = job->status().kind();
    const bool countsMove = kind != entry.kind || JobCounts::bytesOf(*job) != entry.bytes;
    if (countsMove) {
        if (job->status().isCompleted() &&
            (entry.kind == JobStatus::Kind::pending || entry.kind == JobStatus::Kind::running))
            ++m_finished;
        countIn(entry, -1);
        entry.kind = kind;
        countIn(entry, +1);
    }
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed);
    if (countsMove)
        Q_EMIT countsChanged();
}

void JobListModel::rebuildRowIndex() {
    m_rows.clear();
    m_rows.reserve(m_entries.size());
    for (int i = 0; i < m_entries.size(); ++i)
        m_rows.insert(m_entries[i].job, i);
}

JobItem* JobListModel::job(const QModelIndex& index) const {
    // Views ask flags() of the invalid root too: no job, and nothing to warn about.
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::ParentIsInvalid))
        return nullptr;
    return m_entries[index.row()].job;
}

Qt::ItemFlags JobListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractListModel::flags(index);
    if (const JobItem* item = job(index); item && canReveal(*item))
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QStringList JobListModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* JobListModel::mimeData(const QModelIndexList& indexes) const {
    QModelIndexList rows = indexes;
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<QUrl> outputs;
    for (const QModelIndex& index : std::as_const(rows)) {
        if (const JobItem* item = job(index); item && canReveal(*item))
            outputs << FileURLs::fileURL(*item->outputURL());
    }
    if (outputs.isEmpty())
        return nullptr;
    auto* data = new QMimeData; // the caller takes it
    data->setUrls(outputs);
    return data;
}
