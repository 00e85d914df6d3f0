// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/JobSummary.h"

#include "Models/ByteSizes.h"

#include <QCoreApplication>

#include <cmath>

JobCounts JobCounts::of(const QList<JobItem*>& jobs) {
    JobCounts counts;
    for (const JobItem* job : jobs) {
        counts.add(job->status().kind(), +1);
        const auto [source, output] = bytesOf(*job);
        counts.sourceBytes += source;
        counts.outputBytes += output;
    }
    return counts;
}

std::pair<std::int64_t, std::int64_t> JobCounts::bytesOf(const JobItem& job) {
    if (job.status().kind() != JobStatus::Kind::succeeded || !job.outputURL() ||
        !job.sourceBytes() || !job.outputBytes())
        return {0, 0};
    return {*job.sourceBytes(), *job.outputBytes()};
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

std::optional<QString> sizeChange(const JobItem& job) {
    const auto [source, output] = JobCounts::bytesOf(job);
    if (output == 0 && source == 0)
        return std::nullopt;
    return ByteSizes::text(source) + QStringLiteral(" → ") + ByteSizes::text(output);
}

QString saving(const JobCounts& counts) {
    if (counts.sourceBytes <= 0)
        return {};
    const double ratio = double(counts.outputBytes) / double(counts.sourceBytes);
    const QString sizes = ByteSizes::text(counts.sourceBytes) + QStringLiteral(" → ") +
                          ByteSizes::text(counts.outputBytes);
    if (ratio <= 1.0)
        return QCoreApplication::translate("JobSummary", "%1（%2% 削減）")
            .arg(sizes)
            .arg(std::lround((1.0 - ratio) * 100));
    return QCoreApplication::translate("JobSummary", "%1（%2% 増加）")
        .arg(sizes)
        .arg(std::lround((ratio - 1.0) * 100));
}

} // namespace JobSummary
