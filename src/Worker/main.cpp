// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-worker: decodes, resizes and encodes one file at a time for the
// window and burisora-cli, which start it. It reads the source and writes the
// output through descriptors handed over its socket and opens nothing itself:
// once its libraries are set up it confines itself, so that a hostile image
// can at worst end this process and the one job in it.
#include "Codec/FileConversion.h"
#include "Runtime/VipsRuntime.h"
#include "Worker/Sandbox.h"
#include "Worker/WorkerProtocol.h"

#include <malloc.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr int socket = 3;

// AddressSanitizer maps terabytes of shadow memory as writable data, which
// any cap on the data segment refuses.
#ifdef BURISORA_SANITIZED
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

WorkerProtocol::Reply handle(const WorkerProtocol::Request& request,
                             const std::vector<FileDescriptor>& descriptors) {
    WorkerProtocol::Reply reply;
    try {
        switch (request.kind) {
        case WorkerProtocol::RequestKind::inspect:
            if (descriptors.size() != 1)
                break;
            reply.source = FileConversion::inspect(descriptors[0].get());
            return reply;
        case WorkerProtocol::RequestKind::convert:
            if (descriptors.size() != 2)
                break;
            reply.outputLongEdge = FileConversion::convert(descriptors[0].get(),
                                                           descriptors[1].get(), request.settings);
            return reply;
        }
        reply.ending = WorkerProtocol::Ending::unexpected;
    } catch (const std::exception& error) {
        reply = WorkerProtocol::failure(error);
    } catch (...) {
        reply.ending = WorkerProtocol::Ending::unexpected;
    }
    return reply;
}

} // namespace

// libnuma reports through these two, and lets a program replace them. x265's
// thread pool asks it to place each thread, which reads /sys and sets memory
// policies: the sandbox refuses both, and libnuma would print each refusal
// on the parent's standard error. Its threads run unplaced, as they should.
extern "C" {
[[gnu::visibility("default")]] void numa_warn(int, char*, ...) {}
[[gnu::visibility("default")]] void numa_error(char*) {}
}

int main(int argc, char** argv) {
    std::int64_t memoryLimit = 0;
    pid_t parent = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument.starts_with("--memory-limit="))
            memoryLimit = std::strtoll(argv[i] + 15, nullptr, 10);
        if (argument.starts_with("--parent="))
            parent = pid_t(std::strtol(argv[i] + 9, nullptr, 10));
    }
    // Whatever way the parent ends, its workers end with it; it may have
    // ended already, before this was in place.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        return 1;

    VipsRuntime::initialize();
#ifdef __GLIBC__
    // One file at a time here: its decoder's and encoder's threads share the
    // main arena, which keeps freed buffers for the next file, where an arena
    // of their own would hand its whole heap back to the kernel each time and
    // fault it in again (2% of a HEIC's time).
    mallopt(M_ARENA_MAX, 1);
#endif
    if (!Sandbox::limitMemory(sanitized ? 0 : memoryLimit) || !Sandbox::enter()) {
        std::fputs("burisora-worker: cannot confine this process\n", stderr);
        return 1;
    }

    WorkerProtocol::Request request;
    std::vector<FileDescriptor> descriptors;
    while (WorkerProtocol::receive(socket, &request, sizeof request, descriptors)) {
        const WorkerProtocol::Reply reply = handle(request, descriptors);
        descriptors.clear(); // closed before the answer: the output is complete
        if (!WorkerProtocol::send(socket, &reply, sizeof reply))
            break;
    }
    return 0;
}
