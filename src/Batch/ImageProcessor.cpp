// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/ImageProcessor.h"

#include "Batch/FolderListing.h"
#include "Batch/ImagePipeline.h"
#include "Batch/OutputClaims.h"
#include "Batch/OutputPathResolver.h"
#include "Models/Errors.h"
#include "Models/FileURLs.h"
#include "Runtime/ProcessLimits.h"
#include "Settings/ResizeSettings.h"

#include <QFile>

#include <algorithm>
#include <memory>

struct ImageProcessor::Batch {
    std::vector<ImageProcessingRequest> requests;
    ResizeSettingsSnapshot settings;
    int limit = 2;
    int inFlight = 0; // checking, waiting or resizing
    size_t next = 0;
    bool checking = false;
    bool ended = false;
    bool stopped = false; // by the user
};

struct ImageProcessor::File {
    std::shared_ptr<Batch> batch;
    ImageProcessingRequest request;
    ImagePipeline::OpenedSource source;
    ImagePipeline::CheckedFile checked;
    ImagePipeline::ClaimedOutput output;
    std::optional<ImageProcessingOutcome> outcome; // set by a stage that ended the file
    std::int64_t outputLongEdge = 0;
};

// One drop: its settings as they were at the drop, and its files once listed.
struct ImageProcessor::Listing {
    ResizeSettingsSnapshot settings;
    std::vector<std::filesystem::path> files;
    bool done = false;
    std::atomic<bool> cancelled = false;
};

namespace {

bool hasAcceptedExtension(const std::filesystem::path& path) {
    const std::string extension = path.extension().native();
    if (extension.size() < 2)
        return false;
    return ImageProcessor::acceptedExtensions().contains(
        QString::fromStdString(extension.substr(1)).toLower());
}

std::string skippedFolderName(const ResizeSettingsSnapshot& settings) {
    return OutputPathResolver::sanitizedFolderName(settings.outputFolderName).toStdString();
}

} // namespace

ImageProcessor::ImageProcessor(QObject* parent)
    : QObject(parent), m_memoryBudget(ProcessLimits::memoryBudget()) {
    // Each batch bounds itself; the pool only has to never be the limit.
    m_fileTasks.setMaxThreadCount(1024);
    // A worker's own share, plus room for its libraries and threads: one
    // file beyond the budget runs alone, as it would here.
    m_pool.setMemoryLimit(m_memoryBudget + std::int64_t(768) * 1024 * 1024);
    m_graceTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, [this] {
        m_pool.endAll();
        OutputClaims::abandonAll();
        endStop(true);
    });
}

ImageProcessor::~ImageProcessor() {
    cancelListings();
    m_pool.endAll();
    m_fileTasks.waitForDone();
}

const QSet<QString>& ImageProcessor::acceptedExtensions() {
    static const QSet<QString> extensions{
        QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("jpe"),
        QStringLiteral("png"),  QStringLiteral("heic"), QStringLiteral("heif"),
        QStringLiteral("tif"),  QStringLiteral("tiff"), QStringLiteral("gif"),
        QStringLiteral("webp"), QStringLiteral("avif"), QStringLiteral("jxl")};
    return extensions;
}

std::vector<std::filesystem::path>
ImageProcessor::expandDirectories(const std::vector<std::filesystem::path>& paths,
                                  const std::string& skippedFolderName) {
    FolderListing::Options options;
    options.skippedFolderName = skippedFolderName;
    return FolderListing::list(paths, options);
}

void ImageProcessor::enqueue(const QList<QUrl>& urls, const ResizeSettings& settings) {
    enqueueURLs(urls, settings.snapshot());
}

void ImageProcessor::enqueue(const QList<QUrl>& urls, const ResizeSettingsSnapshot& settings) {
    enqueueURLs(urls, settings);
}

