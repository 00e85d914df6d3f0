// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/Metadata.h"

#include "Codec/MetadataEdits.h"
#include "Models/Errors.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

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
    "InterColorProfile", "XMLPacket", "IPTCNAA", "ImageResources",
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

// Not const: Exiv2 0.28 encodes from a modifiable ExifData.
QByteArray encodedExif(Exiv2::ExifData& exif, Exiv2::ByteOrder order) {
    if (exif.empty())
        return {};
    if (order == Exiv2::invalidByteOrder) // what HEIF and WebP sources report
        order = Exiv2::littleEndian;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, exif);
    return bytes(blob.data(), blob.size());
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

// Exiv2 0.27 reads a HEIF file's Exif, but not its XMP item.
std::string heifXmp(ByteSpan heif) {
    const std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                         heif_context_free);
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_read_from_memory_without_copy(context.get(), heif.data(), heif.size(), nullptr)
                .code != heif_error_Ok ||
        heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return {};
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(
        rawHandle, heif_image_handle_release);
    heif_item_id ids[16];
    const int count =
        heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "mime", ids, 16);
    for (int i = 0; i < count; ++i) {
        const char* type = heif_image_handle_get_metadata_content_type(handle.get(), ids[i]);
        if (!type || std::strcmp(type, "application/rdf+xml") != 0)
            continue;
        std::string packet(heif_image_handle_get_metadata_size(handle.get(), ids[i]), '\0');
        if (heif_image_handle_get_metadata(handle.get(), ids[i], packet.data()).code ==
            heif_error_Ok)
            return packet;
    }
    return {};
}

// JPEG and TIFF: Exiv2 writes every block into the encoded file itself.
QByteArray rewritten(const QByteArray& encoded, OutputType type, const SourceMetadata& source,
                     bool preserve, int width, int height) {
    const auto image = Exiv2::ImageFactory::open(data(encoded), ExivSize(encoded.size()));
    image->readMetadata();
    image->clearExifData();
    image->clearIptcData();
    image->clearXmpData();
    image->clearXmpPacket();
    image->clearComment();
    if (preserve) {
        Exiv2::ByteOrder order;
        image->setExifData(exifFor(source, width, height, &order));
        image->setByteOrder(order);
        image->setIptcData(iptcOf(source));
        if (!source.xmp.isEmpty()) {
            image->setXmpPacket(source.xmp.toStdString());
            image->writeXmpFromPacket(true);
        }
        if (!source.comment.isEmpty() && type == OutputType::jpeg) // TIFF has none
            image->setComment(source.comment.toStdString());
    }
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.open();
    const Exiv2::DataBuf result = io.read(ExivSize(io.size()));
    io.close();
    return bytes(result);
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
    metadata.pngColourChunks = MetadataEdits::pngColourChunks(source);
    try {
        const auto image = Exiv2::ImageFactory::open(source.data(), ExivSize(source.size()));
        image->readMetadata();
        if (image->imageType() == Exiv2::ImageType::bmff && image->xmpData().empty())
            Exiv2::XmpParser::decode(image->xmpData(), heifXmp(source));
        const bool gif = image->imageType() == Exiv2::ImageType::gif;
        const MetadataEdits::GifText gifText =
            gif ? MetadataEdits::gifText(source) : MetadataEdits::GifText{};
        if (gif)
            Exiv2::XmpParser::decode(image->xmpData(), gifText.xmp.toStdString());
        metadata.exif = fittedExif(image->exifData(), image->byteOrder());
        if (!image->iptcData().empty()) {
            const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(image->iptcData());
            metadata.iptc = bytes(iptc);
        }
        metadata.xmp = fittedXmp(image->xmpData());
        metadata.comment = gif ? gifText.comment : QByteArray::fromStdString(image->comment());
    } catch (const std::exception&) { // Exiv2's errors too, in 0.27 and 0.28
    }
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
            return rewritten(encoded, type, source, preserve, width, height);
        case OutputType::heic: // its metadata are items of the container: payloads()
            return encoded;
        }
    } catch (const std::exception&) { // Exiv2's errors too, in 0.27 and 0.28
    }
    throw EncoderError(EncoderError::finalizeFailed);
}

Payloads payloads(const SourceMetadata& source, int width, int height) {
    initializeOnce();
    try {
        Exiv2::ByteOrder order;
        Exiv2::ExifData exif = exifFor(source, width, height, &order);
        return {encodedExif(exif, order), xmpWithIptc(source)};
    } catch (const std::exception&) { // Exiv2's errors too, in 0.27 and 0.28
    }
    throw EncoderError(EncoderError::finalizeFailed);
}

} // namespace Metadata
