// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/JobStatus.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

class ImageProcessor;
class JobItem;

// The processor's job list as rows for a list view: one row per job, in the
// processor's order, each row following its own job. Only the changed row is
// redrawn when a job changes, and the outcome counts are kept up to date as
// statuses change instead of being recounted over the whole list.
class JobListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        StatusKindRole = Qt::UserRole + 1, // JobStatus::Kind as int
        DetailLineRole,                    // QString; null when the row has no second line
        OutputPathRole,                    // QString; null unless the output can be revealed
    };

    struct Counts {
        qsizetype succeeded = 0;
        qsizetype skipped = 0;
        qsizetype failed = 0;
        qsizetype running = 0;
        qsizetype all = 0;
        bool operator==(const Counts&) const = default;
    };

    explicit JobListModel(QObject* parent = nullptr);

    // Mirrors the processor's list from now on.
    void follow(const ImageProcessor& processor);
    // Brings the rows in line with `jobs`. Jobs that are gone leave as removed
    // rows and new jobs at the end arrive as inserted rows, so the view keeps
    // its place; any other change resets the model. A job must leave the
    // rows before it is deleted (the processor deletes removed jobs later).
    void setJobs(const QList<JobItem*>& jobs);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    JobItem* job(const QModelIndex& index) const;
    JobItem* job(int row) const;
    QModelIndex indexOf(const JobItem* job) const;

    Counts counts() const { return m_counts; }
    // "完了 3 / スキップ 1 / 失敗 0 / 全 6"; shown as it is, never translated.
    static QString summary(const Counts& counts);

Q_SIGNALS:
    void countsChanged();

private:
    struct Entry {
        JobItem* job;
        JobStatus::Kind kind;
    };

    void watch(JobItem* job);
    void unwatch(JobItem* job);
    void jobChanged(JobItem* job);
    void add(const Entry& entry, int sign);
    void rebuildRowIndex();

    QList<Entry> m_entries;
    QHash<const JobItem*, int> m_rows;
    Counts m_counts;
};
