// SPDX-License-Identifier: GPL-3.0-or-later
#include "Runtime/ProcessLimits.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace ProcessLimits {

bool kernelGivesHugePagesOnRequest() {
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    return std::getline(mode, line) && line.find("[madvise]") != std::string::npos;
}

int availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return 1;
}

int hevcThreads() {
    return std::min(4, availableCores());
}

int parallelismLimit() {
    return std::max(2, availableCores() - 1);
}

std::int64_t memoryBudget() {
    constexpr std::int64_t ceiling = std::int64_t(2) * 1024 * 1024 * 1024;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return ceiling;
    return std::min(ceiling, std::int64_t(pages) * pageSize / 2);
}

} // namespace ProcessLimits
