// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary bytes, saved under one of the accepted
// extensions, go through the whole per-file pipeline. Besides crashes, leaks
// and hangs it stops on any input after which the source changed, a hidden
// temporary file remains, or the output folder holds something other than
// the one complete image the pipeline reported.
#include "Models/Errors.h"
#include "Codec/ImageEncoder.h"
#include "Codec/ImageIOResizer.h"
#include "Batch/ImagePipeline.h"
#include "Batch/ImageProcessor.h"
#include "Runtime/VipsRuntime.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The last byte picks the name, so the image's own bytes stay untouched.
constexpr std::array<const char*, 10> extensions{"jpg",  "jpeg", "jpe",  "png", "heic",
                                                 "heif", "tif",  "tiff", "gif", "webp"};

fs::path workFolder;

[[noreturn]] void violated(const char* what, const fs::path& path) {
    std::fprintf(stderr, "pipeline property violated: %s: %s\n", what, path.c_str());
    std::abort();
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void removeFolder() {
    std::error_code ignored;
    fs::remove_all(workFolder, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    VipsRuntime::initialize();
    std::string pattern = (fs::temp_directory_path() / "burisora-fuzz.XXXXXX").native();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    workFolder = pattern;
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const char* extension = extensions[size ? data[size - 1] % extensions.size() : 0];
    const fs::path source = workFolder / (std::string("input.") + extension);
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }

    ResizeSettingsSnapshot settings;
    settings.longEdgePx = 48; // small outputs keep the encoders quick
    settings.preserveExif = size && (data[0] & 1);
    const ImageProcessingOutcome outcome = ImagePipeline::process(source, settings);

    if (readAll(source) != bytes)
        violated("source changed", source);
    const fs::path outputFolder = workFolder / "Resized";
    std::vector<fs::path> outputs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(outputFolder, error)) {
        if (OutputClaims::isTemporaryFileName(entry.path().filename().native()))
            violated("temporary file left", entry.path());
        outputs.push_back(entry.path());
    }
    if (outcome.status.kind() == JobStatus::Kind::succeeded) {
        if (!outcome.outputURL || outputs.size() != 1 || outputs.front() != *outcome.outputURL)
            violated("success without exactly its output", outputFolder);
        // What was written must read back as an image of the reported size.
        try {
            const PixelDimensions written = ImageIOResizer::readPixelDimensions(*outcome.outputURL);
            if (std::max(written.width, written.height) != outcome.outputPixelLongEdge)
                violated("output differs from the reported size", *outcome.outputURL);
        } catch (const ResizeError&) {
            violated("output does not read back", *outcome.outputURL);
        }
    } else if (!outputs.empty() || outcome.outputURL) {
        violated("output left by a job that did not succeed", outputFolder);
    } else if (outcome.status.text().isEmpty()) {
        violated("job ended without a reason", source);
    }

    fs::remove_all(outputFolder, error);
    fs::remove(source, error);
    return 0;
}
