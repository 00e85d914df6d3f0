// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/MetadataEdits.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

void append32(QByteArray& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

bool endsHeader(const ContainerWalk::PngChunk& chunk) {
    return chunk.is("PLTE") || chunk.is("IDAT") || chunk.is("IEND");
}

ByteSpan spanOf(const QByteArray& bytes) {
    return {reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size())};
}

} // namespace

namespace MetadataEdits {

QByteArray pngColourChunks(ByteSpan png) {
    if (!ContainerWalk::isPng(png))
        return {};
    QByteArray chunks;
    ContainerWalk::PngChunks walk(png);
    // Colour chunks come before the palette and the image data, if at all.
    while (const std::optional<ContainerWalk::PngChunk> chunk = walk.next()) {
        if (endsHeader(*chunk) || !chunk->whole)
            break;
        if ((chunk->is("gAMA") || chunk->is("cHRM") || chunk->is("sRGB")) && chunk->length <= 32)
            chunks.append(reinterpret_cast<const char*>(png.data() + chunk->offset),
                          qsizetype(chunk->end() - chunk->offset));
    }
    return chunks;
}

bool holdsWholeHeader(ByteSpan bytes, bool png) {
    if (png) {
        ContainerWalk::PngChunks walk(bytes);
        while (const std::optional<ContainerWalk::PngChunk> chunk = walk.next()) {
            if (chunk->is("IDAT"))
                return true;
        }
        return false;
    }
    ContainerWalk::JpegSegments walk(bytes);
    while (const std::optional<ContainerWalk::JpegSegment> segment = walk.next()) {
        if (segment->marker == 0xDA)
            return true;
    }
    return !walk.exhausted(); // something other than a marker: nothing more to wait for
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
    if (!ContainerWalk::isPng(spanOf(png)))
        return png;
    ContainerWalk::PngChunks walk(spanOf(png));
    while (const std::optional<ContainerWalk::PngChunk> chunk = walk.next()) {
        if (endsHeader(*chunk))
            return QByteArray(png).insert(qsizetype(chunk->offset), chunks);
        if (!chunk->whole)
            break;
    }
    return png;
}

QByteArray jpegWithDensity(QByteArray jpeg, int xDotsPerInch, int yDotsPerInch) {
    if (!ContainerWalk::isJpeg(spanOf(jpeg)))
        return jpeg;
    ContainerWalk::JpegSegments walk(spanOf(jpeg));
    if (const std::optional<ContainerWalk::JpegSegment> first = walk.next();
        first && first->marker == 0xE0) // an APP0 already
        jpeg.remove(qsizetype(first->offset), qsizetype(first->size));
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

GifText gifText(ByteSpan bytes) {
    GifText text;
    if (bytes.size() < 13)
        return text;
    const size_t size = bytes.size();
    const unsigned char* gif = bytes.data();
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
    return text;
}

} // namespace MetadataEdits
