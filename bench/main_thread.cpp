// SPDX-License-Identifier: GPL-3.0-or-later
// burisora-bench-main-thread: how long the main thread is busy when 10000
// files are listed and their results come back, and when a tree of 100000
// files is dropped.
//
// Missing files fail at once, so results arrive as fast as the workers can
// produce them: the hardest case for the event loop. Tiny real images add the
// whole pipeline. A 1 ms heartbeat timer measures the longest gap in which the
// event loop did not get round to it; for the tree the drop itself happens
// inside the running loop, so a listing done in the drop counts as a stall.
#include "Batch/ImageProcessor.h"
#include "Models/FileURLs.h"
#include "Settings/ResizeSettingsSnapshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <vips/vips8>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct Figures {
    double enqueueMs = 0;
    double totalMs = 0;
    double longestGapMs = 0;
    qsizetype finished = 0;
};

Figures measure(const QList<QUrl>& urls, const ResizeSettingsSnapshot& settings,
                bool dropInsideLoop = false) {
    ImageProcessor processor;
    Figures figures;
    QObject::connect(&processor, &ImageProcessor::jobFinished, [&] { ++figures.finished; });

    QElapsedTimer total;
    QElapsedTimer sinceTick;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        figures.longestGapMs = std::max(figures.longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.start();
    });
    QObject::connect(&processor, &ImageProcessor::isProcessingChanged, [&](bool processing) {
        if (!processing)
            QCoreApplication::quit();
    });

    const auto drop = [&] {
        total.start();
        processor.enqueue(urls, settings);
        figures.enqueueMs = total.nsecsElapsed() / 1e6;
    };
    if (dropInsideLoop) {
        QTimer::singleShot(20, drop);
    } else {
        drop();
    }
    sinceTick.start();
    heartbeat.start();
    QCoreApplication::exec();
    figures.totalMs = total.nsecsElapsed() / 1e6;
    return figures;
}

void print(const char* label, const Figures& f) {
    std::printf("%-20s enqueue %6.1f ms, then longest event-loop stall %6.1f ms; "
                "%lld results in %6.0f ms\n",
                label, f.enqueueMs, f.longestGapMs, qlonglong(f.finished), f.totalMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    constexpr int count = 10000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const fs::path root = dir.path().toStdString();

    ResizeSettingsSnapshot settings;
    settings.longEdgePx = 1280;

    QList<QUrl> missing;
    for (int i = 0; i < count; ++i)
        missing.append(
            FileURLs::fileURL(root / "missing" / ("photo-" + std::to_string(i) + ".jpg")));
    print("10000 missing files", measure(missing, settings));

    // One encoded tiny image, hard-linked 10000 times: cheap to make, and
    // every link is a file of its own to the pipeline.
    ImageProcessor warmUp; // starts libvips
    fs::create_directories(root / "tiny");
    const fs::path original = root / "tiny-original.jpg";
    vips::VImage::black(16, 12, vips::VImage::option()->set("bands", 3))
        .write_to_file(original.c_str());
    QList<QUrl> tiny;
    for (int i = 0; i < count; ++i) {
        const fs::path link = root / "tiny" / ("photo-" + std::to_string(i) + ".jpg");
        fs::create_hard_link(original, link);
        tiny.append(FileURLs::fileURL(link));
    }
    print("10000 tiny images", measure(tiny, settings));

    // 100 folders of 1000 empty ".jpg" files: only the first 10000 become
    // jobs, and each fails at once.
    const fs::path tree = root / "tree";
    for (int folder = 0; folder < 100; ++folder) {
        const fs::path sub = tree / ("folder-" + std::to_string(folder));
        fs::create_directories(sub);
        for (int i = 0; i < 1000; ++i) {
            const fs::path file = sub / ("photo-" + std::to_string(i) + ".jpg");
            ::close(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        }
    }
    print("100000-file tree", measure({FileURLs::fileURL(tree)}, settings, true));
    return 0;
}
