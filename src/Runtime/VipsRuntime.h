// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// libvips set up for the processes that decode: called once on the main
// thread, first thing in main, before any other thread starts.
namespace VipsRuntime {

// Whether the kernel backs memory with transparent huge pages when a program
// asks for them (mode "madvise"), as glibc's hugetlb tunable does.
bool kernelGivesHugePagesOnRequest();

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
