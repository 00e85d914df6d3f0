// SPDX-License-Identifier: GPL-3.0-or-later
#include "Services/ImagePipeline.h"

#include "Services/Errors.h"
#include "Services/ImageEncoder.h"
#include "Services/ImageIOResizer.h"
#include "Services/OutputPathResolver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

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

} // namespace

namespace ImagePipeline {

ImageProcessingOutcome process(const std::filesystem::path& sourceURL,
                               const ResizeSettingsSnapshot& settings) {
    std::optional<std::int64_t> sourceLongEdge;
    try {
        const std::filesystem::path working =
            OutputPathResolver::resolvingSymlinksInPath(sourceURL);

        struct stat info {};
        if (::lstat(working.c_str(), &info) != 0)
            return failed(SystemError(errno).errorDescription());
        if (!S_ISREG(info.st_mode))
            return {std::nullopt, std::nullopt, std::nullopt,
                    JobStatus::skipped(QStringLiteral("通常ファイルではありません"))};
        if (::access(working.c_str(), R_OK) != 0)
            return failed(QStringLiteral("ファイルの読み取り権限がありません"));

        const PixelDimensions dimensions = ImageIOResizer::readPixelDimensions(working);
        const std::int64_t w = dimensions.width;
        const std::int64_t h = dimensions.height;
        sourceLongEdge = std::max(w, h);

        if (!ImageIOResizer::withinSizeLimits(w, h))
            return {sourceLongEdge, std::nullopt, std::nullopt,
                    JobStatus::skipped(QStringLiteral("画像が大きすぎます (") + QString::number(w) +
                                       u'x' + QString::number(h) + u')')};

        const std::int64_t target = settings.skipUpscale
                                        ? std::min(settings.longEdgePx, *sourceLongEdge)
                                        : settings.longEdgePx;
        const ResizedImage resized = ImageIOResizer::resize(working, target);
        const std::int64_t outputLongEdge =
            std::max<std::int64_t>(resized.image.width(), resized.image.height());

        const QString extension = QString::fromStdString(working.extension().native()).mid(1);
        const OutputType type = OutputFormats::resolvedUTType(settings.outputFormat, extension);
        const std::filesystem::path output = OutputPathResolver::resolve(
            working, type, settings.outputFolderName, settings.filenamePrefix);
        try {
            ImageEncoder::write(resized, output, type, settings.jpegQuality, settings.preserveExif);
        } catch (...) {
            ::unlink(output.c_str()); // the placeholder, or whatever the failed write left
            throw;
        }
        return {sourceLongEdge, outputLongEdge, output, JobStatus::succeeded()};
    } catch (const std::exception& error) {
        return failed(messageOf(error), sourceLongEdge);
    } catch (...) {
        return failed(QStringLiteral("予期しないエラーが発生しました"), sourceLongEdge);
    }
}

} // namespace ImagePipeline
