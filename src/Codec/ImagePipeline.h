// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/ProcessingRecords.h"
#include "Settings/ResizeSettingsSnapshot.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// One source file in, one outcome out, in this process: the file checks, size
// limits, output type and name, and the temporary file a conversion writes
// before it takes the output's name, around FileConversion's codec work.
// Runs on worker threads and touches nothing but the file system and its own
// values.
namespace ImagePipeline {

// What the checks before decoding found: either the outcome already (a skip
// or a failure), or the file to resize and what that will cost.
struct CheckedFile {
    std::optional<ImageProcessingOutcome> outcome;
    std::filesystem::path working; // every link resolved
    std::int64_t sourceLongEdge = 0;
    std::int64_t targetLongEdge = 0;
    std::int64_t estimatedMemory = 0; // bytes at the peak of the resize
};

// The file, its header and the size limits; no pixel is decoded. Never throws.
CheckedFile check(const std::filesystem::path& sourceURL, const ResizeSettingsSnapshot& settings);

// Decodes, resizes and writes a file that passed check(). Never throws.
ImageProcessingOutcome resize(const CheckedFile& file, const ResizeSettingsSnapshot& settings);

// Both in one. Never throws: every problem ends as a skipped or failed
// outcome. The only file it ever removes is the output it claimed itself,
// after a failed write.
ImageProcessingOutcome process(const std::filesystem::path& sourceURL,
                               const ResizeSettingsSnapshot& settings);

// The temporary file's name beside the output: "." + UUID + ".tmp".
bool isTemporaryFileName(const std::string& name);

} // namespace ImagePipeline
