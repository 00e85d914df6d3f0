// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/Metadata.h"

#include "Codec/MetadataEdits.h"
#include "Models/Errors.h"

#include <QCryptographicHash>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void initializeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Problems with a file's metadata reach the user as job results, or
        // not at all when the image can be written without it.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        static std::mutex xmpNamespaces;
        Exiv2::XmpParser::initialize(
            [](void* mutex, bool lock) {
                lock ? static_cast<std::mutex*>(mutex)->lock()
                     : static_cast<std::mutex*>(mutex)->unlock();
            },
            &xmpNamespaces);
        // Exiv2 knows the extended XMP note only once a packet has declared it.
        Exiv2::XmpProperties::registerNs("http://ns.adobe.com/xmp/note/", "xmpNote");
#if !EXIV2_TEST_VERSION(0, 28, 0) // 0.28 reads HEIF without being asked
        Exiv2::enableBMFF(true);
#endif
    });
}

// Exiv2 0.28 sizes buffers in size_t and hides DataBuf's members; 0.27 uses long.
#if EXIV2_TEST_VERSION(0, 28, 0)
using ExivSize = size_t;
const Exiv2::byte* bufferData(const Exiv2::DataBuf& buffer) {
    return buffer.c_data();
}
size_t bufferSize(const Exiv2::DataBuf& buffer) {
    return buffer.size();
}
#else
using ExivSize = long;
const Exiv2::byte* bufferData(const Exiv2::DataBuf& buffer) {
    return buffer.pData_;
}
size_t bufferSize(const Exiv2::DataBuf& buffer) {
    return size_t(buffer.size_);
}
#endif

// Exif IFD0 tags that describe a TIFF file's own layout: meaningless, or
// wrong, on any other file. Every encoder writes its own.
// clang-format off
constexpr const char* layoutTags[] = {
    "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample", "Compression",
    "PhotometricInterpretation", "FillOrder", "StripOffsets", "SamplesPerPixel", "RowsPerStrip",
    "StripByteCounts", "PlanarConfiguration", "Predictor", "TileWidth", "TileLength",
    "TileOffsets", "TileByteCounts", "SubIFDs", "ExtraSamples", "SampleFormat", "JPEGTables",
    "InterColorProfile", "XMLPacket", "IPTCNAA", "ImageResources", "YCbCrSubSampling",
    "YCbCrPositioning",
};
// clang-format on

void erase(Exiv2::ExifData& exif, const std::string& key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it != exif.end())
        exif.erase(it);
}

bool has(const Exiv2::ExifData& exif, const char* key) {
    return exif.findKey(Exiv2::ExifKey(key)) != exif.end();
}

bool has(const Exiv2::XmpData& xmp, const char* key) {
    return xmp.findKey(Exiv2::XmpKey(key)) != xmp.end();
}

