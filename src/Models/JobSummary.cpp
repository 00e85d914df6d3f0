// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/JobSummary.h"

#include <QCoreApplication>

JobCounts JobCounts::of(const QList<JobItem*>& jobs) {
    JobCounts counts;
    for (const JobItem* job : jobs)
        counts.add(job->status().kind(), +1);
    return counts;
}

namespace JobSummary {

QString summary(const JobCounts& counts) {
    return QCoreApplication::translate("JobSummary", "完了 %1 / スキップ %2 / 失敗 %3 / 全 %4")
        .arg(counts[JobStatus::Kind::succeeded])
        .arg(counts[JobStatus::Kind::skipped])
        .arg(counts[JobStatus::Kind::failed])
        .arg(counts.all);
}

std::optional<QString> detailLine(const JobItem& job) {
    switch (job.status().kind()) {
    case JobStatus::Kind::pending:
        return QCoreApplication::translate("JobSummary", "待機中");
    case JobStatus::Kind::running:
        return QCoreApplication::translate("JobSummary", "処理中…");
    case JobStatus::Kind::succeeded:
        if (job.sourcePixelLongEdge() && job.outputPixelLongEdge())
            return QString::number(*job.sourcePixelLongEdge()) + QStringLiteral("px → ") +
                   QString::number(*job.outputPixelLongEdge()) + QStringLiteral("px");
        if (job.outputURL())
            return QString::fromStdString(job.outputURL()->native());
        return std::nullopt;
    case JobStatus::Kind::skipped:
    case JobStatus::Kind::failed:
        return job.status().text();
    }
    Q_UNREACHABLE();
}

} // namespace JobSummary
