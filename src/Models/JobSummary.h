// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/JobItem.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

// How many jobs stand where.
struct JobCounts {
    qsizetype all = 0;
    std::array<qsizetype, 5> byKind{}; // indexed by JobStatus::Kind

    qsizetype operator[](JobStatus::Kind kind) const { return byKind[size_t(kind)]; }
    // Counts one job of this kind in (+1) or out (-1).
    void add(JobStatus::Kind kind, int sign) {
        all += sign;
        byKind[size_t(kind)] += sign;
    }
    // The bytes of the written outputs and of their sources.
    std::int64_t sourceBytes = 0;
    std::int64_t outputBytes = 0;
    // The sizes a job counts with: its source's and output's while it has an
    // output whose size is known, else none.
    static std::pair<std::int64_t, std::int64_t> bytesOf(const JobItem& job);
    static JobCounts of(const QList<JobItem*>& jobs);
    bool operator==(const JobCounts&) const = default;
};

// Texts built from jobs at run time, in the language of the installed tables
// (the Japanese keys when there are none).
namespace JobSummary {

// "完了 3 / スキップ 1 / 失敗 0 / 全 4"
QString summary(const JobCounts& counts);
// The second line of a job: progress, sizes ("4032px → 1920px"), the output
// path, or the reason or message; nothing when there is nothing to say.
std::optional<QString> detailLine(const JobItem& job);
// "3.4 MB → 312 KB" for a job with a written output; nothing otherwise.
std::optional<QString> sizeChange(const JobItem& job);
// All outputs against their sources: "12 MB → 1.4 MB（88% 削減）"; empty
// while no output is written.
QString saving(const JobCounts& counts);

} // namespace JobSummary
