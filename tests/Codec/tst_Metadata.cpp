// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/Errors.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSize>
#include <QTest>
#include <QtEndian>

#include <vips/vips8>
#include <zlib.h>

using namespace TestSupport;

namespace {

// Exif IFD0, Exif IFD, GPS and XMP facts, and orientation 6 in both.
QStringList cameraFacts() {
    return {"-Make=QZMAKE01",
            "-Model=QZMODEL02",
            "-Artist=QZARTIST03",
            "-Copyright=QZCOPY04",
            "-ImageDescription=QZDESC05",
            "-Software=QZSOFT06",
            "-HostComputer=QZHOST07",
            "-DateTime=2001:02:03 04:05:06",
            "-ExifIFD:DateTimeOriginal=2001:02:03 04:05:06",
            "-ExifIFD:UserComment=QZUSER08",
            "-ExifIFD:LensModel=QZLENS09",
            "-GPSLatitude=35.681",
            "-GPSLatitudeRef=N",
            "-GPSLongitude=139.767",
            "-GPSLongitudeRef=E",
            "-XMP-dc:Creator=QZXMP12",
            "-XMP-dc:Description=QZXMPDESC13",
            "-Orientation#=6",
            "-XMP-tiff:Orientation#=6",
            "-XResolution=300",
            "-YResolution=300",
            "-ResolutionUnit=inches"};
}

const QStringList iptcFacts{"-IPTC:Keywords=QZIPTC10", "-IPTC:By-line=QZBYLINE11"};

void exiftool(const fs::path& path, QStringList facts) {
    runTool("exiftool", QStringList{"-q", "-q", "-overwrite_original"} << facts << path.c_str());
}

void writeBytes(const fs::path& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// A HEIC with camera facts whose colour profile Exiv2 rejects as invalid:
// declaring 100 bytes more than it has, or followed by 4 bytes of padding.
void makeHeicWithProfile(const fs::path& path, bool padded) {
    vips::VImage image =
        vips::VImage::new_from_file(makeImage(path.parent_path() / "profiled.png",
                                              {.width = 400, .height = 300, .iccProfile = true})
                                        .c_str());
    size_t size = 0;
    const void* profile = image.get_blob(VIPS_META_ICC_NAME, &size);
    QByteArray icc(static_cast<const char*>(profile), qsizetype(size));
    if (padded)
        icc.append(4, '\0');
    else
        qToBigEndian(quint32(icc.size() + 100), icc.data());
    image = image.copy();
    vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, icc.constData(),
                             size_t(icc.size()));
    image.heifsave(path.c_str());
    exiftool(path, cameraFacts());
}

// `jpeg` with a length-0 APP5 segment before its first quantisation table.
void insertEmptyApp5(const fs::path& jpeg) {
    QByteArray bytes = readBytes(jpeg);
    writeBytes(jpeg, bytes.insert(bytes.indexOf("\xFF\xDB"), QByteArray("\xFF\xE5\0\0", 4)));
}

// `jpeg` with its IFD0 Software entry of type 0, which TIFF does not define.
void untypeSoftware(const fs::path& jpeg) {
    QByteArray bytes = readBytes(jpeg);
    const qsizetype tiff = bytes.indexOf(QByteArray("Exif\0\0", 6)) + 6;
    const bool little = bytes[tiff] == 'I';
    const auto read = [&](qsizetype at, int size) {
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value |= quint32(uchar(bytes[at + i])) << 8 * (little ? i : size - 1 - i);
        return value;
    };
    const qsizetype ifd0 = tiff + read(tiff + 4, 4);
    for (quint32 entry = 0; entry < read(ifd0, 2); ++entry) {
        const qsizetype at = ifd0 + 2 + 12 * entry;
        if (read(at, 2) == 0x0131)
            bytes[at + 2] = bytes[at + 3] = '\0';
    }
    writeBytes(jpeg, bytes);
}

QString filler(char c, int size) {
    return QString(size, QChar::fromLatin1(c));
}

const QStringList plantedTokens{"QZMAKE01",   "QZMODEL02", "QZARTIST03",  "QZCOPY04", "QZDESC05",
                                "QZSOFT06",   "QZHOST07",  "QZUSER08",    "QZLENS09", "QZIPTC10",
                                "QZBYLINE11", "QZXMP12",   "QZXMPDESC13", "QZCOM14",  "QZNOTE12",
                                "2001:02:03", "2001-02-03"};

// `png` with gAMA (1/2.2) and cHRM (the sRGB primaries) right after IHDR, in
// place of any it had: ImageMagick 6 writes both of its own accord, 7 does not.
void plantPngColourChunks(const fs::path& path) {
    const auto be32 = [](std::uint32_t value) {
        const std::uint32_t big = qToBigEndian(value);
        return QByteArray(reinterpret_cast<const char*>(&big), 4);
    };
    const auto chunk = [&](const char* type,
                           std::initializer_list<std::uint32_t> values) -> QByteArray {
        QByteArray body(type);
        for (std::uint32_t value : values)
            body += be32(value);
        const uLong crc =
            ::crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()));
        return be32(std::uint32_t(body.size() - 4)) + body + be32(std::uint32_t(crc));
    };
    const QByteArray png = readBytes(path);
    constexpr qsizetype afterHeader = 8 + 25; // the signature and IHDR
    QByteArray out = png.left(afterHeader) + chunk("gAMA", {45455}) +
                     chunk("cHRM", {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000});
    for (qsizetype at = afterHeader; at + 12 <= png.size();) {
        const qsizetype next = at + 12 + qFromBigEndian<std::uint32_t>(png.constData() + at);
        const QByteArray type = png.mid(at + 4, 4);
        if (type != "gAMA" && type != "cHRM")
            out += png.mid(at, next - at);
        at = next;
    }
    writeBytes(path, out);
}

