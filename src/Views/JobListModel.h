// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Batch/ImageProcessor.h"
#include "Models/JobStatus.h"
#include "Models/JobSummary.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

class JobItem;

// The processor's job list as rows for a list view: one row per job, in the
// processor's order, each row following its own job. Rows come and go with the
// processor's appends and removals, only the changed row is redrawn when a job
// changes, and the outcome counts are kept up to date as statuses change
// instead of being recounted over the whole list.
class JobListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        StatusKindRole = Qt::UserRole + 1, // JobStatus::Kind as int
        DetailLineRole,                    // QString; null when the row has no second line
        OutputPathRole, // QByteArray, the path's bytes; null unless the output can be revealed
    };

    explicit JobListModel(const ImageProcessor& processor, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const JobCounts& counts() const { return m_counts; }

Q_SIGNALS:
    void countsChanged();

private:
    struct Entry {
        JobItem* job;
        JobStatus::Kind kind;
    };

    void append(qsizetype first, qsizetype count);
    void remove(const ImageProcessor::RowRanges& rows);
    void reset();
    void watch(const Entry& entry);
    void jobChanged(JobItem* job);
    void rebuildRowIndex();

    const ImageProcessor& m_processor;
    QList<Entry> m_entries;
    QHash<const JobItem*, int> m_rows;
    JobCounts m_counts;
};
