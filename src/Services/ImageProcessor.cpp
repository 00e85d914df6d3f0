// SPDX-License-Identifier: GPL-3.0-or-later
#include "Services/ImageProcessor.h"

#include "Models/FileURLs.h"
#include "Services/ImagePipeline.h"
#include "Services/VipsRuntime.h"
#include "Settings/ResizeSettings.h"

#include <QPointer>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

struct ImageProcessor::Batch {
    std::vector<ImageProcessingRequest> requests;
    ResizeSettingsSnapshot settings;
    int limit = 2;
    int inFlight = 0; // checking, waiting or resizing
    size_t next = 0;
    bool checking = false;
};

namespace {

// Depth-first listing of the regular files below `folder`. Names starting
// with "." are hidden and skipped with everything under them; links are not
// followed; unreadable folders contribute nothing.
void appendRegularFiles(const std::filesystem::path& folder,
                        std::vector<std::filesystem::path>& out) {
    const auto closeDir = [](DIR* d) { ::closedir(d); };
    std::unique_ptr<DIR, decltype(closeDir)> dir(::opendir(folder.c_str()), closeDir);
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const std::filesystem::path item = folder / entry->d_name;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::lstat(item.c_str(), &info) != 0)
                continue;
            type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_LNK;
        }
        if (type == DT_REG)
            out.push_back(item);
        else if (type == DT_DIR)
            appendRegularFiles(item, out);
    }
}

bool hasAcceptedExtension(const std::filesystem::path& path) {
    const std::string extension = path.extension().native();
    if (extension.size() < 2)
        return false;
    return ImageProcessor::acceptedExtensions().contains(
        QString::fromStdString(extension.substr(1)).toLower());
}

} // namespace

ImageProcessor::ImageProcessor(QObject* parent)
    : QObject(parent), m_memoryBudget(VipsRuntime::memoryBudget()) {
    VipsRuntime::initialize();
    // Each batch bounds itself; the pool only has to never be the limit.
    m_workers.setMaxThreadCount(1024);
}

ImageProcessor::~ImageProcessor() {
    m_workers.waitForDone();
}

const QSet<QString>& ImageProcessor::acceptedExtensions() {
    static const QSet<QString> extensions{QStringLiteral("jpg"),  QStringLiteral("jpeg"),
                                          QStringLiteral("jpe"),  QStringLiteral("png"),
                                          QStringLiteral("heic"), QStringLiteral("heif"),
                                          QStringLiteral("tif"),  QStringLiteral("tiff"),
                                          QStringLiteral("gif"),  QStringLiteral("webp")};
    return extensions;
}

std::vector<std::filesystem::path>
ImageProcessor::expandDirectories(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::filesystem::path> files;
    for (const auto& path : paths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            appendRegularFiles(path, files);
        else
            files.push_back(path);
    }
    return files;
}

void ImageProcessor::enqueue(const QList<QUrl>& urls, const ResizeSettings& settings) {
    enqueueURLs(urls, [&settings] { return settings.snapshot(); });
}

void ImageProcessor::enqueue(const QList<QUrl>& urls, const ResizeSettingsSnapshot& settings) {
    enqueueURLs(urls, [&settings] { return settings; });
}

void ImageProcessor::enqueueURLs(const QList<QUrl>& urls,
                                 const std::function<ResizeSettingsSnapshot()>& snapshot) {
    // Only file URLs; the rest are dropped without a word.
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : urls) {
        if (auto path = FileURLs::localPath(url))
            paths.push_back(std::move(*path));
    }
    std::vector<std::filesystem::path> files = expandDirectories(paths);
    std::erase_if(files, [](const auto& file) { return !hasAcceptedExtension(file); });
    const qsizetype room = std::max<qsizetype>(0, maximumJobCount - m_jobs.size());
    if (files.size() > size_t(room))
        files.resize(size_t(room));
    if (files.empty())
        return;

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

    batch->settings = snapshot();
    batch->limit = VipsRuntime::parallelismLimit();
    ++m_activeBatchCount;
    setIsProcessing(true);
    // The batch starts from the event loop, not inside this call.
    QMetaObject::invokeMethod(
        this, [this, batch] { startNext(batch); }, Qt::QueuedConnection);
}

void ImageProcessor::startNext(const std::shared_ptr<Batch>& batch) {
    // One check at a time per batch, so that its files queue for memory in
    // request order. A check reads a header only: it never holds a file up.
    if (batch->checking || batch->next >= batch->requests.size() || batch->inFlight >= batch->limit)
        return;
    const ImageProcessingRequest request = batch->requests[batch->next++];
    batch->checking = true;
    ++batch->inFlight;
    const ResizeSettingsSnapshot settings = batch->settings;
    m_workers.start([this, batch, request, settings] {
        ImagePipeline::CheckedFile file = ImagePipeline::check(request.sourceURL, settings);
        QMetaObject::invokeMethod(
            this, [this, batch, request, file = std::move(file)] { checked(batch, request, file); },
            Qt::QueuedConnection);
    });
}

void ImageProcessor::checked(const std::shared_ptr<Batch>& batch,
                             const ImageProcessingRequest& request,
                             const ImagePipeline::CheckedFile& file) {
    batch->checking = false;
    if (file.outcome) {
        finish(batch, {request.id, *file.outcome});
        return;
    }
    m_waiting.push_back({batch, request, file});
    admitWaiting();
    startNext(batch);
}

void ImageProcessor::admitWaiting() {
    while (!m_waiting.empty()) {
        // Strictly in turn, so a large file is not overtaken for ever; one
        // beyond the whole budget waits until nothing else resizes.
        const std::int64_t memory = m_waiting.front().file.estimatedMemory;
        if (m_filesResizing > 0 && m_memoryInFlight + memory > m_memoryBudget)
            return;
        Waiting admitted = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_filesResizing;
        m_memoryInFlight += memory;
        if (JobItem* item = job(admitted.request.id))
            item->setStatus(JobStatus::running());
        const ResizeSettingsSnapshot settings = admitted.batch->settings;
        m_workers.start([this, admitted = std::move(admitted), settings, memory] {
            ImageProcessingResult result{admitted.request.id,
                                         ImagePipeline::resize(admitted.file, settings)};
            QMetaObject::invokeMethod(
                this,
                [this, batch = admitted.batch, memory, result = std::move(result)] {
                    --m_filesResizing;
                    m_memoryInFlight -= memory;
                    finish(batch, result);
                    admitWaiting();
                },
                Qt::QueuedConnection);
        });
    }
}

void ImageProcessor::finish(const std::shared_ptr<Batch>& batch, ImageProcessingResult result) {
    --batch->inFlight;
    apply(result);
    startNext(batch);
    if (batch->inFlight == 0 && batch->next == batch->requests.size()) {
        if (--m_activeBatchCount == 0)
            setIsProcessing(false);
    }
}

void ImageProcessor::apply(const ImageProcessingResult& result) {
    JobItem* item = job(result.id);
    if (!item)
        return;
    const ImageProcessingOutcome& outcome = result.outcome;
    item->setSourcePixelLongEdge(outcome.sourcePixelLongEdge);
    item->setOutputPixelLongEdge(outcome.outputPixelLongEdge);
    item->setOutputURL(outcome.outputURL);
    item->setStatus(outcome.status);
    Q_EMIT jobFinished(item);
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
