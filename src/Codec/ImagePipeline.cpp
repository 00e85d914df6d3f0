// SPDX-License-Identifier: GPL-3.0-or-later
#include "Codec/ImagePipeline.h"

#include "Models/Errors.h"
#include "Codec/ImageEncoder.h"
#include "Codec/ImageIOResizer.h"
#include "Batch/OutputClaims.h"
#include "Batch/OutputPathResolver.h"

#include <QCoreApplication>

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

        const PixelDimensions dimensions = ImageIOResizer::readPixelDimensions(file.working);
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
        const ResizedImage resized = ImageIOResizer::resize(file.working, file.targetLongEdge);
        const std::int64_t outputLongEdge =
            std::max<std::int64_t>(resized.image.width(), resized.image.height());

        const QString extension = QString::fromStdString(file.working.extension().native()).mid(1);
        const OutputType type = OutputFormats::resolvedUTType(settings.outputFormat, extension);
        const std::filesystem::path output = OutputPathResolver::resolve(
            file.working, type, settings.outputFolderName, settings.filenamePrefix);
        try {
            ImageEncoder::write(resized, output, type, settings.jpegQuality, settings.preserveExif);
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

} // namespace ImagePipeline
