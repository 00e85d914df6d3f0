// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/ContainerWalk.h"

#include <cstddef>
#include <memory>

// A source file's bytes, read-only, for every stage of its conversion: one
// mapping of the open descriptor, or, where the descriptor cannot be mapped,
// a copy read with pread. The descriptor is not kept.
class MappedFile {
public:
    // Throws ResizeError (cannotOpenSource) for anything but a non-empty
    // regular file that can be read.
    explicit MappedFile(int fd);
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    ByteSpan bytes() const { return {m_data, m_size}; }

private:
    const unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_mapped = false;
    std::unique_ptr<unsigned char[]> m_copy;
};
