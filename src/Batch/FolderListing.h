// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

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

// In the given order, each folder replaced by the regular files below it:
// first its own files, then its subfolders walked in place, each in the
// natural order of names a file manager shows ("2.jpg" before "10.jpg",
// letter case aside). Names starting with "." are hidden and
// left out with everything under them; links inside folders are not
// followed; unreadable folders contribute nothing. Anything that is not a
// folder is kept as it is, so a missing file still becomes a job.
std::vector<std::filesystem::path> list(const std::vector<std::filesystem::path>& paths,
                                        const Options& options);

bool isDirectory(const std::filesystem::path& path);

// The natural order of two names, as file managers sort them: runs of digits
// by their value ("img2" before "img10"), other characters by their case-folded
// code, letter case aside. Negative, 0 or positive.
int compareNames(const QString& a, const QString& b);

} // namespace FolderListing
