// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/MappedFile.h"

#include "Models/Errors.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

MappedFile::MappedFile(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        throw ResizeError(ResizeError::cannotOpenSource);
    m_size = std::size_t(info.st_size);
    // A file cut short while mapped raises SIGBUS on the pages past its new
    // end; the worker dies of it and its parent reports the file as failed.
    if (void* mapped = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
        mapped != MAP_FAILED) {
        m_data = static_cast<const unsigned char*>(mapped);
        m_mapped = true;
        return;
    }
    m_copy = std::make_unique_for_overwrite<unsigned char[]>(m_size);
    std::size_t done = 0;
    while (done < m_size) {
        const ssize_t n = ::pread(fd, m_copy.get() + done, m_size - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ResizeError(ResizeError::cannotOpenSource);
        if (n == 0) // shorter than it was a moment ago
            break;
        done += std::size_t(n);
    }
    if (done == 0)
        throw ResizeError(ResizeError::cannotOpenSource);
    m_size = done;
    m_data = m_copy.get();
}

MappedFile::~MappedFile() {
    if (m_mapped)
        ::munmap(const_cast<unsigned char*>(m_data), m_size);
}
