// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ContainerWalk.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

namespace ContainerWalk {

std::uint32_t read32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool crcHolds(ByteSpan png, const PngChunk& chunk) {
    const unsigned char* typeAndData = png.data() + chunk.offset + 4;
    return libdeflate_crc32(0, typeAndData, std::size_t(chunk.length) + 4) ==
           read32(typeAndData + 4 + chunk.length);
}

bool isPng(ByteSpan bytes) {
    return bytes.size() >= pngSignature.size() &&
           std::memcmp(bytes.data(), pngSignature.data(), pngSignature.size()) == 0;
}

bool isJpeg(ByteSpan bytes) {
    return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

std::optional<PngChunk> PngChunks::next() {
    if (m_done || m_offset > m_bytes.size() || m_bytes.size() - m_offset < 8)
        return std::nullopt;
    const unsigned char* head = m_bytes.data() + m_offset;
    PngChunk chunk;
    chunk.offset = m_offset;
    chunk.length = read32(head);
    chunk.type = std::string_view(reinterpret_cast<const char*>(head + 4), 4);
    // 2^31 - 1 is the format's own limit on a chunk's length.
    chunk.whole = chunk.length <= 0x7FFFFFFFu && chunk.end() <= m_bytes.size();
    m_done = !chunk.whole;
    m_offset = chunk.end();
    return chunk;
}

std::optional<JpegSegment> JpegSegments::next() {
    if (m_done)
        return std::nullopt;
    if (m_offset > m_bytes.size() || m_bytes.size() - m_offset < 4) {
        m_done = m_exhausted = true;
        return std::nullopt;
    }
    const unsigned char* head = m_bytes.data() + m_offset;
    if (head[0] != 0xFF) {
        m_done = true;
        return std::nullopt;
    }
    // A length below its own two bytes covers just them, as libjpeg reads it.
    const std::size_t length = std::max<std::size_t>(std::size_t(head[2]) << 8 | head[3], 2);
    const JpegSegment segment{m_offset, head[1], 2 + length};
    m_done = segment.marker == 0xDA; // entropy-coded data follows the scan header
    m_offset += segment.size;
    return segment;
}

} // namespace ContainerWalk
