// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/JobListModel.h"

#include "Models/JobItem.h"
#include "Services/FileURLs.h"
#include "Services/ImageProcessor.h"
#include "Views/JobRow.h"

JobListModel::JobListModel(QObject* parent) : QAbstractListModel(parent) {}

void JobListModel::follow(const ImageProcessor& processor) {
    // jobsChanged comes with every append and removal, so it alone suffices.
    connect(&processor, &ImageProcessor::jobsChanged, this,
            [this, &processor] { setJobs(processor.jobs()); });
    setJobs(processor.jobs());
}

void JobListModel::setJobs(const QList<JobItem*>& jobs) {
    const Counts before = m_counts;

    // The processor only removes jobs and appends new ones, so the old rows
    // that survive are a prefix of `jobs` in the same order.
    QList<bool> keep(m_entries.size(), false);
    qsizetype matched = 0;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (matched < jobs.size() && m_entries[i].job == jobs[matched]) {
            keep[i] = true;
            ++matched;
        }
    }
    bool consistent = true;
    for (qsizetype j = matched; j < jobs.size() && consistent; ++j)
        consistent = !m_rows.contains(jobs[j]);

    QList<std::pair<int, int>> runs; // removed row ranges, first to last
    for (int i = 0; i < m_entries.size(); ++i) {
        if (keep[i])
            continue;
        if (!runs.isEmpty() && runs.back().second == i - 1)
            runs.back().second = i;
        else
            runs.append({i, i});
    }

    // Many scattered removals are cheaper as one reset than row by row.
    if (!consistent || runs.size() > 64) {
        beginResetModel();
        for (const Entry& e : std::as_const(m_entries))
            unwatch(e.job);
        m_entries.clear();
        m_counts = {};
        for (JobItem* job : jobs) {
            const Entry e{job, job->status().kind()};
            m_entries.append(e);
            add(e, +1);
            watch(job);
        }
        rebuildRowIndex();
        endResetModel();
    } else {
        for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
            beginRemoveRows({}, run->first, run->second);
            for (int i = run->first; i <= run->second; ++i) {
                add(m_entries[i], -1);
                unwatch(m_entries[i].job);
            }
            m_entries.remove(run->first, run->second - run->first + 1);
            endRemoveRows();
        }
        if (!runs.isEmpty())
            rebuildRowIndex();
        if (matched < jobs.size()) {
            const int first = int(m_entries.size());
            beginInsertRows({}, first, int(first + jobs.size() - matched - 1));
            for (qsizetype j = matched; j < jobs.size(); ++j) {
                const Entry e{jobs[j], jobs[j]->status().kind()};
                m_rows.insert(e.job, int(m_entries.size()));
                m_entries.append(e);
                add(e, +1);
                watch(e.job);
            }
            endInsertRows();
        }
    }
    if (m_counts != before)
        Q_EMIT countsChanged();
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    const JobItem* item = job(index);
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return JobRow::fileName(*item);
    case StatusKindRole:
        return int(item->status().kind());
    case DetailLineRole:
        return JobRow::detailLine(*item).value_or(QString());
    case OutputPathRole:
        if (JobRow::canReveal(*item))
            return FileURLs::displayPath(*item->outputURL());
        return QString();
    default:
        return {};
    }
}

JobItem* JobListModel::job(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return job(index.row());
}

JobItem* JobListModel::job(int row) const {
    return row >= 0 && row < m_entries.size() ? m_entries[row].job : nullptr;
}

QModelIndex JobListModel::indexOf(const JobItem* item) const {
    const auto it = m_rows.constFind(item);
    return it == m_rows.constEnd() ? QModelIndex() : index(*it);
}

QString JobListModel::summary(const Counts& counts) {
    return QStringLiteral("完了 %1 / スキップ %2 / 失敗 %3 / 全 %4")
        .arg(counts.succeeded)
        .arg(counts.skipped)
        .arg(counts.failed)
        .arg(counts.all);
}

void JobListModel::watch(JobItem* item) {
    auto changed = [this, item] { jobChanged(item); };
    connect(item, &JobItem::statusChanged, this, changed);
    connect(item, &JobItem::outputURLChanged, this, changed);
    connect(item, &JobItem::sourcePixelLongEdgeChanged, this, changed);
    connect(item, &JobItem::outputPixelLongEdgeChanged, this, changed);
}

void JobListModel::unwatch(JobItem* item) {
    disconnect(item, nullptr, this, nullptr);
}

void JobListModel::jobChanged(JobItem* item) {
    const auto it = m_rows.constFind(item);
    if (it == m_rows.constEnd())
        return;
    const int row = *it;
    Entry& entry = m_entries[row];
    const JobStatus::Kind kind = item->status().kind();
    const bool countsMove = kind != entry.kind;
    if (countsMove) {
        add(entry, -1);
        entry.kind = kind;
        add(entry, +1);
    }
    const QModelIndex i = index(row);
    Q_EMIT dataChanged(i, i);
    if (countsMove)
        Q_EMIT countsChanged();
}

void JobListModel::add(const Entry& entry, int sign) {
    m_counts.all += sign;
    switch (entry.kind) {
    case JobStatus::Kind::pending:
        break;
    case JobStatus::Kind::running:
        m_counts.running += sign;
        break;
    case JobStatus::Kind::succeeded:
        m_counts.succeeded += sign;
        break;
    case JobStatus::Kind::skipped:
        m_counts.skipped += sign;
        break;
    case JobStatus::Kind::failed:
        m_counts.failed += sign;
        break;
    }
}

void JobListModel::rebuildRowIndex() {
    m_rows.clear();
    m_rows.reserve(m_entries.size());
    for (int i = 0; i < m_entries.size(); ++i)
        m_rows.insert(m_entries[i].job, i);
}
