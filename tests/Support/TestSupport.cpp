// SPDX-License-Identifier: GPL-3.0-or-later
#include "Support/TestSupport.h"

#include "Batch/ImageProcessor.h"
#include "Batch/OutputClaims.h"
#include "Models/FileURLs.h"
#include "Runtime/FileDescriptor.h"
#include "Runtime/VipsRuntime.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <vips/vips8>

#include <fcntl.h>

#include <stdexcept>

#include <zlib.h>

namespace TestSupport {

void initialize() {
    VipsRuntime::initialize();
    // JPEG XL fixtures; the program itself writes none.
    vips_operation_block_set("VipsForeignSaveJxl", FALSE);
}

namespace {

// Smooth gradients plus a little deterministic texture: compresses like a photo.
vips::VImage photoLike(int width, int height, int bands) {
    using vips::VImage;
    const VImage xy = VImage::xyz(width, height);
    const VImage x = xy[0] * (255.0 / std::max(1, width));
    const VImage y = xy[1] * (255.0 / std::max(1, height));
    // Seeded: a fixture damaged at a fixed offset must be damaged the same
    // way every run (with fresh noise, 1 in 60 "bad code" JPEGs decoded cleanly).
    const VImage texture = VImage::gaussnoise(
        width, height,
        VImage::option()->set("sigma", 6.0)->set("mean", 0.0)->set("seed", 20241207));
    std::vector<VImage> channels{x + texture, y + texture, (x + y) * 0.5 - texture};
    if (bands == 4)
        channels.push_back((x * 0 + 128) + texture);
    const VImage rgb = VImage::bandjoin(channels);
    return rgb.cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

QString text(const fs::path& path) {
    return QString::fromStdString(path.native());
}

} // namespace

QString runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

fs::path makeImage(const fs::path& path, const ImageSpec& recipe) {
    fs::create_directories(path.parent_path());
    vips::VImage image = photoLike(recipe.width, recipe.height, recipe.alpha ? 4 : 3);
    if (recipe.iccProfile)
        image = image.icc_transform("srgb", vips::VImage::option()->set("input_profile", "srgb"));
    if (recipe.bitDepth == 16)
        image = (image * 257)
                    .cast(VIPS_FORMAT_USHORT)
                    .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    if (recipe.orientation)
        image.set(VIPS_META_ORIENTATION, recipe.orientation);
    image.write_to_file(path.c_str());
    return path;
}

Decoded decode(const fs::path& path) {
    const QString out = runTool("identify", {"-format", "%w %h %m %z\\n", text(path) + u"[0]"});
    const QStringList fields = out.split(u' ');
    Decoded decoded;
    if (fields.size() < 4)
        return decoded;
    decoded.width = fields[0].toInt();
    decoded.height = fields[1].toInt();
    decoded.loader = fields[2].toLower();
    // ImageMagick 6 (Debian 12) reads AVIF with its HEIC coder, 7 (Debian 13)
    // with an AVIF one: the same libheif underneath, one name here.
    if (decoded.loader == u"avif")
        decoded.loader = QStringLiteral("heic");
    decoded.bitDepth = fields[3].trimmed().toInt();
    return decoded;
}

std::span<const unsigned char> span(const QByteArray& bytes) {
    return {reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size())};
}

std::int64_t convertFile(const fs::path& source, const fs::path& output,
                         const FileConversion::Settings& settings) {
    // O_NONBLOCK as the parent opens sources: a FIFO must reach the codec's refusal.
    const FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const FileDescriptor out(
        ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!in.isValid() || !out.isValid())
        throw std::runtime_error("cannot open " + source.native() + " or " + output.native());
    return FileConversion::convert(in.get(), out.get(), settings);
}

QStringList temporaryFilesBelow(const fs::path& folder) {
    QStringList found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            break;
        if (OutputClaims::isTemporaryFileName(it->path().filename().native()))
            found.append(text(it->path()));
    }
    return found;
}

fs::path path(const QTemporaryDir& dir) {
    return fs::path(dir.path().toStdString());
}

void writeBytes(const fs::path& path, const QByteArray& bytes) {
    QFile file(text(path));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray readBytes(const fs::path& path) {
    QFile file(text(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sha256(const fs::path& path) {
    return QCryptographicHash::hash(readBytes(path), QCryptographicHash::Sha256);
}

fs::path makePngClaiming(const fs::path& path, std::uint32_t width, std::uint32_t height) {
    fs::path asPng = path;
    asPng += ".png";
    makeImage(asPng, {.width = 8, .height = 8});
    QByteArray png = readBytes(asPng);
    fs::remove(asPng);
    // IHDR starts after the 8-byte signature, 4-byte length and 4-byte type.
    const auto put32 = [&](qsizetype at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char((value >> (24 - 8 * i)) & 0xFF);
    };
    put32(16, width);
    put32(20, height);
    const auto crc =
        std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17));
    put32(29, crc);
    writeBytes(path, png);
    return path;
}

qsizetype entries(const fs::path& folder) {
    std::error_code error;
    return std::distance(fs::directory_iterator(folder, error), fs::directory_iterator());
}

ResizeSettingsSnapshot snapshot(std::int64_t longEdge, const QString& prefix) {
    ResizeSettingsSnapshot settings;
    settings.longEdgePx = longEdge;
    settings.filenamePrefix = prefix;
    return settings;
}

CliRun runCli(const QStringList& arguments, const fs::path& config,
              const fs::path& workingDirectory, const QString& loader) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), text(config));
    process.setProcessEnvironment(environment);
    if (!workingDirectory.empty())
        process.setWorkingDirectory(text(workingDirectory));
    const QString cli = qEnvironmentVariable("BURISORA_CLI");
    if (loader.isEmpty())
        process.start(cli, arguments);
    else
        process.start(loader, QStringList{cli} + arguments);
    CliRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitCode();
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QList<QUrl> fileURLs(std::initializer_list<fs::path> paths) {
    QList<QUrl> list;
    for (const auto& p : paths)
        list.append(FileURLs::fileURL(p));
    return list;
}

bool waitUntilIdle(ImageProcessor& processor, int milliseconds) {
    if (!processor.isProcessing())
        return true;
    QSignalSpy idle(&processor, &ImageProcessor::isProcessingChanged);
    return idle.wait(milliseconds) && !processor.isProcessing();
}

} // namespace TestSupport

char* toString(const JobStatus& status) {
    return QTest::toString(QString::number(int(status.kind())) + u' ' + status.text());
}