// Makes `name` in `folder`, 400 x 300 pixels:
//   camera.jpg   Exif (IFD0 texts, maker note, thumbnail), GPS, IPTC, XMP,
//                comment, sRGB profile, 300 dpi, orientation 6 (Exif and XMP)
//   exiftool.tif the same groups but maker note, comment and thumbnail
//   magick.png   ImageMagick's copy of camera.jpg ("Raw profile type" chunks)
//   exif.png     eXIf, iTXt XMP, tEXt, gAMA, cHRM, sRGB, pHYs 300 dpi
//   phone.heic   Exif and XMP, sRGB profile; web.webp, phone.avif and
//                camera.jxl likewise
//   comment.gif  a comment and XMP
//   the rest     camera facts in files that once lost them all or in part:
//                see their rows
fs::path makeMetadataSource(const fs::path& folder, const QString& name) {
    const fs::path path = folder / name.toStdString();
    const ImageSpec photo{.width = 400, .height = 300, .iccProfile = true};
    if (name == u"camera.jpg") {
        makeImage(path, photo);
        const fs::path thumbnail = makeImage(folder / "thumbnail.jpg", {.width = 80, .height = 60});
        // exiftool writes a maker note only under a maker it knows.
        exiftool(path, {"-Make=Canon", "-ExifIFD:MakerNoteCanon=QZNOTE12 maker data"});
        exiftool(path, cameraFacts() << iptcFacts << "-Comment=QZCOM14"
                                     << QStringLiteral("-ThumbnailImage<=") + thumbnail.c_str());
    } else if (name == u"exiftool.tif") {
        exiftool(makeImage(path, photo), cameraFacts() << iptcFacts);
    } else if (name == u"magick.png") {
        runTool("convert", {makeMetadataSource(folder, "camera.jpg").c_str(), path.c_str()});
    } else if (name == u"exif.png") {
        const fs::path plain = makeImage(folder / "plain.png", {.width = 400, .height = 300});
        runTool("convert", {plain.c_str(), path.c_str()}); // tEXt dates
        plantPngColourChunks(path);
        exiftool(path, cameraFacts() << "-PNG:SRGBRendering=Perceptual"
                                     << "-PNG-pHYs:PixelsPerUnitX=11811"
                                     << "-PNG-pHYs:PixelsPerUnitY=11811"
                                     << "-PNG-pHYs:PixelUnits=meters");
    } else if (name == u"phone.heic" || name == u"web.webp" || name == u"phone.avif") {
        exiftool(makeImage(path, photo), cameraFacts());
    } else if (name == u"camera.jxl") { // exiftool puts the codestream into a container first
        exiftool(makeImage(path, photo), cameraFacts() << "-m");
    } else if (name == u"icc-size.heic" || name == u"icc-padded.heic") {
        makeHeicWithProfile(path, name == u"icc-padded.heic");
    } else if (name == u"app5.jpg") {
        exiftool(makeImage(path, photo), cameraFacts() << iptcFacts);
        insertEmptyApp5(path);
    } else if (name == u"bad-type.jpg") {
        exiftool(makeImage(path, photo), cameraFacts() << iptcFacts);
        untypeSoftware(path);
    } else if (name == u"extended.jpg") { // exiftool moves the description to extended XMP
        exiftool(makeImage(path, photo), cameraFacts());
        exiftool(path, {"-XMP-dc:Description=" + filler('x', 70000)});
    } else if (name.startsWith(u"large-xmp.")) {
        exiftool(makeImage(path, photo), cameraFacts());
        exiftool(path, {"-XMP-dc:Description=" + filler('y', 100000)});
    } else if (name == u"large-exif.tif") { // too much Exif for one JPEG segment
        exiftool(makeImage(path, photo), cameraFacts()
                                             << "-ExifIFD:UserComment=" + filler('z', 70000));
    } else if (name == u"comment.gif") {
        exiftool(makeImage(path, {.width = 400, .height = 300}),
                 {"-Comment=QZCOM14", "-XMP-dc:Creator=QZXMP12"});
    }
    return path;
}

