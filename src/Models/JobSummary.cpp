// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/JobSummary.h"

namespace JobSummary {

QString summary(const QList<JobItem*>& jobs) {
    qsizetype succeeded = 0, skipped = 0, failed = 0;
    for (const JobItem* job : jobs) {
        switch (job->status().kind()) {
        case JobStatus::Kind::succeeded:
            ++succeeded;
            break;
        case JobStatus::Kind::skipped:
            ++skipped;
            break;
        case JobStatus::Kind::failed:
            ++failed;
            break;
        default:
            break;
        }
    }
    return QStringLiteral("完了 ") + QString::number(succeeded) + QStringLiteral(" / スキップ ") +
           QString::number(skipped) + QStringLiteral(" / 失敗 ") + QString::number(failed) +
           QStringLiteral(" / 全 ") + QString::number(jobs.size());
}

std::optional<QString> detailLine(const JobItem& job) {
    switch (job.status().kind()) {
    case JobStatus::Kind::pending:
        return QStringLiteral("待機中");
    case JobStatus::Kind::running:
        return QStringLiteral("処理中…");
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
