// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/FolderListing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QString>

#include <algorithm>
#include <memory>

namespace {

class Walk {
public:
    explicit Walk(const FolderListing::Options& options) : m_options(options) {}

    bool isCancelled() const {
        return m_options.cancelled && m_options.cancelled->load(std::memory_order_relaxed);
    }
    bool isFull() const { return m_files.size() >= m_options.limit || isCancelled(); }

    void add(std::filesystem::path path) {
        if (!m_options.keeps || m_options.keeps(path))
            m_files.push_back(std::move(path));
    }

    void addFolder(const std::filesystem::path& folder) {
        const auto closeDir = [](DIR* d) { ::closedir(d); };
        std::unique_ptr<DIR, decltype(closeDir)> dir(::opendir(folder.c_str()), closeDir);
        if (!dir)
            return;
        // Read whole, then in name order: the directory's own order is its
        // storage order (hash order on most Linux file systems).
        std::vector<std::string> files;
        std::vector<std::string> folders;
        while (!isCancelled()) {
            const dirent* entry = ::readdir(dir.get());
            if (!entry)
                break;
            if (entry->d_name[0] == '.')
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info {};
                if (::lstat((folder / entry->d_name).c_str(), &info) != 0)
                    continue;
                type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_LNK;
            }
            if (type == DT_REG)
                files.emplace_back(entry->d_name);
            else if (type == DT_DIR && entry->d_name != m_options.skippedFolderName)
                folders.emplace_back(entry->d_name);
        }
        dir.reset();
        sortByName(files);
        sortByName(folders);
        for (const std::string& name : files) {
            if (isFull())
                return;
            add(folder / name);
        }
        for (const std::string& name : folders) {
            if (isFull())
                return;
            addFolder(folder / name);
        }
    }

    std::vector<std::filesystem::path> take() { return std::move(m_files); }

private:
    static void sortByName(std::vector<std::string>& names) {
        std::vector<std::pair<QString, std::string>> keyed;
        keyed.reserve(names.size());
        for (std::string& name : names)
            keyed.emplace_back(QString::fromLocal8Bit(name), std::move(name));
        std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
            const int order = FolderListing::compareNames(a.first, b.first);
            return order != 0 ? order < 0 : a.second < b.second;
        });
        for (size_t i = 0; i < names.size(); ++i)
            names[i] = std::move(keyed[i].second);
    }

    const FolderListing::Options& m_options;

    std::vector<std::filesystem::path> m_files;
};

} // namespace

namespace FolderListing {

int compareNames(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Runs of digits by value: leading zeros aside, the longer run is
            // the larger number, and runs of one length compare digit by digit.
            const auto run = [](const QString& s, qsizetype& at) {
                while (at < s.size() && s[at] == u'0' && at + 1 < s.size() && s[at + 1].isDigit())
                    ++at;
                const qsizetype start = at;
                while (at < s.size() && s[at].isDigit())
                    ++at;
                return QStringView(s).mid(start, at - start);
            };
            const QStringView x = run(a, i);
            const QStringView y = run(b, j);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int order = x.compare(y); order != 0)
                return order < 0 ? -1 : 1;
            continue;
        }
        const char32_t x = a[i].toCaseFolded().unicode();
        const char32_t y = b[j].toCaseFolded().unicode();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

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
