// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/ImagePipeline.h"

#include "Batch/OutputClaims.h"
#include "Batch/OutputPathResolver.h"
#include "Codec/ResizeBudget.h"
#include "Models/Errors.h"

#include <QCoreApplication>

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

ImagePipeline::OpenedSource ended(ImageProcessingOutcome outcome) {
    ImagePipeline::OpenedSource source;
    source.outcome = std::move(outcome);
    return source;
}

OutputType outputTypeFor(const std::filesystem::path& working,
                         const ResizeSettingsSnapshot& settings) {
    const QString extension = QString::fromStdString(working.extension().native()).mid(1);
    return OutputFormats::resolvedUTType(settings.outputFormat, extension);
}

} // namespace

namespace ImagePipeline {

ImageProcessingOutcome failed(const QString& message, std::optional<std::int64_t> sourceLongEdge) {
    return {sourceLongEdge, std::nullopt, std::nullopt, JobStatus::failed(message), {}, {}};
}

ImageProcessingOutcome doesNotFit(std::int64_t limit, std::optional<std::int64_t> sourceLongEdge) {
    return {sourceLongEdge,
            std::nullopt,
            std::nullopt,
            JobStatus::skipped(SizeLimitError(limit).errorDescription()),
            {},
            {}};
}

ImageProcessingOutcome stopped() {
    return {
        std::nullopt, std::nullopt,
        std::nullopt, JobStatus::skipped(text(QT_TRANSLATE_NOOP("ImagePipeline", "停止しました"))),
        {},           {}};
}

QString messageOf(const std::exception& error) {
    if (const auto* localized = dynamic_cast<const LocalizedError*>(&error)) {
        const QString text = localized->errorDescription();
        if (!text.isEmpty())
            return text;
    }
    return QString::fromLocal8Bit(error.what());
}

OpenedSource open(const std::filesystem::path& sourceURL) {
    try {
        OpenedSource source;
        source.working = OutputPathResolver::resolvingSymlinksInPath(sourceURL);
        struct stat info {};
        if (::lstat(source.working.c_str(), &info) != 0)
            return ended(failed(SystemError(errno).errorDescription()));
        if (!S_ISREG(info.st_mode))
            return ended({std::nullopt,
                          std::nullopt,
                          std::nullopt,
                          JobStatus::skipped(text(
                              QT_TRANSLATE_NOOP("ImagePipeline", "通常ファイルではありません"))),
                          {},
                          {}});
        if (::access(source.working.c_str(), R_OK) != 0)
            return ended(failed(
                text(QT_TRANSLATE_NOOP("ImagePipeline", "ファイルの読み取り権限がありません"))));
        // O_NONBLOCK: a FIFO put in the file's place since must not hang us;
        // O_NOFOLLOW: nor may a link.
        source.descriptor = FileDescriptor(::open(
            source.working.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
        if (!source.descriptor.isValid() || ::fstat(source.descriptor.get(), &info) != 0 ||
            !S_ISREG(info.st_mode))
            return ended(failed(ResizeError(ResizeError::cannotOpenSource).errorDescription()));
        source.permissions = info.st_mode & 0666;
        source.bytes = info.st_size;
        return source;
    } catch (const std::exception& error) {
        return ended(failed(messageOf(error)));
    }
}

CheckedFile check(const std::filesystem::path& working, const FileConversion::SourceInfo& source,
                  const ResizeSettingsSnapshot& settings) {
    CheckedFile file;
    const std::int64_t w = source.width;
    const std::int64_t h = source.height;
    file.sourceLongEdge = std::max(w, h);
    if (!ResizeBudget::withinSizeLimits(w, h)) {
        file.outcome = {file.sourceLongEdge,
                        std::nullopt,
                        std::nullopt,
                        JobStatus::skipped(
                            text(QT_TRANSLATE_NOOP("ImagePipeline", "画像が大きすぎます (%1x%2)"))
                                .arg(w)
                                .arg(h)),
                        {},
                        {}};
        return file;
    }
    file.sourcePixels = w * h;
    file.conversion.targetLongEdge = settings.skipUpscale
                                         ? std::min(settings.longEdgePx, file.sourceLongEdge)
                                         : settings.longEdgePx;
    file.conversion.type = outputTypeFor(working, settings);
    file.conversion.quality = settings.jpegQuality;
    file.conversion.preserveExif = settings.preserveExif;
    file.conversion.maxBytes = settings.maxFileBytes;
    file.estimatedMemory = ResizeBudget::estimatedMemory(
        source, file.conversion.targetLongEdge,
        ResizeBudget::heldCopies(file.conversion.type, file.conversion.preserveExif) +
            (file.conversion.maxBytes > 0 ? 1 : 0)); // a size search holds the image whole
    return file;
}

ClaimedOutput claimOutput(const OpenedSource& source, const ResizeSettingsSnapshot& settings) {
    ClaimedOutput output;
    output.path =
        OutputPathResolver::resolve(source.working, outputTypeFor(source.working, settings),
                                    settings.outputFolderName, settings.filenamePrefix);
    const std::filesystem::path folder = output.path.parent_path();
    output.file = FileDescriptor(
        ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, source.permissions));
    if (!output.file.isValid()) { // a file system without unnamed files
        output.temporary = OutputClaims::temporaryNameIn(folder);
        output.file = FileDescriptor(OutputClaims::createExclusive(
            output.temporary, O_WRONLY | O_CLOEXEC | O_NOFOLLOW, int(source.permissions)));
        if (!output.file.isValid()) {
            output.temporary.clear();
            discard(output);
            throw EncoderError(EncoderError::cannotCreateDestination);
        }
    }
    return output;
}

std::int64_t place(ClaimedOutput& output) {
    struct stat written {};
    if (::fstat(output.file.get(), &written) != 0) {
        const int error = errno;
        discard(output);
        throw SystemError(error);
    }
    if (output.temporary.empty()) {
        // Named for a moment under a hidden name, then over the placeholder.
        output.temporary = OutputClaims::temporaryNameIn(output.path.parent_path());
        if (OutputClaims::linkExclusive(output.file.get(), output.temporary) != 0) {
            const int error = errno;
            output.temporary.clear();
            discard(output);
            throw SystemError(error);
        }
    }
    if (output.file.close() != 0 ||
        OutputClaims::moveIntoPlace(output.temporary, output.path) != 0) {
        const int error = errno;
        discard(output);
        throw SystemError(error);
    }
    output.temporary.clear();
    output.path.clear();
    return written.st_size;
}

void discard(ClaimedOutput& output) {
    output.file.reset();
    if (!output.temporary.empty())
        OutputClaims::remove(output.temporary);
    if (!output.path.empty())
        OutputClaims::remove(output.path);
    output.temporary.clear();
    output.path.clear();
}

} // namespace ImagePipeline
