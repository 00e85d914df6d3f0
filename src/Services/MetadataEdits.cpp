// SPDX-License-Identifier: GPL-3.0-or-later
#include "Services/MetadataEdits.h"

#include <cstdint>

namespace {

constexpr unsigned char markerPrefix = 0xFF;
constexpr unsigned char startOfImage = 0xD8;
constexpr unsigned char startOfScan = 0xDA;
constexpr unsigned char app1 = 0xE1;

unsigned byteAt(const QByteArray& data, qsizetype i) {
    return static_cast<unsigned char>(data[i]);
}

} // namespace

namespace MetadataEdits {

QByteArray jpegWithoutExif(const QByteArray& jpeg) {
    if (jpeg.size() < 4 || byteAt(jpeg, 0) != markerPrefix || byteAt(jpeg, 1) != startOfImage)
        return jpeg;
    QByteArray result;
    result.reserve(jpeg.size());
    result.append(jpeg.constData(), 2);
    qsizetype pos = 2;
    // Walk the marker segments up to the start of scan; the rest is copied whole.
    while (pos + 4 <= jpeg.size() && byteAt(jpeg, pos) == markerPrefix) {
        const unsigned marker = byteAt(jpeg, pos + 1);
        if (marker == startOfScan)
            break;
        const qsizetype length = (qsizetype(byteAt(jpeg, pos + 2)) << 8) | byteAt(jpeg, pos + 3);
        if (length < 2 || pos + 2 + length > jpeg.size())
            return jpeg;
        const bool isExif =
            marker == app1 && length >= 8 &&
            QByteArray::fromRawData(jpeg.constData() + pos + 4, 6) == QByteArray("Exif\0\0", 6);
        if (!isExif)
            result.append(jpeg.constData() + pos, 2 + length);
        pos += 2 + length;
    }
    result.append(jpeg.constData() + pos, jpeg.size() - pos);
    return result;
}

QByteArray exifWithUprightOrientation(QByteArray exif) {
    const qsizetype base = exif.startsWith(QByteArray("Exif\0\0", 6)) ? 6 : 0;
    const qsizetype size = exif.size() - base;
    if (size < 8)
        return exif;
    const auto at = [&](qsizetype offset) { return byteAt(exif, base + offset); };
    bool littleEndian;
    if (at(0) == 'I' && at(1) == 'I')
        littleEndian = true;
    else if (at(0) == 'M' && at(1) == 'M')
        littleEndian = false;
    else
        return exif;
    const auto read16 = [&](qsizetype o) -> std::uint32_t {
        return littleEndian ? at(o) | (at(o + 1) << 8) : (at(o) << 8) | at(o + 1);
    };
    const auto read32 = [&](qsizetype o) -> std::uint32_t {
        return littleEndian ? read16(o) | (read16(o + 2) << 16) : (read16(o) << 16) | read16(o + 2);
    };
    const std::uint32_t ifd = read32(4);
    if (ifd > std::uint32_t(size) || size - qsizetype(ifd) < 2)
        return exif;
    const std::uint32_t count = read16(ifd);
    for (std::uint32_t i = 0; i < count; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + 12 * qsizetype(i);
        if (entry + 12 > size)
            return exif;
        constexpr std::uint32_t orientationTag = 0x0112;
        constexpr std::uint32_t shortType = 3;
        if (read16(entry) == orientationTag && read16(entry + 2) == shortType) {
            // A SHORT value sits in the first two bytes of the value field.
            const qsizetype value = base + entry + 8;
            exif[value] = char(littleEndian ? 1 : 0);
            exif[value + 1] = char(littleEndian ? 0 : 1);
            return exif;
        }
    }
    return exif;
}

} // namespace MetadataEdits