void ImageProcessor::enqueueURLs(const QList<QUrl>& urls, const ResizeSettingsSnapshot& settings) {
    if (m_stopping)
        return;
    // Only file URLs; the rest are dropped without a word.
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : urls) {
        if (auto path = FileURLs::localPath(url))
            paths.push_back(std::move(*path));
    }
    auto listing = std::make_shared<Listing>();
    listing->settings = settings;
    // The walk holds the listing, and with it this flag.
    FolderListing::Options options{
        .skippedFolderName = skippedFolderName(settings),
        .keeps = hasAcceptedExtension,
        .limit = size_t(std::max<qsizetype>(0, maximumJobCount - m_jobs.size())),
        .cancelled = &listing->cancelled};
    if (std::none_of(paths.begin(), paths.end(), FolderListing::isDirectory)) {
        // Nothing to walk: listed here, and nothing at all happens when
        // nothing is accepted.
        listing->files = FolderListing::list(paths, options);
        listing->done = true;
        if (listing->files.empty())
            return;
    } else {
        // Room is counted at the drop; the cap is applied again on appending.
        m_fileTasks.start([this, listing, paths = std::move(paths), options = std::move(options)] {
            std::vector<std::filesystem::path> files = FolderListing::list(paths, options);
            QMetaObject::invokeMethod(
                this,
                [this, listing, files = std::move(files)]() mutable {
                    listing->files = std::move(files);
                    listing->done = true;
                    appendListed();
                },
                Qt::QueuedConnection);
        });
    }
    // Workers take longer to start than the first file takes to be opened:
    // started now, they are ready by the time it is.
    m_pool.prestart(listing->done
                        ? std::min(int(listing->files.size()), ProcessLimits::parallelismLimit())
                        : ProcessLimits::parallelismLimit());
    ++m_activeBatchCount;
    m_listings.push_back(std::move(listing));
    appendListed();
    setIsProcessing(m_activeBatchCount > 0);
}

void ImageProcessor::appendListed() {
    while (!m_listings.empty() && m_listings.front()->done) {
        const std::shared_ptr<Listing> listing = m_listings.front();
        m_listings.pop_front();
        startBatch(std::move(listing->files), listing->settings);
    }
}

void ImageProcessor::startBatch(std::vector<std::filesystem::path> files,
                                const ResizeSettingsSnapshot& settings) {
    const qsizetype room = std::max<qsizetype>(0, maximumJobCount - m_jobs.size());
    if (files.size() > size_t(room))
        files.resize(size_t(room));
    if (files.empty() || m_stopping) {
        endBatch();
        return;
    }

    auto batch = std::make_shared<Batch>();
    const qsizetype first = m_jobs.size();
    m_jobs.reserve(first + qsizetype(files.size()));
    batch->requests.reserve(files.size());
    for (auto& file : files) {
        auto* job = new JobItem(std::move(file), this);
        batch->requests.push_back({job->id(), job->sourceURL()});
        m_jobs.append(job);
        m_jobsByID.insert(job->id(), job);
    }
    Q_EMIT jobsAppended(first, qsizetype(batch->requests.size()));
    Q_EMIT jobsChanged();

    batch->settings = settings;
    batch->limit = ProcessLimits::parallelismLimit();
    m_batches.push_back(batch);
    // The batch starts from the event loop, not inside this call.
    QMetaObject::invokeMethod(
        this, [this, batch] { startNext(batch); }, Qt::QueuedConnection);
}

void ImageProcessor::endBatch() {
    if (--m_activeBatchCount == 0)
        setIsProcessing(false);
}

void ImageProcessor::startNext(const std::shared_ptr<Batch>& batch) {
    // One check at a time per batch, so that its files queue for memory in
    // request order. A check reads a header only: it never holds a file up.
    if (m_stopping || batch->checking || batch->next >= batch->requests.size() ||
        batch->inFlight >= batch->limit) {
        endIfDrained(batch);
        return;
    }
    auto file = std::make_shared<File>();
    file->batch = batch;
    file->request = batch->requests[batch->next++];
    batch->checking = true;
    ++batch->inFlight;
    ++m_inFlight;
    onPool(
        file, [](File& f) { f.source = ImagePipeline::open(f.request.sourceURL); },
        &ImageProcessor::opened);
}

void ImageProcessor::onPool(const std::shared_ptr<File>& file, std::function<void(File&)> work,
                            void (ImageProcessor::*then)(const std::shared_ptr<File>&)) {
    auto stage = [this, file, work = std::move(work), then] {
        work(*file);
        QMetaObject::invokeMethod(
            this, [this, file, then] { (this->*then)(file); }, Qt::QueuedConnection);
    };
    if (m_fileStagesInline)
        stage();
    else
        m_fileTasks.start(std::move(stage));
}

bool ImageProcessor::skipIfStopped(const std::shared_ptr<File>& file) {
    if (!file->batch->stopped)
        return false;
    file->batch->checking = false;
    finish(file, ImagePipeline::stopped());
    return true;
}

bool ImageProcessor::dropIfStopping(const std::shared_ptr<File>& file) {
    if (!m_stopping)
        return false;
    --file->batch->inFlight;
    --m_inFlight;
    endIfDrained(file->batch);
    if (m_inFlight == 0)
        endStop(false);
    return true;
}

