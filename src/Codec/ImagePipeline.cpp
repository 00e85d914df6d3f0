// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ImagePipeline.h"

#include "Batch/OutputClaims.h"
#include "Batch/OutputPathResolver.h"
#include "Codec/FileConversion.h"
#include "Codec/ImageIOResizer.h"
#include "Models/Errors.h"
#include "Runtime/FileDescriptor.h"

#include <QCoreApplication>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

QString text(const char* japanese) {
    // Runs on pool threads: translate() is thread-safe, and the tables are
    // installed before the first batch.
    return QCoreApplication::translate("ImagePipeline", japanese);
}

QString messageOf(const std::exception& error) {
    if (const auto* localized = dynamic_cast<const LocalizedError*>(&error)) {
        const QString text = localized->errorDescription();
        if (!text.isEmpty())
            return text;
    }
    return QString::fromLocal8Bit(error.what());
}

ImageProcessingOutcome failed(const QString& message,
                              std::optional<std::int64_t> sourceLongEdge = std::nullopt) {
    return {sourceLongEdge, std::nullopt, std::nullopt, JobStatus::failed(message)};
}

// By descriptor, so the codec never sees the name. O_NONBLOCK: a FIFO put in
// the file's place must not hang the worker (the codec refuses it).
FileDescriptor openSource(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.isValid())
        throw ResizeError(ResizeError::cannotOpenSource);
    return fd;
}

// Removes the temporary file on every exit that did not move it into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : m_path(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!m_moved)
            OutputClaims::remove(m_path);
    }
    const std::filesystem::path& path() const { return m_path; }
    void markMoved() { m_moved = true; }

private:
    std::filesystem::path m_path;
    bool m_moved = false;
};

// Converts into a hidden temporary file beside `to` (the empty placeholder
// the path resolver claimed), then renames it over `to`, so the name never
// holds a partly written image. Returns the output's long edge.
std::int64_t convertInto(const std::filesystem::path& source, const std::filesystem::path& to,
                         const FileConversion::Settings& settings) {
    const FileDescriptor input = openSource(source);
    const std::string uuid =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    TemporaryFile temporary(to.parent_path() / ("." + uuid + ".tmp"));
    FileDescriptor output(
        OutputClaims::createExclusive(temporary.path(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!output.isValid())
        throw EncoderError(EncoderError::cannotCreateDestination);
    const std::int64_t longEdge = FileConversion::convert(input.get(), output.get(), settings);
    if (output.close() != 0)
        throw EncoderError(EncoderError::finalizeFailed);
    if (OutputClaims::moveIntoPlace(temporary.path(), to) != 0) {
        const int error = errno;
        OutputClaims::remove(to);
        throw SystemError(error);
    }
    temporary.markMoved();
    return longEdge;
}

ImagePipeline::CheckedFile ended(ImageProcessingOutcome outcome) {
    ImagePipeline::CheckedFile file;
    file.outcome = std::move(outcome);
    return file;
}

} // namespace

namespace ImagePipeline {

CheckedFile check(const std::filesystem::path& sourceURL, const ResizeSettingsSnapshot& settings) {
    CheckedFile file;
    std::optional<std::int64_t> sourceLongEdge;
    try {
        file.working = OutputPathResolver::resolvingSymlinksInPath(sourceURL);

        struct stat info {};
        if (::lstat(file.working.c_str(), &info) != 0)
            return ended(failed(SystemError(errno).errorDescription()));
        if (!S_ISREG(info.st_mode))
            return ended({std::nullopt, std::nullopt, std::nullopt,
                          JobStatus::skipped(text(
                              QT_TRANSLATE_NOOP("ImagePipeline", "通常ファイルではありません")))});
        if (::access(file.working.c_str(), R_OK) != 0)
            return ended(failed(
                text(QT_TRANSLATE_NOOP("ImagePipeline", "ファイルの読み取り権限がありません"))));

        const FileConversion::SourceInfo dimensions =
            FileConversion::inspect(openSource(file.working).get());
        const std::int64_t w = dimensions.width;
        const std::int64_t h = dimensions.height;
        sourceLongEdge = std::max(w, h);

        if (!ImageIOResizer::withinSizeLimits(w, h))
            return ended({sourceLongEdge, std::nullopt, std::nullopt,
                          JobStatus::skipped(
                              text(QT_TRANSLATE_NOOP("ImagePipeline", "画像が大きすぎます (%1x%2)"))
                                  .arg(w)
                                  .arg(h))});

        file.sourceLongEdge = *sourceLongEdge;
        file.targetLongEdge = settings.skipUpscale ? std::min(settings.longEdgePx, *sourceLongEdge)
                                                   : settings.longEdgePx;
        file.estimatedMemory = ImageIOResizer::estimatedMemory(dimensions, file.targetLongEdge);
        return file;
    } catch (const std::exception& error) {
        return ended(failed(messageOf(error), sourceLongEdge));
    } catch (...) {
        return ended(
            failed(text(QT_TRANSLATE_NOOP("ImagePipeline", "予期しないエラーが発生しました")),
                   sourceLongEdge));
    }
}

ImageProcessingOutcome resize(const CheckedFile& file, const ResizeSettingsSnapshot& settings) {
    if (file.outcome)
        return *file.outcome;
    try {
        const QString extension = QString::fromStdString(file.working.extension().native()).mid(1);
        const OutputType type = OutputFormats::resolvedUTType(settings.outputFormat, extension);
        const std::filesystem::path output = OutputPathResolver::resolve(
            file.working, type, settings.outputFolderName, settings.filenamePrefix);
        std::int64_t outputLongEdge = 0;
        try {
            outputLongEdge = convertInto(
                file.working, output,
                {file.targetLongEdge, type, settings.jpegQuality, settings.preserveExif});
        } catch (...) {
            OutputClaims::remove(output); // the placeholder, or whatever the failed write left
            throw;
        }
        return {file.sourceLongEdge, outputLongEdge, output, JobStatus::succeeded()};
    } catch (const std::exception& error) {
        return failed(messageOf(error), file.sourceLongEdge);
    } catch (...) {
        return failed(text(QT_TRANSLATE_NOOP("ImagePipeline", "予期しないエラーが発生しました")),
                      file.sourceLongEdge);
    }
}

ImageProcessingOutcome process(const std::filesystem::path& sourceURL,
                               const ResizeSettingsSnapshot& settings) {
    return resize(check(sourceURL, settings), settings);
}

bool isTemporaryFileName(const std::string& name) {
    return name.size() == 41 && name.front() == '.' && name.ends_with(".tmp");
}

} // namespace ImagePipeline