QByteArray bytes(const Exiv2::byte* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

QByteArray bytes(const Exiv2::DataBuf& buffer) {
    return bytes(bufferData(buffer), bufferSize(buffer));
}

const Exiv2::byte* data(const QByteArray& bytes) {
    return reinterpret_cast<const Exiv2::byte*>(bytes.constData());
}

// Not const: Exiv2 0.28 encodes from a modifiable ExifData. As a TIFF
// structure of any size: ExifParser::encode leaves out, without an error,
// whatever does not fit one JPEG segment; a JPEG's writer does that on its own.
QByteArray encodedExif(Exiv2::ExifData& exif, Exiv2::ByteOrder order) {
    if (exif.empty())
        return {};
    if (order == Exiv2::invalidByteOrder) // what HEIF and WebP sources report
        order = Exiv2::littleEndian;
    Exiv2::MemIo io;
    Exiv2::IptcData noIptc;
    Exiv2::XmpData noXmp;
    Exiv2::TiffParser::encode(io, nullptr, 0, order, exif, noIptc, noXmp);
    if (io.size() == 0) // Exiv2 gives up on some entries by writing nothing at all
        throw std::runtime_error("Exif not encoded");
    return bytes(io.mmap(), io.size());
}

// Entries of a type TIFF does not define: Exiv2 reads them with a warning,
// then encodes no Exif at all.
void dropUnknownTypes(Exiv2::ExifData& exif) {
    for (auto it = exif.begin(); it != exif.end();)
        it = Exiv2::TypeInfo::typeSize(it->typeId()) == 0 ? exif.erase(it) : std::next(it);
}

QByteArray encodedXmp(const Exiv2::XmpData& xmp) {
    std::string packet;
    if (xmp.empty() ||
        Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0)
        return {};
    return QByteArray::fromStdString(packet);
}

// The source's Exif as an upright, resized copy should carry it.
QByteArray fittedExif(Exiv2::ExifData exif, Exiv2::ByteOrder order) {
    dropUnknownTypes(exif);
    Exiv2::ExifThumb(exif).erase();
    for (const char* tag : layoutTags)
        erase(exif, std::string("Exif.Image.") + tag);
    if (has(exif, "Exif.Image.Orientation"))
        exif["Exif.Image.Orientation"] = uint16_t(1);
    return encodedExif(exif, order);
}

QByteArray fittedXmp(Exiv2::XmpData xmp) {
    // A stale 6 here makes some viewers turn the upright pixels again.
    if (has(xmp, "Xmp.tiff.Orientation"))
        xmp["Xmp.tiff.Orientation"] = "1";
    return encodedXmp(xmp);
}

// The Exif for an output `width` x `height` pixels, and its byte order.
Exiv2::ExifData exifFor(const SourceMetadata& source, int width, int height,
                        Exiv2::ByteOrder* order) {
    Exiv2::ExifData exif;
    *order = source.exif.isEmpty()
                 ? Exiv2::littleEndian
                 : Exiv2::ExifParser::decode(exif, data(source.exif), uint32_t(source.exif.size()));
    if (has(exif, "Exif.Photo.PixelXDimension"))
        exif["Exif.Photo.PixelXDimension"] = uint32_t(width);
    if (has(exif, "Exif.Photo.PixelYDimension"))
        exif["Exif.Photo.PixelYDimension"] = uint32_t(height);
    return exif;
}

Exiv2::IptcData iptcOf(const SourceMetadata& source) {
    Exiv2::IptcData iptc;
    if (!source.iptc.isEmpty())
        Exiv2::IptcParser::decode(iptc, data(source.iptc), uint32_t(source.iptc.size()));
    return iptc;
}

// The XMP, with IPTC facts added where the XMP has none of its own.
QByteArray xmpWithIptc(const SourceMetadata& source) {
    const Exiv2::IptcData iptc = iptcOf(source);
    if (iptc.empty())
        return source.xmp;
    Exiv2::XmpData xmp;
    if (!source.xmp.isEmpty())
        Exiv2::XmpParser::decode(xmp, source.xmp.toStdString());
    Exiv2::XmpData fromIptc;
    Exiv2::copyIptcToXmp(iptc, fromIptc);
    for (const Exiv2::Xmpdatum& datum : fromIptc) {
        if (xmp.findKey(Exiv2::XmpKey(datum.key())) == xmp.end())
            xmp.add(datum);
    }
    return encodedXmp(xmp);
}

// A HEIF file's Exif and XMP items, read with libheif: Exiv2 0.27 reads no
// XMP item, and either version gives up on the whole file over a colour
// profile it finds invalid, which phones write and decoders accept.
struct HeifItems {
    QByteArray exif; // TIFF structure
    std::string xmp;
};
std::optional<HeifItems> heifItems(ByteSpan heif) {
    if (heif_check_filetype(heif.data(), int(std::min<size_t>(heif.size(), 12))) ==
        heif_filetype_no)
        return std::nullopt;
    const std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                         heif_context_free);
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_read_from_memory_without_copy(context.get(), heif.data(), heif.size(), nullptr)
                .code != heif_error_Ok ||
        heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return std::nullopt;
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(
        rawHandle, heif_image_handle_release);
    const auto itemsOf = [&](const char* type) {
        std::vector<heif_item_id> ids(size_t(
            std::max(heif_image_handle_get_number_of_metadata_blocks(handle.get(), type), 0)));
        ids.resize(size_t(heif_image_handle_get_list_of_metadata_block_IDs(
            handle.get(), type, ids.data(), int(ids.size()))));
        return ids;
    };
    const auto itemData = [&](heif_item_id id) {
        QByteArray data(qsizetype(heif_image_handle_get_metadata_size(handle.get(), id)), '\0');
        if (heif_image_handle_get_metadata(handle.get(), id, data.data()).code != heif_error_Ok)
            throw std::runtime_error("HEIF item not read");
        return data;
    };
    HeifItems items;
    for (heif_item_id id : itemsOf("Exif")) {
        // The item starts with the offset of the TIFF header past these 4 bytes.
        const QByteArray data = itemData(id);
        const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
        const quint64 offset = data.size() < 4
                                   ? quint64(data.size())
                                   : quint64(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (offset + 4 >= quint64(data.size()))
            throw std::runtime_error("HEIF Exif item without TIFF structure");
        items.exif = data.mid(qsizetype(offset + 4));
        break;
    }
    for (heif_item_id id : itemsOf("mime")) {
        const char* type = heif_image_handle_get_metadata_content_type(handle.get(), id);
        if (type && std::strcmp(type, "application/rdf+xml") == 0) {
            items.xmp = itemData(id).toStdString();
            break;
        }
    }
    return items;
}

// Joins a JPEG's extended XMP into `xmp`, which Exiv2 reads without it.
// Returns false when the source's extended XMP is there but cannot be read.
bool joinedExtendedXmp(ByteSpan jpeg, Exiv2::XmpData& xmp) {
    const auto note = xmp.findKey(Exiv2::XmpKey("Xmp.xmpNote.HasExtendedXMP"));
    if (note == xmp.end())
        return true;
    const QByteArray guid = QByteArray::fromStdString(note->toString());
    xmp.erase(note); // refers to segments the output will not have as they are
    bool complete = false;
    const QByteArray extended = MetadataEdits::jpegExtendedXmp(jpeg, guid, &complete);
    if (!complete)
        return extended.isEmpty(); // a note without its segments carries nothing
    Exiv2::XmpData more;
    if (Exiv2::XmpParser::decode(more, extended.toStdString()) != 0)
        return false;
    for (const Exiv2::Xmpdatum& datum : more) {
        if (xmp.findKey(Exiv2::XmpKey(datum.key())) == xmp.end())
            xmp.add(datum);
    }
    return true;
}

// The metadata of `source`, a file Exiv2 knows as `image` (for a JPEG, only
// its metadata segments).
void readWithExiv2(Exiv2::Image& image, ByteSpan source, SourceMetadata& metadata) {
    image.readMetadata();
    if (image.imageType() == Exiv2::ImageType::jpeg && !joinedExtendedXmp(source, image.xmpData()))
        metadata.unreadable = true;
    const bool gif = image.imageType() == Exiv2::ImageType::gif;
    const MetadataEdits::GifText gifText =
        gif ? MetadataEdits::gifText(source) : MetadataEdits::GifText{};
    if (gif)
        Exiv2::XmpParser::decode(image.xmpData(), gifText.xmp.toStdString());
    metadata.exif = fittedExif(image.exifData(), image.byteOrder());
    if (!image.iptcData().empty()) {
        const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(image.iptcData());
        metadata.iptc = bytes(iptc);
    }
    metadata.xmp = fittedXmp(image.xmpData());
    metadata.comment = gif ? gifText.comment : QByteArray::fromStdString(image.comment());
}

void readHeifItems(const HeifItems& items, SourceMetadata& metadata) {
    Exiv2::ExifData exif;
    const Exiv2::ByteOrder order =
        items.exif.isEmpty()
            ? Exiv2::littleEndian
            : Exiv2::ExifParser::decode(exif, data(items.exif), uint32_t(items.exif.size()));
    metadata.exif = fittedExif(exif, order);
    Exiv2::XmpData xmp;
    if (Exiv2::XmpParser::decode(xmp, items.xmp) != 0)
        throw std::runtime_error("XMP not read");
    metadata.xmp = fittedXmp(xmp);
}

// A JPEG packet too large for one segment: the standard part, which names
// the extended part by the MD5 of its bytes, and the extended part.
struct SplitXmp {
    QByteArray standard;
    QByteArray extended;
    QByteArray guid;
};
SplitXmp splitXmp(const QByteArray& packet) {
    Exiv2::XmpData standard;
    if (Exiv2::XmpParser::decode(standard, packet.toStdString()) != 0)
        throw std::runtime_error("XMP not read");
    // Whole top-level properties, the largest first, move to the extended part.
    std::map<std::string, size_t> sizes;
    const auto topLevel = [](const std::string& key) {
        return key.substr(0, key.find_first_of("[/"));
    };
    for (const Exiv2::Xmpdatum& datum : standard)
        sizes[topLevel(datum.key())] += datum.key().size() + size_t(datum.size());
    std::vector<std::pair<size_t, std::string>> largestFirst;
    for (const auto& [key, size] : sizes)
        largestFirst.emplace_back(size, key);
    std::sort(largestFirst.rbegin(), largestFirst.rend());
    const Exiv2::XmpKey noteKey("Xmp.xmpNote.HasExtendedXMP");
    standard[noteKey.key()] = std::string(32, '0'); // the GUID's length, for measuring
    Exiv2::XmpData extended;
    for (const auto& [size, property] : largestFirst) {
        if (encodedXmp(standard).size() <= MetadataEdits::jpegXmpLimit)
            break;
        for (auto it = standard.begin(); it != standard.end();) {
            if (topLevel(it->key()) != property)
                ++it;
            else {
                extended.add(*it);
                it = standard.erase(it);
            }
        }
    }
    SplitXmp split;
    std::string extendedPacket;
    if (Exiv2::XmpParser::encode(extendedPacket, extended,
                                 Exiv2::XmpParser::useCompactFormat |
                                     Exiv2::XmpParser::omitPacketWrapper) != 0)
        throw std::runtime_error("XMP not encoded");
    split.extended = QByteArray::fromStdString(extendedPacket);
    split.guid =
        QCryptographicHash::hash(split.extended, QCryptographicHash::Md5).toHex().toUpper();
    standard[noteKey.key()] = split.guid.toStdString();
    split.standard = encodedXmp(standard);
    if (split.standard.isEmpty() || split.standard.size() > MetadataEdits::jpegXmpLimit)
        throw std::runtime_error("XMP does not fit");
    return split;
}

// Whether the output Exiv2 wrote holds what it was given: it drops entries,
// or all of a block, without an error.
void checkWritten(const QByteArray& written, const SourceMetadata& source) {
    const auto image = Exiv2::ImageFactory::open(data(written), ExivSize(written.size()));
    image->readMetadata();
    Exiv2::ExifData exif;
    if (!source.exif.isEmpty())
        Exiv2::ExifParser::decode(exif, data(source.exif), uint32_t(source.exif.size()));
    for (const Exiv2::Exifdatum& datum : exif) {
        if (image->exifData().findKey(Exiv2::ExifKey(datum.key())) == image->exifData().end())
            throw std::runtime_error("Exif not written: " + datum.key());
    }
    if ((!source.iptc.isEmpty() && image->iptcData().empty()) ||
        (!source.xmp.isEmpty() && image->xmpData().empty()))
        throw std::runtime_error("IPTC or XMP not written");
}

// JPEG and TIFF: Exiv2 writes every block into the encoded file itself.
QByteArray rewritten(QByteArray encoded, OutputType type, const SourceMetadata& source,
                     bool preserve, int width, int height) {
    // Exiv2 refuses a whole JPEG over a colour profile it finds invalid.
    const QByteArray profile = MetadataEdits::takeJpegSegments(encoded, 0xE2);
    const auto image = Exiv2::ImageFactory::open(data(encoded), ExivSize(encoded.size()));
    image->readMetadata();
    image->clearExifData();
    image->clearIptcData();
    image->clearXmpData();
    image->clearXmpPacket();
    image->clearComment();
    std::optional<SplitXmp> split;
    if (preserve) {
        Exiv2::ByteOrder order;
        image->setExifData(exifFor(source, width, height, &order));
        image->setByteOrder(order);
        image->setIptcData(iptcOf(source));
        if (type == OutputType::jpeg && source.xmp.size() > MetadataEdits::jpegXmpLimit) {
            split = splitXmp(source.xmp); // Exiv2 writes one segment at most
        } else if (!source.xmp.isEmpty()) {
            image->setXmpPacket(source.xmp.toStdString());
            image->writeXmpFromPacket(true);
        }
        if (!source.comment.isEmpty() && type == OutputType::jpeg) // TIFF has none
            image->setComment(source.comment.toStdString());
    }
    image->writeMetadata();
    // A TIFF is the whole image: it is held once by Exiv2 and once here,
    // never more. Exiv2 either edited `encoded` in place or wrote a copy.
    Exiv2::BasicIo& io = image->io();
    io.open();
    const Exiv2::byte* result = io.mmap();
    const bool inPlace = result >= data(encoded) && result < data(encoded) + encoded.size();
    if (!inPlace)
        encoded = QByteArray();
    QByteArray written(reinterpret_cast<const char*>(result), qsizetype(io.size()));
    io.munmap();
    io.close();
    if (split)
        written = MetadataEdits::jpegWithSegments(
            written, MetadataEdits::jpegXmpSegments(split->standard, split->extended, split->guid));
    if (preserve)
        checkWritten(written, source);
    return profile.isEmpty() ? written : MetadataEdits::jpegWithSegments(written, profile);
}

QByteArray withPngChunks(const QByteArray& png, const SourceMetadata& source, bool preserve,
                         int width, int height) {
    QByteArray chunks = source.pngColourChunks;
    if (preserve) {
        const Metadata::Payloads payloads = Metadata::payloads(source, width, height);
        if (!payloads.exif.isEmpty())
            chunks += MetadataEdits::pngChunk("eXIf", payloads.exif);
        if (!payloads.xmp.isEmpty())
            chunks += MetadataEdits::pngChunk(
                "iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + payloads.xmp);
    }
    return chunks.isEmpty() ? png : MetadataEdits::pngWithChunks(png, chunks);
}

} // namespace

namespace Metadata {

SourceMetadata read(ByteSpan source) {
    initializeOnce();
    SourceMetadata metadata;
    try {
        if (const std::optional<HeifItems> items = heifItems(source)) {
            readHeifItems(*items, metadata);
        } else {
            const QByteArray segments = MetadataEdits::jpegMetadataSegments(source);
            const ByteSpan readable =
                segments.isEmpty() ? source : ByteSpan(data(segments), size_t(segments.size()));
            // A type Exiv2 does not know has nothing it could carry.
            if (Exiv2::ImageFactory::getType(readable.data(), ExivSize(readable.size())) !=
                Exiv2::ImageType::none)
                readWithExiv2(
                    *Exiv2::ImageFactory::open(readable.data(), ExivSize(readable.size())), source,
                    metadata);
        }
    } catch (const std::exception&) { // Exiv2's errors too, in 0.27 and 0.28
        metadata = SourceMetadata{};
        metadata.unreadable = true;
    }
    metadata.pngColourChunks = MetadataEdits::pngColourChunks(source);
    return metadata;
}

QByteArray applied(QByteArray encoded, OutputType type, const SourceMetadata& source, bool preserve,
                   int width, int height) {
    initializeOnce();
    try {
        switch (type) {
        case OutputType::png:
            return withPngChunks(encoded, source, preserve, width, height);
        case OutputType::jpeg:
        case OutputType::tiff:
            return rewritten(std::move(encoded), type, source, preserve, width, height);
        case OutputType::heic: // their metadata are items or chunks of the container: payloads()
        case OutputType::avif:
        case OutputType::webp:
            return encoded;
        }
    } catch (const std::exception&) { // Exiv2's errors too, in 0.27 and 0.28
    }
    throw EncoderError(preserve ? EncoderError::metadataNotWritten : EncoderError::finalizeFailed);
}

Payloads payloads(const SourceMetadata& source, int width, int height) {
    initializeOnce();
    try {
        Exiv2::ByteOrder order;
        Exiv2::ExifData exif = exifFor(source, width, height, &order);
        return {encodedExif(exif, order), xmpWithIptc(source)};
    } catch (const std::exception&) { // Exiv2's errors too, in 0.27 and 0.28
    }
    throw EncoderError(EncoderError::metadataNotWritten);
}

} // namespace Metadata
