// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/FolderListing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace {

class Walk {
public:
    explicit Walk(const FolderListing::Options& options) : m_options(options) {}

    bool isFull() const {
        return m_files.size() >= m_options.limit ||
               (m_options.cancelled && m_options.cancelled->load(std::memory_order_relaxed));
    }

    void add(std::filesystem::path path) {
        if (!m_options.keeps || m_options.keeps(path))
            m_files.push_back(std::move(path));
    }

    void addFolder(const std::filesystem::path& folder) {
        const auto closeDir = [](DIR* d) { ::closedir(d); };
        std::unique_ptr<DIR, decltype(closeDir)> dir(::opendir(folder.c_str()), closeDir);
        if (!dir)
            return;
        while (!isFull()) {
            const dirent* entry = ::readdir(dir.get());
            if (!entry)
                return;
            if (entry->d_name[0] == '.')
                continue;
            std::filesystem::path item = folder / entry->d_name;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info {};
                if (::lstat(item.c_str(), &info) != 0)
                    continue;
                type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_LNK;
            }
            if (type == DT_REG)
                add(std::move(item));
            else if (type == DT_DIR && entry->d_name != m_options.skippedFolderName)
                addFolder(item);
        }
    }

    std::vector<std::filesystem::path> take() { return std::move(m_files); }

private:
    const FolderListing::Options& m_options;
    std::vector<std::filesystem::path> m_files;
};

} // namespace

namespace FolderListing {

bool isDirectory(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::filesystem::path> list(const std::vector<std::filesystem::path>& paths,
                                        const Options& options) {
    Walk walk(options);
    for (const auto& path : paths) {
        if (walk.isFull())
            break;
        if (isDirectory(path))
            walk.addFolder(path);
        else
            walk.add(path);
    }
    return walk.take();
}

} // namespace FolderListing
