// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Batch/ImageProcessor.h"
#include "Models/JobStatus.h"
#include "Models/JobSummary.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QMimeData>

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
        SizeChangeRole, // QString, "3.4 MB → 312 KB"; null without a written output
    };

    explicit JobListModel(const ImageProcessor& processor, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    // Qt::AccessibleTextRole: the file, its state and its second line, as a
    // screen reader says the row ("IMG_0001.jpg, done, 4032px → 1280px").
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Rows with a written output can be dragged out as that file.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    // The written outputs among `indexes` as text/uri-list, in row order;
    // null when there are none. Drags and copies carry the same.
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    // The job a row shows (the owner acts on it through the processor).
    JobItem* job(const QModelIndex& index) const;

    const JobCounts& counts() const { return m_counts; }
    // Jobs that have gone from waiting or running to an outcome, ever; a
    // run's progress is counted from it.
    qint64 finishedCount() const { return m_finished; }

Q_SIGNALS:
    void countsChanged();

private:
    struct Entry {
        JobItem* job;
        JobStatus::Kind kind;
        std::pair<std::int64_t, std::int64_t> bytes; // as counted: source, output
    };
    void countIn(Entry& entry, int sign);

    void append(qsizetype first, qsizetype count);
    void remove(const ImageProcessor::RowRanges& rows);
    void reset();
    void watch(Entry& entry);
    void jobChanged(JobItem* job);
    void rebuildRowIndex();

    const ImageProcessor& m_processor;
    QList<Entry> m_entries;
    QHash<const JobItem*, int> m_rows;
    JobCounts m_counts;
    qint64 m_finished = 0;
};