// exiftool -j -G1 -a -n: "Group:Tag" to value.
QJsonObject exiftoolTags(const fs::path& path) {
    const QString json = runTool("exiftool", {"-j", "-G1", "-a", "-n", path.c_str()});
    return QJsonDocument::fromJson(json.toUtf8()).array().at(0).toObject();
}

// The text facts the sources carry (each unique, so one found in an output
// leaked) in `bytes`: plainly, as hex text (any case, across line
// breaks), or the same inside any zlib stream they hold.
QStringList leakedTokens(const QByteArray& bytes) {
    QByteArray squeezed = bytes.toLower();
    squeezed.removeIf([](char c) { return c == '\n' || c == '\r' || c == ' '; });
    QStringList found;
    for (const QString& token : plantedTokens) {
        const QByteArray plain = token.toLatin1();
        if (bytes.contains(plain) || squeezed.contains(plain.toHex()))
            found.append(token);
    }
    // Every place that starts like a zlib stream (PNG zTXt, iTXt, iCCP, IDAT).
    for (qsizetype i = 0; i + 2 < bytes.size(); ++i) {
        const auto cmf = uchar(bytes[i]), flg = uchar(bytes[i + 1]);
        if (cmf != 0x78 || (cmf * 256 + flg) % 31 != 0)
            continue;
        QByteArray inflated(1 << 20, Qt::Uninitialized);
        uLongf size = uLongf(inflated.size());
        uLong consumed = uLong(bytes.size() - i);
        const int result =
            ::uncompress2(reinterpret_cast<Bytef*>(inflated.data()), &size,
                          reinterpret_cast<const Bytef*>(bytes.constData() + i), &consumed);
        if ((result == Z_OK || result == Z_BUF_ERROR) && size > 0) {
            inflated.truncate(qsizetype(size));
            for (const QString& token : leakedTokens(inflated))
                found.append(token + u" (compressed)");
        }
    }
    return found;
}

struct Source {
    const char* name;
    bool icc;
    bool dpi300;
    bool pngColour;
    bool turned;                // stored turned by orientation 6, which the reader applies
    bool jpegKeepFails = false; // kept metadata that JPEG cannot hold
};
// clang-format off
constexpr Source sources[] = {
    {"camera.jpg",      true,  true,  false, true},
    {"exiftool.tif",    true,  true,  false, true},
    {"magick.png",      true,  true,  false, false}, // its Exif is hex text, which no reader applies
    {"exif.png",        false, true,  true,  true},
    {"phone.heic",      true,  false, false, false}, // HEIF ignores Exif orientation
    {"web.webp",        true,  true,  false, true},
    {"phone.avif",      true,  false, false, false}, // HEIF ignores Exif orientation
    {"camera.jxl",      false, false, false, false}, // sRGB as libjxl names it; upright codestream
    {"comment.gif",     false, false, false, false},
    {"icc-size.heic",   false, false, false, false}, // a profile exiftool cannot read either
    {"icc-padded.heic", true,  false, false, false},
    {"app5.jpg",        true,  true,  false, true},
    {"bad-type.jpg",    true,  true,  false, true},
    {"extended.jpg",    true,  true,  false, true},
    {"large-xmp.png",   true,  false, false, true},
    {"large-xmp.tif",   true,  true,  false, true},
    {"large-xmp.heic",  true,  false, false, false},
    {"large-exif.tif",  true,  true,  false, true,  true},
};
// clang-format on

