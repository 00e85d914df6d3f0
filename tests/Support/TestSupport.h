// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/FileConversion.h"
#include "Models/JobStatus.h"
#include "Settings/ResizeSettingsSnapshot.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <filesystem>
#include <initializer_list>
#include <span>

class ImageProcessor;

// Fixtures are made at test time, in temporary folders, never in the tree.
namespace TestSupport {

namespace fs = std::filesystem;

// Starts libvips as the program does; call from initTestCase().
void initialize();

struct ImageSpec {
    int width = 64;
    int height = 48;
    int orientation = 0; // 0: no EXIF orientation written
    bool alpha = false;
    bool iccProfile = false;
    int bitDepth = 8; // 16: 16 bits per sample (PNG, TIFF)
};

// Runs a tool to its end and gives its output; complains and gives none when it fails.
QString runTool(const QString& program, const QStringList& arguments);
// A photo-like image (gradients and texture) encoded by the file's extension:
// jpg, png, heic, tif, gif, webp, avif or jxl.
fs::path makeImage(const fs::path& path, const ImageSpec& recipe = {});
// A tiny valid PNG whose header claims `width` x `height`: readers see the
// claimed size, and decoding fails. Stands in for decompression bombs.
fs::path makePngClaiming(const fs::path& path, std::uint32_t width, std::uint32_t height);

struct Decoded {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    QString loader;
};
// Decoded whole by ImageMagick, independently of the code under test; all 0
// when that fails.
Decoded decode(const fs::path& path);

QByteArray sha256(const fs::path& path);
QByteArray readBytes(const fs::path& path);
void writeBytes(const fs::path& path, const QByteArray& bytes);
// `bytes` as the codec reads a source's contents.
std::span<const unsigned char> span(const QByteArray& bytes);
// FileConversion::convert from `source` into a new file `output`, on
// descriptors opened as a worker receives them. Throws what convert throws.
std::int64_t convertFile(const fs::path& source, const fs::path& output,
                         const FileConversion::Settings& settings);
// Hidden temporary files ("." + UUID + ".tmp") anywhere below `folder`.
QStringList temporaryFilesBelow(const fs::path& folder);
// Entries directly in `folder`; 0 when it does not exist.
qsizetype entries(const fs::path& folder);
fs::path path(const QTemporaryDir& dir);

// The settings of one batch: the defaults but for these.
ResizeSettingsSnapshot snapshot(std::int64_t longEdge, const QString& prefix = {});
QList<QUrl> fileURLs(std::initializer_list<fs::path> paths);
// Runs the event loop until the last batch ends; a blocking wait like the
// window's, not polling, so results arrive as fast as they would there.
bool waitUntilIdle(ImageProcessor& processor, int milliseconds = 60000);

struct CliRun {
    int exitCode = -1; // -1: did not finish
    QStringList lines;
    QString errors;
};
// burisora-cli as a new user runs it: settings in `config`, started in
// `workingDirectory`, through `loader` when one is given.
CliRun runCli(const QStringList& arguments, const fs::path& config,
              const fs::path& workingDirectory = {}, const QString& loader = {});

} // namespace TestSupport

// Lets QCOMPARE show both sides of a status, and a status be a column.
char* toString(const JobStatus& status);
Q_DECLARE_METATYPE(JobStatus)
