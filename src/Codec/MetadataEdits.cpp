// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/MetadataEdits.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

void append32(QByteArray& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

bool endsHeader(const ContainerWalk::PngChunk& chunk) {
    return chunk.is("PLTE") || chunk.is("IDAT") || chunk.is("IEND");
}

constexpr char xmpSignature[] = "http://ns.adobe.com/xap/1.0/"; // with its NUL: 29 bytes
constexpr char extensionSignature[] = "http://ns.adobe.com/xmp/extension/"; // 35 bytes
constexpr qsizetype guidSize = 32;
// Signature, GUID, full length and offset before each extension portion.
constexpr qsizetype extensionHeader = qsizetype(sizeof extensionSignature) + guidSize + 8;

QByteArray app1(const char* signature, qsizetype signatureSize, const QByteArray& data) {
    QByteArray segment("\xFF\xE1", 2);
    const qsizetype length = 2 + signatureSize + data.size();
    segment.append(char(length >> 8)).append(char(length & 0xFF));
    return segment.append(signature, signatureSize).append(data);
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
        // One whose CRC fails is one libpng skips: copied, it would carry the
        // damage into the output.
        if ((chunk->is("gAMA") || chunk->is("cHRM") || chunk->is("sRGB")) && chunk->length <= 32 &&
            ContainerWalk::crcHolds(png, *chunk))
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

void appendPngChunk(QByteArray& out, const char* type, const void* data, std::size_t length) {
    append32(out, std::uint32_t(length));
    const qsizetype start = out.size();
    out.append(type, 4).append(static_cast<const char*>(data), qsizetype(length));
    append32(out, libdeflate_crc32(0, out.constData() + start, length + 4));
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    appendPngChunk(chunk, type, data.constData(), size_t(data.size()));
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

QByteArray jpegMetadataSegments(ByteSpan jpeg) {
    if (!ContainerWalk::isJpeg(jpeg))
        return {};
    QByteArray segments("\xFF\xD8", 2);
    ContainerWalk::JpegSegments walk(jpeg);
    while (const std::optional<ContainerWalk::JpegSegment> segment = walk.next()) {
        if (segment->size > jpeg.size() - segment->offset)
            break;
        if ((segment->marker == 0xE1 || segment->marker == 0xED || segment->marker == 0xFE) &&
            segment->size > 4)
            segments.append(reinterpret_cast<const char*>(jpeg.data() + segment->offset),
                            qsizetype(segment->size));
    }
    return segments.append("\xFF\xD9", 2);
}

QByteArray jpegExtendedXmp(ByteSpan jpeg, const QByteArray& guid, bool* complete) {
    *complete = false;
    if (!ContainerWalk::isJpeg(jpeg) || guid.size() != guidSize)
        return {};
    QByteArray joined;
    std::uint32_t fullLength = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> portions; // offset, size
    ContainerWalk::JpegSegments walk(jpeg);
    while (const std::optional<ContainerWalk::JpegSegment> segment = walk.next()) {
        if (segment->size > jpeg.size() - segment->offset)
            break;
        const unsigned char* data = jpeg.data() + segment->offset + 4;
        const qsizetype size = qsizetype(segment->size) - 4;
        if (segment->marker != 0xE1 || size < extensionHeader ||
            std::memcmp(data, extensionSignature, sizeof extensionSignature) != 0 ||
            std::memcmp(data + sizeof extensionSignature, guid.constData(), guidSize) != 0)
            continue;
        const unsigned char* numbers = data + sizeof extensionSignature + guidSize;
        const std::uint32_t length = ContainerWalk::read32(numbers);
        const std::uint32_t offset = ContainerWalk::read32(numbers + 4);
        const auto portion = std::uint32_t(size - extensionHeader);
        // One full length for all portions, each within it; at most 4 GiB is
        // declared, but no more than the file could hold is allocated.
        if ((fullLength != 0 && length != fullLength) || length > jpeg.size() || offset > length ||
            portion > length - offset)
            return {};
        if (joined.isEmpty())
            joined = QByteArray(qsizetype(length), '\0');
        fullLength = length;
        std::memcpy(joined.data() + offset, data + extensionHeader, portion);
        portions.emplace_back(offset, portion);
    }
    std::sort(portions.begin(), portions.end());
    std::uint32_t covered = 0;
    for (const auto& [offset, size] : portions) {
        if (offset > covered)
            break;
        covered = std::max(covered, offset + size);
    }
    *complete = !portions.empty() && covered == fullLength;
    return joined;
}

QByteArray jpegXmpSegments(const QByteArray& standard, const QByteArray& extended,
                           const QByteArray& guid) {
    QByteArray segments = app1(xmpSignature, sizeof xmpSignature, standard);
    constexpr qsizetype portionLimit = 0xFFFF - 2 - extensionHeader;
    for (qsizetype offset = 0; offset < extended.size(); offset += portionLimit) {
        QByteArray data = guid;
        append32(data, std::uint32_t(extended.size()));
        append32(data, std::uint32_t(offset));
        data.append(extended.mid(offset, portionLimit));
        segments += app1(extensionSignature, sizeof extensionSignature, data);
    }
    return segments;
}

QByteArray jpegWithSegments(const QByteArray& jpeg, const QByteArray& segments) {
    qsizetype at = 2;
    ContainerWalk::JpegSegments walk(spanOf(jpeg));
    while (const std::optional<ContainerWalk::JpegSegment> segment = walk.next()) {
        if (segment->marker != 0xE0 && segment->marker != 0xE1)
            break;
        at = qsizetype(segment->offset + segment->size);
    }
    return QByteArray(jpeg).insert(std::min(at, jpeg.size()), segments);
}

QByteArray takeJpegSegments(QByteArray& jpeg, unsigned char marker) {
    if (!ContainerWalk::isJpeg(spanOf(jpeg)))
        return {};
    QByteArray taken;
    QByteArray kept = jpeg.left(2);
    qsizetype end = 2;
    ContainerWalk::JpegSegments walk(spanOf(jpeg));
    while (const std::optional<ContainerWalk::JpegSegment> segment = walk.next()) {
        const qsizetype size = std::min(qsizetype(segment->size), jpeg.size() - end);
        (segment->marker == marker ? taken : kept).append(jpeg.mid(end, size));
        end += size;
    }
    if (!taken.isEmpty())
        jpeg = kept.append(jpeg.mid(end));
    return taken;
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