// What a stripped output may hold: the file itself, its colour profile and
// chunks, density and (TIFF) layout. Any PNG text chunk shows as another tag.
bool allowedWhenStripped(const QString& key, OutputType type) {
    static const QStringList groups{"ExifTool", "System",    "File", "Composite", "JFIF",
                                    "PNG-pHYs", "QuickTime", "Meta", "RIFF"};
    // ICC_Profile: the kept profile, as newer exiftool names one it cannot parse.
    static const QStringList pngTags{"ImageWidth",  "ImageHeight",   "BitDepth",    "ColorType",
                                     "Compression", "Filter",        "Interlace",   "ProfileName",
                                     "Gamma",       "WhitePointX",   "WhitePointY", "RedX",
                                     "RedY",        "GreenX",        "GreenY",      "BlueX",
                                     "BlueY",       "SRGBRendering", "ICC_Profile"};
    const QString group = key.section(u':', 0, 0);
    return key == u"SourceFile" || (groups.contains(group) && key != u"File:Comment") ||
           group.startsWith(u"ICC") ||
           (group == u"PNG" && pngTags.contains(key.section(u':', 1))) ||
           (type == OutputType::tiff && group == u"IFD0" && !key.endsWith(u"Software") &&
            !key.endsWith(u":DateTime"));
}

// What the source says, as the output should repeat it. Layout, thumbnail,
// toolkit and size-dependent tags are the output's own.
bool carried(const QString& key, OutputType type) {
    static const QStringList groups{"IFD0",   "ExifIFD",  "GPS",      "IPTC",
                                    "XMP-dc", "XMP-tiff", "XMP-exif", "XMP-photoshop"};
    static const QStringList ownTags{
        "ImageWidth",      "ImageHeight",         "BitsPerSample",   "Compression",
        "StripOffsets",    "RowsPerStrip",        "StripByteCounts", "PhotometricInterpretation",
        "SamplesPerPixel", "PlanarConfiguration", "Predictor",       "SampleFormat",
        "ExifImageWidth",  "ExifImageHeight",     "Orientation",     "XResolution",
        "YResolution",     "ResolutionUnit",      "YCbCrPositioning"};
    const QString group = key.section(u':', 0, 0);
    if (!groups.contains(group) || ownTags.contains(key.section(u':', 1)))
        return false;
    // PNG, HEIF and WebP hold no IPTC; its facts go into the XMP instead.
    return group != u"IPTC" || type == OutputType::jpeg || type == OutputType::tiff;
}

} // namespace

class MetadataTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QHash<QString, QJsonObject> m_sourceTags;
    QHash<QString, QByteArray> m_sourceHashes;

