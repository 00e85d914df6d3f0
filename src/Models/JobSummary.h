// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/JobItem.h"

#include <QList>
#include <QString>

#include <optional>

// Texts built from jobs at run time; shown as they are, never translated.
namespace JobSummary {

// "完了 3 / スキップ 1 / 失敗 0 / 全 4"
QString summary(const QList<JobItem*>& jobs);
// The second line of a job: progress, sizes ("4032px → 1920px"), the output
// path, or the reason or message; nothing when there is nothing to say.
std::optional<QString> detailLine(const JobItem& job);

} // namespace JobSummary
