// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// libvips set up for this program: called once on the main thread, first thing
// in main, before any other thread starts.
namespace VipsRuntime {

// The buffers of a 12-MP image pass glibc's largest mmap threshold (32 MiB),
// so every file maps them anew and faults them in 4 KiB at a time: a sixth of
// a HEIC's CPU time. glibc backs them with transparent huge pages when its
// hugetlb tunable is on, and tunables are read only as a program starts, so
// where the kernel gives huge pages on request this starts the program once
// more with the tunable (same process, arguments and, for children, the
// environment it had). Returns where that is not needed or not possible.
void restartWithHugePageBuffers(char** argv);

// Starts libvips with its operation cache off (a file changed on disk is read
// anew), only our six loaders allowed, and its worker threads sized so that
// several files at once do not oversubscribe the cores. Safe to call again.
void initialize();

// Cores this process may run on (its CPU affinity), at least 1.
int availableCores();

// Files of one batch in the pipeline at once: one core stays free for the
// window, but never fewer than two.
int parallelismLimit();

// Bytes that the files resizing at once may take together: half the
// physical memory, at most 2 GiB.
std::int64_t memoryBudget();

} // namespace VipsRuntime
