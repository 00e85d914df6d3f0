// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

// Every file this process has created for an output and not yet filled: the
// placeholders under final names and the hidden temporary files beside them.
// When the process has to end with files still in the pipeline, abandonAll()
// removes them all and refuses every later claim, so an abandoned file can
// leave neither an empty name nor a hidden temporary behind.
//
// Process-wide and safe on any thread: workers claim and fill, the main thread
// abandons. Each call holds one short lock around its file-system call, which
// is what makes "create" and "abandon" exclude each other.
namespace OutputClaims {

// open(path, flags | O_CREAT | O_EXCL, mode), remembered when it succeeds.
// -1 with errno as open(2) sets it, or ECANCELED once abandoned.
int createExclusive(const std::filesystem::path& path, int flags, int mode);

// Gives the unnamed file open as `fd` (O_TMPFILE) the name `path`, which must
// not exist; remembered like a created file. -1 with errno as linkat(2) sets
// it, or ECANCELED once abandoned.
int linkExclusive(int fd, const std::filesystem::path& path);

// A fresh hidden name for a temporary file in `folder`: "." + UUID + ".tmp".
std::filesystem::path temporaryNameIn(const std::filesystem::path& folder);
bool isTemporaryFileName(const std::string& name);

// Moves a claimed temporary file over a claimed name, which is then filled;
// both are forgotten. -1 with errno as rename(2) sets it, or ECANCELED once
// abandoned (the files are then already gone).
int moveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a claimed file that is not to be filled after all. Files this
// process did not claim are left alone.
void remove(const std::filesystem::path& path);

// Removes every claimed file; from now on nothing can be claimed. Returns how
// many were removed. Called once, when the process is ending.
int abandonAll();

} // namespace OutputClaims
