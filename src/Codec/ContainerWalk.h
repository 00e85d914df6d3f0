// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

using ByteSpan = std::span<const unsigned char>;

// The one reading of PNG chunks and JPEG header segments, for the checks and
// edits that need to see a container's structure without decoding it. Both
// walk untrusted bytes: every position is checked against the span's end.
namespace ContainerWalk {

constexpr std::string_view pngSignature{"\x89PNG\r\n\x1a\n", 8};
bool isPng(ByteSpan bytes);

// The big-endian 32-bit number at `p`, as PNG and JPEG store them.
std::uint32_t read32(const unsigned char* p);

struct PngChunk {
    std::size_t offset = 0;   // of its length field
    std::uint32_t length = 0; // of its data, as declared
    std::string_view type;    // four letters
    bool whole = false;       // a legal length and every byte within the span
    std::size_t end() const { return offset + 12 + length; } // past the CRC
    bool is(std::string_view name) const { return type == name; }
};

// Whether a whole `chunk` of `png` carries the CRC of its type and data.
bool crcHolds(ByteSpan png, const PngChunk& chunk);

// The chunks after the signature (not checked: the caller has), in file
// order, for as long as a chunk's length and type lie within the bytes. A
// chunk that is not whole is the last one: what follows it is unknown.
class PngChunks {
public:
    explicit PngChunks(ByteSpan png) : m_bytes(png) {}
    std::optional<PngChunk> next();

private:
    ByteSpan m_bytes;
    std::size_t m_offset = pngSignature.size();
    bool m_done = false;
};

struct JpegSegment {
    std::size_t offset = 0; // of its 0xFF
    unsigned char marker = 0;
    std::size_t size = 0; // marker, length field and data
};

// The marker segments after the start of image, up to and including the
// first scan's header, for as long as each one's marker and length lie within
// the bytes. Stops early at anything that is not a marker; exhausted() tells
// the two ends apart.
class JpegSegments {
public:
    explicit JpegSegments(ByteSpan jpeg) : m_bytes(jpeg) {}
    std::optional<JpegSegment> next();
    // Whether the walk ended because the bytes ran out rather than at the
    // first scan or at a byte that is not a marker.
    bool exhausted() const { return m_exhausted; }

private:
    ByteSpan m_bytes;
    std::size_t m_offset = 2;
    bool m_done = false;
    bool m_exhausted = false;
};

bool isJpeg(ByteSpan bytes);

} // namespace ContainerWalk