void ImageProcessor::opened(const std::shared_ptr<File>& file) {
    if (file->source.outcome) {
        file->batch->checking = false;
        finish(file, *file->source.outcome);
        return;
    }
    if (dropIfStopping(file) || skipIfStopped(file))
        return;
    WorkerProtocol::Request request;
    request.kind = WorkerProtocol::RequestKind::inspect;
    const int descriptors[] = {file->source.descriptor.get()};
    m_pool.run(request, descriptors, WorkerPool::timeLimit(0, m_workerTimeFactor),
               [this, file](const WorkerPool::Reply& reply) { inspected(file, reply); });
}

void ImageProcessor::inspected(const std::shared_ptr<File>& file, const WorkerPool::Reply& reply) {
    file->batch->checking = false;
    if (reply.ending != WorkerProtocol::Ending::done) {
        finish(file, ImagePipeline::failed(WorkerProtocol::message(reply)));
        return;
    }
    file->checked = ImagePipeline::check(file->source.working, reply.source, file->batch->settings);
    if (file->checked.outcome) {
        finish(file, *file->checked.outcome);
        return;
    }
    if (dropIfStopping(file) || skipIfStopped(file))
        return;
    m_waiting.push_back(file);
    admitWaiting();
    startNext(file->batch);
}

void ImageProcessor::admitWaiting() {
    while (!m_waiting.empty() && !m_stopping) {
        // Strictly in turn, so a large file is not overtaken for ever; one
        // beyond the whole budget waits until nothing else resizes.
        const std::int64_t memory = m_waiting.front()->checked.estimatedMemory;
        if (m_filesResizing > 0 && m_memoryInFlight + memory > m_memoryBudget)
            return;
        const std::shared_ptr<File> file = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_filesResizing;
        m_memoryInFlight += memory;
        if (JobItem* item = job(file->request.id))
            item->setStatus(JobStatus::running());
        onPool(
            file,
            [](File& f) {
                try {
                    f.output = ImagePipeline::claimOutput(f.source, f.batch->settings);
                } catch (const std::exception& error) {
                    f.outcome = ImagePipeline::failed(ImagePipeline::messageOf(error),
                                                      f.checked.sourceLongEdge);
                }
            },
            &ImageProcessor::claimed);
    }
}

void ImageProcessor::claimed(const std::shared_ptr<File>& file) {
    if (file->outcome) {
        converted(file, {});
        return;
    }
    WorkerProtocol::Request request;
    request.kind = WorkerProtocol::RequestKind::convert;
    request.settings = file->checked.conversion;
    const int descriptors[] = {file->source.descriptor.get(), file->output.file.get()};
    m_pool.run(request, descriptors,
               WorkerPool::timeLimit(file->checked.sourcePixels, m_workerTimeFactor),
               [this, file](const WorkerPool::Reply& reply) { converted(file, reply); });
}

void ImageProcessor::converted(const std::shared_ptr<File>& file, const WorkerPool::Reply& reply) {
    if (!file->outcome && reply.ending == WorkerProtocol::Ending::doesNotFit)
        file->outcome = ImagePipeline::doesNotFit(file->checked.conversion.maxBytes,
                                                  file->checked.sourceLongEdge);
    else if (!file->outcome && reply.ending != WorkerProtocol::Ending::done)
        file->outcome =
            ImagePipeline::failed(WorkerProtocol::message(reply), file->checked.sourceLongEdge);
    file->outputLongEdge = reply.outputLongEdge;
    file->source.descriptor.reset();
    onPool(
        file,
        [](File& f) {
            if (f.outcome) {
                ImagePipeline::discard(f.output);
                return;
            }
            try {
                const std::filesystem::path path = f.output.path;
                const std::int64_t outputBytes = ImagePipeline::place(f.output);
                f.outcome =
                    ImageProcessingOutcome{f.checked.sourceLongEdge, f.outputLongEdge, path,
                                           JobStatus::succeeded(),   f.source.bytes,   outputBytes};
            } catch (const std::exception& error) {
                f.outcome = ImagePipeline::failed(ImagePipeline::messageOf(error),
                                                  f.checked.sourceLongEdge);
            }
        },
        &ImageProcessor::placed);
}

void ImageProcessor::placed(const std::shared_ptr<File>& file) {
    --m_filesResizing;
    m_memoryInFlight -= file->checked.estimatedMemory;
    finish(file, *file->outcome);
    admitWaiting();
}

void ImageProcessor::finish(const std::shared_ptr<File>& file,
                            const ImageProcessingOutcome& outcome) {
    const std::shared_ptr<Batch>& batch = file->batch;
    --batch->inFlight;
    --m_inFlight;
    apply({file->request.id, outcome});
    startNext(batch);
    if (m_stopping && m_inFlight == 0)
        endStop(false);
}

