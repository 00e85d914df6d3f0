// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/OutputClaims.h"

#include <QUuid>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace {

struct Registry {
    std::mutex mutex;
    std::set<std::filesystem::path> claimed;
    bool abandoned = false;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

namespace OutputClaims {

int createExclusive(const std::filesystem::path& path, int flags, int mode) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.abandoned) {
        errno = ECANCELED;
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0)
        r.claimed.insert(path);
    return fd;
}

int linkExclusive(int fd, const std::filesystem::path& path) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.abandoned) {
        errno = ECANCELED;
        return -1;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int result = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    if (result == 0)
        r.claimed.insert(path);
    return result;
}

std::filesystem::path temporaryNameIn(const std::filesystem::path& folder) {
    const std::string uuid =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    return folder / ("." + uuid + ".tmp");
}

bool isTemporaryFileName(const std::string& name) {
    return name.size() == 41 && name.front() == '.' && name.ends_with(".tmp");
}

int moveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.abandoned) {
        errno = ECANCELED;
        return -1;
    }
    const int result = ::rename(from.c_str(), to.c_str());
    if (result == 0) {
        r.claimed.erase(from);
        r.claimed.erase(to);
    }
    return result;
}

void remove(const std::filesystem::path& path) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.claimed.erase(path) != 0)
        ::unlink(path.c_str());
}

int abandonAll() {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.abandoned = true;
    int removed = 0;
    for (const auto& path : r.claimed)
        removed += ::unlink(path.c_str()) == 0 ? 1 : 0;
    r.claimed.clear();
    return removed;
}

} // namespace OutputClaims
