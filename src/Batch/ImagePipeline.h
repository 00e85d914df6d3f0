// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/FileConversion.h"
#include "Models/ProcessingRecords.h"
#include "Runtime/FileDescriptor.h"
#include "Settings/ResizeSettingsSnapshot.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>

// One source file in, one outcome out, in stages. The stages that deal with
// names (links, the file checks, opening the source, the output's name and
// its temporary file, the final rename) run in this process; the codec work
// between them (FileConversion) runs in a worker process, on the descriptors
// opened here. Every stage is safe on any thread and never throws unless it
// says so.
namespace ImagePipeline {

// The source after the checks on its name: links resolved, a regular file the
// user may read, open for reading. `outcome` is set when the file ends here.
struct OpenedSource {
    std::optional<ImageProcessingOutcome> outcome;
    std::filesystem::path working; // every link resolved
    FileDescriptor descriptor;
    unsigned permissions = 0644; // of the source: its output gets no more
    std::int64_t bytes = 0;
};
OpenedSource open(const std::filesystem::path& sourceURL);

// The size limits and the target, from the header the codec read.
struct CheckedFile {
    std::optional<ImageProcessingOutcome> outcome; // a skip
    std::int64_t sourceLongEdge = 0;
    std::int64_t sourcePixels = 0;
    std::int64_t estimatedMemory = 0; // bytes at the peak of the resize
    FileConversion::Settings conversion;
};
CheckedFile check(const std::filesystem::path& working, const FileConversion::SourceInfo& source,
                  const ResizeSettingsSnapshot& settings);

// The output's name, claimed with an empty placeholder beside the source, and
// the file the codec writes into: unnamed (O_TMPFILE) where the folder allows
// it, so that nothing is left behind whatever happens to the writer, else a
// hidden temporary name. It gets the source's read and write permission bits,
// as cp gives them, so that a private photo does not get a public copy.
// Throws OutputPathError or SystemError.
struct ClaimedOutput {
    std::filesystem::path path;
    FileDescriptor file;
    std::filesystem::path temporary; // only where no unnamed file could be made
};
ClaimedOutput claimOutput(const OpenedSource& source, const ResizeSettingsSnapshot& settings);
// The written file takes the placeholder's name; returns its size in bytes.
// Throws SystemError; the output is then discarded.
std::int64_t place(ClaimedOutput& output);
// Removes the placeholder and any temporary file.
void discard(ClaimedOutput& output);

ImageProcessingOutcome failed(const QString& message,
                              std::optional<std::int64_t> sourceLongEdge = std::nullopt);
// A file the user's Stop left unstarted.
ImageProcessingOutcome stopped();
// The skip of an output that fits no size up to `limit` bytes.
ImageProcessingOutcome doesNotFit(std::int64_t limit,
                                  std::optional<std::int64_t> sourceLongEdge = std::nullopt);
// The text a failed outcome carries for this exception.
QString messageOf(const std::exception& error);

// Every stage in this process, one after the other: for tests, the fuzzer and
// the benchmark. The batch runs the codec in worker processes instead.
ImageProcessingOutcome process(const std::filesystem::path& sourceURL,
                               const ResizeSettingsSnapshot& settings);

} // namespace ImagePipeline
