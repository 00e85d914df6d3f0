// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

// Turns dropped paths into the files below them. Plain values only, so it
// runs on a worker as well as on the main thread.
namespace FolderListing {

struct Options {
    // Subfolders of this name are left out at every depth: they hold the
    // outputs of earlier batches. A dropped folder of this name is still listed.
    std::string skippedFolderName;
    // Which files count; all when empty.
    std::function<bool(const std::filesystem::path&)> keeps;
    // The walk ends once this many files are kept.
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    // Polled between entries; the walk ends when it turns true.
    const std::atomic<bool>* cancelled = nullptr;
};

// In the given order, each folder replaced by the regular files below it
// (depth first, in directory order). Names starting with "." are hidden and
// left out with everything under them; links inside folders are not
// followed; unreadable folders contribute nothing. Anything that is not a
// folder is kept as it is, so a missing file still becomes a job.
std::vector<std::filesystem::path> list(const std::vector<std::filesystem::path>& paths,
                                        const Options& options);

bool isDirectory(const std::filesystem::path& path);

} // namespace FolderListing
