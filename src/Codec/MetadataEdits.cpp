// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/MetadataEdits.h"

#include <zlib.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype chunkOverhead = 12; // length, type, CRC

std::uint32_t read32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void append32(QByteArray& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

bool isType(const unsigned char* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

bool endsHeader(const unsigned char* type) {
    return isType(type, "PLTE") || isType(type, "IDAT") || isType(type, "IEND");
}

} // namespace

namespace MetadataEdits {

QByteArray pngColourChunks(int fd) {
    unsigned char header[8];
    if (::pread(fd, header, 8, 0) != 8 || std::memcmp(header, pngSignature, 8) != 0)
        return {};
    QByteArray chunks;
    off_t offset = 8;
    // Colour chunks come before the palette and the image data, if at all.
    while (::pread(fd, header, 8, offset) == 8 && !endsHeader(header + 4)) {
        const std::uint32_t length = read32(header);
        const bool colour =
            isType(header + 4, "gAMA") || isType(header + 4, "cHRM") || isType(header + 4, "sRGB");
        if (length > 0x7FFFFFFFu)
            break;
        if (colour && length <= 32) {
            QByteArray chunk(chunkOverhead + qsizetype(length), Qt::Uninitialized);
            if (::pread(fd, chunk.data(), size_t(chunk.size()), offset) != chunk.size())
                break;
            chunks += chunk;
        }
        offset += chunkOverhead + off_t(length);
    }
    return chunks;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    append32(chunk, std::uint32_t(data.size()));
    chunk.append(type, 4).append(data);
    const auto* crcData = reinterpret_cast<const Bytef*>(chunk.constData() + 4);
    append32(chunk, std::uint32_t(::crc32(0, crcData, uInt(chunk.size() - 4))));
    return chunk;
}

QByteArray pngWithChunks(const QByteArray& png, const QByteArray& chunks) {
    if (!png.startsWith(QByteArray(pngSignature, 8)))
        return png;
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.constData());
    qsizetype offset = 8;
    while (offset + 8 <= png.size() && !endsHeader(bytes + offset + 4)) {
        const std::uint32_t length = read32(bytes + offset);
        if (length > std::uint32_t(png.size() - offset - chunkOverhead))
            return png;
        offset += chunkOverhead + qsizetype(length);
    }
    if (offset + 8 > png.size())
        return png;
    return QByteArray(png).insert(offset, chunks);
}

QByteArray jpegWithDensity(QByteArray jpeg, int xDotsPerInch, int yDotsPerInch) {
    if (jpeg.size() < 4 || jpeg[0] != char(0xFF) || jpeg[1] != char(0xD8))
        return jpeg;
    if (jpeg[2] == char(0xFF) && jpeg[3] == char(0xE0) && jpeg.size() >= 6) // an APP0 already
        jpeg.remove(2, 2 + (qsizetype(uchar(jpeg[4])) << 8 | uchar(jpeg[5])));
    const bool known = xDotsPerInch > 0 && yDotsPerInch > 0;
    QByteArray app0("\xFF\xE0\x00\x10JFIF\x00\x01\x01", 11);
    app0.append(char(known ? 1 : 0)); // units: dots per inch, or the aspect only
    for (int density : {xDotsPerInch, yDotsPerInch}) {
        const int value = known ? std::clamp(density, 1, 0xFFFF) : 1;
        app0.append(char(value >> 8)).append(char(value & 0xFF));
    }
    app0.append(2, '\0'); // no JFIF thumbnail
    return jpeg.insert(2, app0);
}

GifText gifText(int fd) {
    GifText text;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < 13)
        return text;
    const size_t size = size_t(info.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED)
        return text;
    const auto* gif = static_cast<const unsigned char*>(mapped);
    const auto colourTable = [](unsigned flags) {
        return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0;
    };
    size_t at = std::memcmp(gif, "GIF8", 4) == 0 ? 13 + colourTable(gif[10]) : size;
    // Blocks up to the trailer: extensions and images, each ending in
    // length-prefixed sub-blocks closed by an empty one.
    while (at < size && gif[at] != 0x3B) {
        bool comment = false;
        if (gif[at] == 0x2C && at + 10 < size) {
            at += 10 + colourTable(gif[at + 9]) + 1; // descriptor, table, LZW code size
        } else if (gif[at] == 0x21 && at + 2 < size) {
            comment = gif[at + 1] == 0xFE;
            constexpr char xmpApplication[] = "\x0BXMP DataXMP";
            if (gif[at + 1] == 0xFF && size - at > 14 &&
                std::memcmp(gif + at + 2, xmpApplication, 12) == 0) {
                // The packet is stored raw, followed by a "magic trailer".
                const QByteArray rest = QByteArray::fromRawData(
                    reinterpret_cast<const char*>(gif + at + 14), qsizetype(size - at - 14));
                const qsizetype end = rest.indexOf("<?xpacket end=");
                const qsizetype close = end < 0 ? -1 : rest.indexOf("?>", end);
                if (close < 0)
                    break;
                text.xmp = QByteArray(rest.constData(), close + 2);
                at += 14 + size_t(close) + 2 + 256; // to the trailer's final empty block
            } else {
                at += 2;
            }
        } else {
            break;
        }
        while (at < size && gif[at] != 0) {
            if (comment && at + 1 + gif[at] <= size)
                text.comment.append(reinterpret_cast<const char*>(gif + at + 1), gif[at]);
            at += 1 + gif[at];
        }
        ++at;
    }
    ::munmap(mapped, size);
    return text;
}

} // namespace MetadataEdits
