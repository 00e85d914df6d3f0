// SPDX-License-Identifier: GPL-3.0-or-later
#include "Runtime/VipsRuntime.h"

#include "Codec/HevcDecoder.h"
#include "Runtime/ProcessLimits.h"

#include <gmodule.h>
#include <libheif/heif.h>
#include <vips/vips.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace {

std::string modulePath(const char* name) {
    return std::string(BURISORA_VIPS_LIBDIR) + "/vips-modules-" + std::to_string(vips_version(0)) +
           "." + std::to_string(vips_version(1)) + "/vips-" + name + ".so";
}

// libvips opens every module in its folder while it starts: ImageMagick,
// poppler and OpenSlide cost each run some 60 ms of dynamic linking, half of
// our start-up, for loaders that stay blocked. A home folder that cannot
// exist keeps libvips from looking; the modules we read with, HEIF and JPEG
// XL, are opened by hand. Called before any other thread runs, so that
// changing the environment for a moment is safe.
void startVipsWithOurModulesOnly() {
    const std::string heif = modulePath("heif");
    if (::access(heif.c_str(), R_OK) != 0) { // built in, or elsewhere: libvips finds them
        if (VIPS_INIT("burisora") != 0)
            std::abort();
        return;
    }
    std::optional<std::string> home;
    if (const char* value = std::getenv("VIPSHOME"))
        home = value;
    ::setenv("VIPSHOME", "/dev/null", 1);
    const int status = VIPS_INIT("burisora");
    if (home)
        ::setenv("VIPSHOME", home->c_str(), 1);
    else
        ::unsetenv("VIPSHOME");
    if (status != 0)
        std::abort(); // nothing can be read or written without it
    // Kept for the life of the process, as libvips keeps its own.
    for (const std::string& module : {heif, modulePath("jxl")}) {
        if (GModule* opened = g_module_open(module.c_str(), G_MODULE_BIND_LAZY))
            g_module_make_resident(opened);
    }
}

} // namespace

namespace VipsRuntime {

void initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        startVipsWithOurModulesOnly();
        heif_init(nullptr);
        HevcDecoder::useThreads(ProcessLimits::hevcThreads());
        // Per-file problems reach the user as job results; libvips' own
        // warnings (a damaged tile, a short file) would only repeat them on
        // standard error.
        g_log_set_handler(
            "VIPS", G_LOG_LEVEL_WARNING,
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_cache_set_max_files(0);

        // Only these loaders ever see a file, whatever its name says.
        vips_operation_block_set("VipsForeignLoad", TRUE);
        vips_block_untrusted_set(TRUE);
        // libvips counts its JPEG XL loader as untrusted, as it does every
        // loader that has seen less fuzzing than its own; it runs only in a
        // sandboxed worker, as every other loader does.
        for (const char* allowed :
             {"VipsForeignLoadJpeg", "VipsForeignLoadPng", "VipsForeignLoadHeif",
              "VipsForeignLoadTiff", "VipsForeignLoadNsgif", "VipsForeignLoadWebp",
              "VipsForeignLoadJxl"})
            vips_operation_block_set(allowed, FALSE);

        // Files already run side by side; each gets its share of the cores.
        vips_concurrency_set(
            std::max(1, ProcessLimits::availableCores() / ProcessLimits::parallelismLimit()));

#ifdef __GLIBC__
        // Every file allocates the same large buffers (a 12-MP HEIC decode
        // touches over 100 MB) from whichever worker thread runs it. Left to
        // itself glibc gives each new thread a cold arena and hands big blocks
        // back to the kernel, so every file pays the page faults again. One
        // arena per file in flight, kept warm, reuses them: 12% less CPU time
        // and lower peak memory on HEIC, lower peak memory on JPEG (bench/).
        mallopt(M_ARENA_MAX, ProcessLimits::parallelismLimit());
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
    });
}

} // namespace VipsRuntime