void ImageProcessor::endIfDrained(const std::shared_ptr<Batch>& batch) {
    const bool drained = batch->next == batch->requests.size() || m_stopping;
    if (batch->inFlight == 0 && drained && !std::exchange(batch->ended, true)) {
        std::erase(m_batches, batch);
        endBatch();
    }
}

void ImageProcessor::cancelListings() {
    for (const std::shared_ptr<Listing>& listing : m_listings)
        listing->cancelled.store(true);
}

void ImageProcessor::stopBatches() {
    if (m_stopping)
        return;
    // Drops not listed yet have no jobs: they are dropped whole.
    cancelListings();
    for (qsizetype i = 0; i < qsizetype(m_listings.size()); ++i)
        endBatch();
    m_listings.clear();
    // Files being checked end skipped once their check returns.
    for (const std::shared_ptr<Batch>& batch : std::vector(m_batches)) {
        batch->stopped = true;
        for (; batch->next < batch->requests.size(); ++batch->next)
            apply({batch->requests[batch->next].id, ImagePipeline::stopped()});
        endIfDrained(batch);
    }
    // Checked files waiting for memory have not started either; their
    // batches start nothing more now.
    for (const std::shared_ptr<File>& waiting : std::exchange(m_waiting, {}))
        finish(waiting, ImagePipeline::stopped());
}

void ImageProcessor::stop(std::chrono::milliseconds grace) {
    if (m_stopEnded)
        return;
    if (!std::exchange(m_stopping, true)) {
        cancelListings();
        // Drops still being listed never start, nor files waiting for memory.
        for (qsizetype i = 0; i < qsizetype(m_listings.size()); ++i)
            endBatch();
        m_listings.clear();
        for (const std::shared_ptr<File>& waiting : std::exchange(m_waiting, {})) {
            --waiting->batch->inFlight;
            --m_inFlight;
            endIfDrained(waiting->batch);
        }
    }
    if (m_inFlight == 0) {
        // Batches whose first files have not started yet end from the event loop.
        QMetaObject::invokeMethod(
            this, [this] { endStop(false); }, Qt::QueuedConnection);
        return;
    }
    if (!m_graceTimer.isActive() || m_graceTimer.remainingTimeAsDuration() > grace)
        m_graceTimer.start(grace);
}

void ImageProcessor::endStop(bool abandoned) {
    if (std::exchange(m_stopEnded, true))
        return;
    m_graceTimer.stop();
    m_pool.endAll();
    Q_EMIT stopped(abandoned);
}

void ImageProcessor::apply(const ImageProcessingResult& result) {
    JobItem* item = job(result.id);
    if (!item)
        return;
    const ImageProcessingOutcome& outcome = result.outcome;
    item->setSourcePixelLongEdge(outcome.sourcePixelLongEdge);
    item->setOutputPixelLongEdge(outcome.outputPixelLongEdge);
    item->setSourceBytes(outcome.sourceBytes);
    item->setOutputBytes(outcome.outputBytes);
    item->setOutputURL(outcome.outputURL);
    item->setStatus(outcome.status);
    Q_EMIT jobFinished(item);
}

bool ImageProcessor::moveOutputToTrash(JobItem* job) {
    if (!m_jobs.contains(job) || job->status() != JobStatus::succeeded() || !job->outputURL())
        return false;
    if (!QFile::moveToTrash(
            QFile::decodeName(QByteArray::fromStdString(job->outputURL()->native()))))
        return false;
    job->setOutputURL(std::nullopt);
    return true;
}

void ImageProcessor::clearCompleted() {
    removeJobs([](const JobItem* item) { return item->status().isCompleted(); });
}

void ImageProcessor::clearAll() {
    if (m_isProcessing)
        clearCompleted();
    else
        removeJobs([](const JobItem*) { return true; });
}

void ImageProcessor::removeJobs(const std::function<bool(const JobItem*)>& shouldRemove) {
    QList<JobItem*> kept;
    kept.reserve(m_jobs.size());
    RowRanges removed;
    for (qsizetype row = 0; row < m_jobs.size(); ++row) {
        JobItem* item = m_jobs[row];
        if (!shouldRemove(item)) {
            kept.append(item);
            continue;
        }
        if (!removed.isEmpty() && removed.back().first + removed.back().second == row)
            ++removed.back().second;
        else
            removed.append({row, 1});
        m_jobsByID.remove(item->id());
        item->deleteLater();
    }
    m_jobs.swap(kept);
    if (!removed.isEmpty())
        Q_EMIT jobsRemoved(removed);
    Q_EMIT jobsChanged();
}

void ImageProcessor::setIsProcessing(bool value) {
    if (m_isProcessing == value)
        return;
    m_isProcessing = value;
    Q_EMIT isProcessingChanged(value);
}