private Q_SLOTS:
    void initTestCase() {
        initialize();
        for (const Source& source : sources)
            makeMetadataSource(path(m_dir), QString::fromLatin1(source.name));
        for (const Source& source : sources) { // magick.png remakes camera.jpg
            m_sourceTags.insert(source.name, exiftoolTags(path(m_dir) / source.name));
            m_sourceHashes.insert(source.name, sha256(path(m_dir) / source.name));
        }
    }

    // A colour chunk whose CRC fails is one libpng skips: it is not copied.
    void damagedColourChunkStaysBehind() {
        const fs::path source = makeImage(path(m_dir) / "damaged-gama.png", {});
        plantPngColourChunks(source);
        QByteArray bytes = readBytes(source);
        const qsizetype gama = bytes.indexOf("gAMA");
        bytes[gama + 4 + 4] = char(bytes[gama + 4 + 4] ^ 0x5A); // its CRC
        TestSupport::writeBytes(source, bytes);
        const fs::path out = path(m_dir) / "damaged-gama-out.png";
        convertFile(source, out, {64, OutputType::png, 0.8, false});
        const QByteArray written = readBytes(out);
        QVERIFY(written.contains("cHRM"));
        QVERIFY(!written.contains("gAMA"));
    }

    void policy_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("preserve");
        for (int s = 0; s < int(std::size(sources)); ++s)
            for (OutputType type : {OutputType::jpeg, OutputType::png, OutputType::tiff,
                                    OutputType::heic, OutputType::webp, OutputType::avif})
                for (bool preserve : {false, true})
                    QTest::addRow("%s to %s, %s", sources[s].name,
                                  qPrintable(OutputTypes::preferredFilenameExtension(type)),
                                  preserve ? "kept" : "stripped")
                        << s << int(type) << preserve;
    }
    void policy() {
        QFETCH(int, source);
        QFETCH(int, type);
        QFETCH(bool, preserve);
        const Source& from = sources[source];
        const auto outputType = OutputType(type);
        const fs::path out =
            path(m_dir) / (QTest::currentDataTag() + std::string(".") +
                           OutputTypes::preferredFilenameExtension(outputType).toStdString());
        if (preserve && from.jpegKeepFails && outputType == OutputType::jpeg) {
            try {
                convertFile(path(m_dir) / from.name, out, {200, outputType, 0.8, preserve});
                QFAIL("kept metadata silently lost");
            } catch (const EncoderError& error) {
                QCOMPARE(error.errorCase(), EncoderError::metadataNotWritten);
            }
            return;
        }
        try {
            convertFile(path(m_dir) / from.name, out, {200, outputType, 0.8, preserve});
        } catch (const EncoderError& error) {
            QFAIL(qPrintable(u"failed, case " + QString::number(error.errorCase())));
        }
        const QJsonObject tags = exiftoolTags(out);
        const QJsonObject& sourceTags = m_sourceTags[QString::fromLatin1(from.name)];

        // In both modes: the type asked for, every pixel readable by another
        // decoder and upright, the source untouched; orientation 1, profile,
        // density, PNG colour.
        const Decoded decoded = decode(out);
        // ImageMagick 6 reads AVIF with its HEIC coder.
        QCOMPARE(decoded.loader,
                 QStringList({"jpeg", "png", "heic", "tiff", "webp", "heic"}).at(type));
        QCOMPARE(QSize(decoded.width, decoded.height),
                 from.turned ? QSize(150, 200) : QSize(200, 150));
        QCOMPARE(sha256(path(m_dir) / from.name), m_sourceHashes[QString::fromLatin1(from.name)]);
        for (const QString& key : tags.keys()) {
            if (key.endsWith(u":Orientation"))
                QVERIFY2(tags[key].toInt() == 1, qPrintable(key));
        }
        if (from.icc)
            QCOMPARE(tags["ICC_Profile:ProfileDescription"].toString(), QStringLiteral("sRGB"));
        if (from.dpi300 && outputType == OutputType::jpeg)
            QCOMPARE(qRound(tags["JFIF:XResolution"].toDouble()), 300);
        if (from.dpi300 && outputType == OutputType::png)
            QCOMPARE(qRound(tags["PNG-pHYs:PixelsPerUnitX"].toDouble()), 11811);
        if (from.dpi300 && outputType == OutputType::tiff)
            QCOMPARE(qRound(tags["IFD0:XResolution"].toDouble()), 300);
        if (from.pngColour && outputType == OutputType::png) {
            for (const char* key : {"PNG:Gamma", "PNG:WhitePointX", "PNG:SRGBRendering"})
                QVERIFY2(tags.contains(key), key);
        }
        QVERIFY2(!tags.contains("IFD1:ThumbnailLength"), "stale EXIF thumbnail");

        if (!preserve) {
            for (const QString& key : tags.keys())
                QVERIFY2(allowedWhenStripped(key, outputType), qPrintable(key));
            const QStringList leaked = leakedTokens(readBytes(out));
            QVERIFY2(leaked.isEmpty(), qPrintable(leaked.join(u", ")));
            return;
        }

        // Kept: every fact the output type can hold, with the same value, in one Exif block.
        if (sourceTags.contains("IFD0:Make"))
            QCOMPARE(runTool("exiftool", {"-a", "-s3", "-IFD0:Make", out.c_str()}),
                     QStringLiteral("QZMAKE01\n"));
        QVERIFY2(!tags.contains("XMP-xmpNote:HasExtendedXMP") || outputType == OutputType::jpeg,
                 "dangling extended XMP");
        for (const QString& key : sourceTags.keys()) {
            if (carried(key, outputType))
                QVERIFY2(tags[key] == sourceTags[key],
                         qPrintable(key + u": " + tags[key].toVariant().toString()));
        }
        if (sourceTags.contains("ExifIFD:ExifImageWidth"))
            QCOMPARE(tags["ExifIFD:ExifImageWidth"].toInt(), from.turned ? 150 : 200);
        if (sourceTags.contains("IPTC:Keywords") && !carried("IPTC:Keywords", outputType))
            QCOMPARE(tags["XMP-dc:Subject"].toString(), QStringLiteral("QZIPTC10"));
        if (sourceTags.contains("File:Comment") && outputType == OutputType::jpeg)
            QCOMPARE(tags["File:Comment"], sourceTags["File:Comment"]);
    }
};

QTEST_GUILESS_MAIN(MetadataTest)
#include "tst_Metadata.moc"
