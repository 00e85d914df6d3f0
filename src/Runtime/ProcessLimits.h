// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// How much of the machine a batch may take: cores, files at once, memory.
namespace ProcessLimits {

// Whether the kernel backs memory with transparent huge pages when a program
// asks for them (mode "madvise"), as glibc's hugetlb tunable does.
bool kernelGivesHugePagesOnRequest();

// Cores this process may run on (its CPU affinity), at least 1.
int availableCores();

// Threads one file's HEVC decoder or encoder may use: a file alone on the
// machine, the last of a batch, may take more than its share of the cores;
// while every worker is busy the extra threads only wait. Beyond four, a
// 1280-px picture's wavefront rows keep no more busy.
int hevcThreads();

// Files of one batch in the pipeline at once: one core stays free for the
// window, but never fewer than two.
int parallelismLimit();

// Bytes that the files resizing at once may take together: half the
// physical memory, at most 2 GiB.
std::int64_t memoryBudget();

} // namespace ProcessLimits
