// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary bytes go through the codec's entry points as a
// worker runs them, on a memory file as the source and another as the
// output. The first byte picks whether metadata are kept and the last the
// output type and the target size: a share of the source's long edge, so
// that JPEGs also take the scaled decode. Besides crashes, leaks and hangs it
// stops on anything thrown that is not a LocalizedError with a reason, a
// source that changed, and an output that does not read back at the size
// reported.
#include "Codec/FileConversion.h"
#include "Codec/ImageIOResizer.h"
#include "Codec/ResizeBudget.h"
#include "Models/Errors.h"
#include "Runtime/FileDescriptor.h"
#include "Runtime/VipsRuntime.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr std::array<OutputType, 6> types{OutputType::jpeg, OutputType::png,  OutputType::heic,
                                          OutputType::tiff, OutputType::webp, OutputType::avif};
// Small outputs keep the encoders quick.
constexpr std::int64_t largestTarget = 48;

[[noreturn]] void violated(const char* what) {
    std::fprintf(stderr, "codec property violated: %s\n", what);
    std::abort();
}

FileDescriptor memoryFile(const char* name) {
    FileDescriptor fd(::memfd_create(name, MFD_CLOEXEC));
    if (!fd.isValid())
        violated("no memory file");
    return fd;
}

std::string contents(int fd) {
    std::string bytes;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, size_t(n));
        at += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    VipsRuntime::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const FileDescriptor source = memoryFile("source");
    if (!bytes.empty() && ::write(source.get(), bytes.data(), bytes.size()) != ssize_t(size))
        violated("source not written");
    const FileDescriptor output = memoryFile("output");
    const unsigned last = size ? data[size - 1] : 0;

    try {
        const FileConversion::SourceInfo info = FileConversion::inspect(source.get());
        if (!ResizeBudget::withinSizeLimits(info.width, info.height))
            return 0;
        const std::int64_t longEdge = std::max(info.width, info.height);
        // From an eighth to one and a half of the long edge.
        const std::int64_t share = 1 + (last >> 2) % 12;
        const std::int64_t target =
            std::clamp<std::int64_t>(longEdge * share / 8, 1, largestTarget);
        (void)ResizeBudget::estimatedMemory(info, target);

        FileConversion::Settings settings;
        settings.targetLongEdge = target;
        settings.type = types[last % types.size()];
        settings.quality = double(last) / 255.0;
        settings.preserveExif = size && (data[0] & 1);
        const std::int64_t written = FileConversion::convert(source.get(), output.get(), settings);
        if (written != target)
            violated("output long edge is not the target");
        // What was written must read back as an image of the reported size.
        try {
            const FileConversion::SourceInfo back = FileConversion::inspect(output.get());
            if (std::max(back.width, back.height) != written)
                violated("output differs from the reported size");
        } catch (const ResizeError&) {
            violated("output does not read back");
        }
    } catch (const LocalizedError& error) {
        if (error.errorDescription().isEmpty())
            violated("failed without a reason");
    }
    if (contents(source.get()) != bytes)
        violated("source changed");
    return 0;
}
