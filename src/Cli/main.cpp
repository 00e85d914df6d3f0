// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-cli: the window's engine for scripts, file-manager actions and
// benchmarks. One invocation is one batch, exactly as one drop on the window.
#include "Batch/ImageProcessor.h"
#include "Cli/CliOptions.h"
#include "Models/FileURLs.h"
#include "Models/JobSummary.h"
#include "Runtime/Localization.h"
#include "Runtime/StopSignals.h"
#include "Settings/ResizeSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

// False once the stream cannot take it (a reader that went away).
bool print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
}

QString pathText(const std::filesystem::path& path) {
    return QString::fromLocal8Bit(path.native());
}

const char* statusName(JobStatus::Kind kind) {
    switch (kind) {
    case JobStatus::Kind::succeeded:
        return "succeeded";
    case JobStatus::Kind::skipped:
        return "skipped";
    case JobStatus::Kind::failed:
        return "failed";
    default:
        return "pending";
    }
}

// A path as text; a name that is not valid text (a Latin-1 file name in a
// UTF-8 locale) also goes as its bytes, base64, so that a script can still
// find the file.
void insertPath(QJsonObject& object, const QString& key, const std::filesystem::path& path) {
    const QString text = pathText(path);
    object.insert(key, text);
    const QByteArray bytes = QByteArray::fromStdString(path.native());
    if (text.toLocal8Bit() != bytes)
        object.insert(key + QStringLiteral("PathBytes"), QString::fromLatin1(bytes.toBase64()));
}

QString jsonLine(const JobItem& job) {
    QJsonObject object{
        {QStringLiteral("status"), QString::fromLatin1(statusName(job.status().kind()))}};
    insertPath(object, QStringLiteral("source"), job.sourceURL());
    if (job.outputURL())
        insertPath(object, QStringLiteral("output"), *job.outputURL());
    if (job.sourcePixelLongEdge())
        object.insert(QStringLiteral("sourcePixelLongEdge"), qint64(*job.sourcePixelLongEdge()));
    if (job.outputPixelLongEdge())
        object.insert(QStringLiteral("outputPixelLongEdge"), qint64(*job.outputPixelLongEdge()));
    if (job.sourceBytes())
        object.insert(QStringLiteral("sourceBytes"), qint64(*job.sourceBytes()));
    if (job.outputBytes())
        object.insert(QStringLiteral("outputBytes"), qint64(*job.outputBytes()));
    if (job.status().kind() == JobStatus::Kind::skipped)
        object.insert(QStringLiteral("reason"), job.status().text());
    if (job.status().kind() == JobStatus::Kind::failed)
        object.insert(QStringLiteral("message"), job.status().text());
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString readableLine(const JobItem& job) {
    QString line = QString::fromLatin1(statusName(job.status().kind())) + u'\t' +
                   pathText(job.sourceURL()) + u'\t' +
                   JobSummary::detailLine(job).value_or(QString());
    if (job.outputURL())
        line += u'\t' + pathText(*job.outputURL());
    return line;
}

// done/total and files per second on standard error, redrawn in place.
class ProgressBar {
public:
    ProgressBar() : m_enabled(::isatty(STDERR_FILENO)) { m_clock.start(); }
    void add(qsizetype count) { m_total += count; }
    void clear() {
        if (m_enabled)
            std::fputs("\r\033[K", stderr);
    }
    void draw(qsizetype done) {
        if (!m_enabled || m_total == 0)
            return;
        constexpr int width = 30;
        const int filled = int(width * done / m_total);
        const double seconds = m_clock.elapsed() / 1000.0;
        const double rate = seconds > 0 ? done / seconds : 0;
        std::fprintf(
            stderr, "\r[%s%s] %lld/%lld  %.1f files/s", QByteArray(filled, '#').constData(),
            QByteArray(width - filled, '-').constData(), qlonglong(done), qlonglong(m_total), rate);
        std::fflush(stderr);
    }

private:
    qsizetype m_total = 0;
    bool m_enabled;
    QElapsedTimer m_clock;
};

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BURISORA_VERSION));
    // The summary, second lines, reasons and messages in the user's language;
    // --json keeps its status values whatever the language.
    Localization::installTranslators(&app, false);

    const auto parsed = parseCliOptions(arguments);
    if (const auto* error = std::get_if<CliUsageError>(&parsed)) {
        print(stderr, QStringLiteral("burisora-cli: ") + error->message + u'\n');
        return 2;
    }
    const CliOptions& options = std::get<CliOptions>(parsed);
    if (options.help) {
        print(stdout, cliHelpText());
        return 0;
    }
    if (options.version) {
        print(stdout, QStringLiteral("burisora-cli " BURISORA_VERSION "\n"));
        return 0;
    }

    // Read only: nothing is ever assigned, so the settings file is not written.
    const ResizeSettings stored;
    const SettingsValues values = options.applied(stored.values());
    if (options.showSettings) {
        print(stdout, QString::fromUtf8(
                          QJsonDocument(settingsJson(values)).toJson(QJsonDocument::Compact)) +
                          u'\n');
        return 0;
    }

    QList<QUrl> urls;
    for (const auto& path : options.paths)
        urls.append(FileURLs::fileURL(std::filesystem::absolute(path)));

    ImageProcessor processor;
    processor.setFileStagesOnMainThread(true);

    // A stop signal ends the batch cleanly: no further file, a grace for the
    // files in flight, then the summary of what was done. A second signal
    // cuts the grace short.
    StopSignals stopSignals;
    int stopCode = 0;
    const auto stopWith = [&](int signal) {
        if (stopCode == 0)
            stopCode = StopSignals::exitCode(signal);
        processor.stop(processor.isStopping() ? std::chrono::milliseconds(0)
                                              : ImageProcessor::stopGrace);
    };
    QObject::connect(&stopSignals, &StopSignals::received, &app, stopWith);

    ProgressBar progress;
    qsizetype done = 0;
    bool anyFailed = false;
    QObject::connect(&processor, &ImageProcessor::jobsAppended, &app,
                     [&](qsizetype, qsizetype count) { progress.add(count); });
    QObject::connect(&processor, &ImageProcessor::jobFinished, &app, [&](JobItem* job) {
        ++done;
        anyFailed = anyFailed || job->status().kind() == JobStatus::Kind::failed;
        progress.clear();
        // Nobody reads any more (`| head -n 1`): stop as for SIGPIPE.
        if (!print(stdout, (options.json ? jsonLine(*job) : readableLine(*job)) + u'\n') ||
            std::fflush(stdout) != 0)
            stopWith(SIGPIPE);
        progress.draw(done);
    });
    const auto printSummary = [&] {
        progress.clear();
        print(stdout, JobSummary::summary(JobCounts::of(processor.jobs())) + u'\n');
    };

    QObject::connect(&processor, &ImageProcessor::stopped, &app, [&](bool abandoned) {
        if (!abandoned) {
            QCoreApplication::exit(stopCode);
            return;
        }
        printSummary();
        StopSignals::exitNow(stopCode); // the abandoned files' workers are not waited for
    });
    QObject::connect(&processor, &ImageProcessor::isProcessingChanged, &app, [&](bool processing) {
        if (!processing && !processor.isStopping())
            QCoreApplication::quit();
    });

    processor.enqueue(urls, values.snapshot());
    if (processor.isProcessing()) {
        progress.draw(0);
        QCoreApplication::exec();
    }
    printSummary();
    if (stopCode != 0)
        return stopCode;
    return anyFailed ? 1 : 0;
}
