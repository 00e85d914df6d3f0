// SPDX-License-Identifier: GPL-3.0-or-later
// The whole pipeline in the calling process, for the tests, the fuzzer and
// the benchmark. Apart from the stages the batch uses, so that the window and
// burisora-cli, which hand the codec work to worker processes, link none of
// the codec's libraries.
#include "Batch/ImagePipeline.h"

#include "Models/Errors.h"

namespace ImagePipeline {

ImageProcessingOutcome process(const std::filesystem::path& sourceURL,
                               const ResizeSettingsSnapshot& settings) {
    OpenedSource source = open(sourceURL);
    if (source.outcome)
        return *source.outcome;
    std::optional<std::int64_t> sourceLongEdge;
    try {
        const CheckedFile file =
            check(source.working, FileConversion::inspect(source.descriptor.get()), settings);
        sourceLongEdge = file.sourceLongEdge;
        if (file.outcome)
            return *file.outcome;
        ClaimedOutput output = claimOutput(source, settings);
        const std::filesystem::path path = output.path;
        std::int64_t outputLongEdge = 0;
        try {
            outputLongEdge = FileConversion::convert(source.descriptor.get(), output.file.get(),
                                                     file.conversion);
        } catch (...) {
            discard(output);
            throw;
        }
        const std::int64_t outputBytes = place(output);
        return {sourceLongEdge,         outputLongEdge, path,
                JobStatus::succeeded(), source.bytes,   outputBytes};
    } catch (const SizeLimitError& error) {
        return doesNotFit(error.limit(), sourceLongEdge);
    } catch (const std::exception& error) {
        return failed(messageOf(error), sourceLongEdge);
    } catch (...) {
        return failed(unexpectedErrorDescription(), sourceLongEdge);
    }
}

} // namespace ImagePipeline
