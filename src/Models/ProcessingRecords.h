// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/JobStatus.h"

#include <QUuid>

#include <cstdint>
#include <filesystem>
#include <optional>

// Plain values that cross between the main thread and the workers; workers
// never see a JobItem.
struct ImageProcessingRequest {
    QUuid id;
    std::filesystem::path sourceURL;
};

struct ImageProcessingOutcome {
    std::optional<std::int64_t> sourcePixelLongEdge;
    std::optional<std::int64_t> outputPixelLongEdge;
    std::optional<std::filesystem::path> outputURL;
    JobStatus status = JobStatus::failed({});
    // Of a written output, and of its source as it was read.
    std::optional<std::int64_t> sourceBytes;
    std::optional<std::int64_t> outputBytes;
};

struct ImageProcessingResult {
    QUuid id;
    ImageProcessingOutcome outcome;
};
