// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/ProcessingRecords.h"
#include "Settings/ResizeSettingsSnapshot.h"

#include <filesystem>

// One source file in, one outcome out: file checks, size limits, downscale,
// output type and name, encoding. Runs on worker threads and touches nothing
// but the file system and its own values.
namespace ImagePipeline {

// Never throws: every problem ends as a skipped or failed outcome. The only
// file it ever removes is the output it claimed itself, after a failed write.
ImageProcessingOutcome process(const std::filesystem::path& sourceURL,
                               const ResizeSettingsSnapshot& settings);

} // namespace ImagePipeline
