// SPDX-License-Identifier: GPL-3.0-or-later
#include "Support/MetadataFixtures.h"

#include "Support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <zlib.h>

namespace TestSupport {

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

const QStringList plantedTokens{"QZMAKE01",   "QZMODEL02", "QZARTIST03",  "QZCOPY04", "QZDESC05",
                                "QZSOFT06",   "QZHOST07",  "QZUSER08",    "QZLENS09", "QZIPTC10",
                                "QZBYLINE11", "QZXMP12",   "QZXMPDESC13", "QZCOM14",  "QZNOTE12",
                                "2001:02:03", "2001-02-03"};

} // namespace

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
        runTool("convert", {plain.c_str(), path.c_str()}); // gAMA, cHRM, tEXt dates
        exiftool(path, cameraFacts() << "-PNG:SRGBRendering=Perceptual"
                                     << "-PNG-pHYs:PixelsPerUnitX=11811"
                                     << "-PNG-pHYs:PixelsPerUnitY=11811"
                                     << "-PNG-pHYs:PixelUnits=meters");
    } else if (name == u"phone.heic" || name == u"web.webp") {
        exiftool(makeImage(path, photo), cameraFacts());
    } else if (name == u"comment.gif") {
        exiftool(makeImage(path, {.width = 400, .height = 300}),
                 {"-Comment=QZCOM14", "-XMP-dc:Creator=QZXMP12"});
    }
    return path;
}

QJsonObject exiftoolTags(const fs::path& path) {
    const QString json = runTool("exiftool", {"-j", "-G1", "-a", "-n", path.c_str()});
    return QJsonDocument::fromJson(json.toUtf8()).array().at(0).toObject();
}

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

} // namespace TestSupport
