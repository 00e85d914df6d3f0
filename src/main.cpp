// SPDX-License-Identifier: GPL-3.0-or-later
#include "KorrinMacApp.h"

#include "Batch/ImageProcessor.h"
#include "ContentView.h"
#include "Models/FileURLs.h"
#include "Platform/SingleInstance.h"
#include "Runtime/Localization.h"
#include "Runtime/StopSignals.h"
#include "Views/Style.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// --help and --version are answered before any display is needed; nothing
// for any other command line.
std::optional<int> answerWithoutWindow(int argc, char** argv) {
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        help = help || !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h");
        version = version || !std::strcmp(argv[i], "--version");
    }
    if (!help && !version)
        return std::nullopt;
    QCoreApplication application(argc, argv);
    Localization::installTranslators(&application, false);
    const QByteArray text = help ? KorrinMacApp::helpText().toLocal8Bit()
                                 : QByteArray("burisora " BURISORA_VERSION "\n");
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

QByteArrayList localPaths(const QList<QUrl>& urls) {
    QByteArrayList paths;
    for (const QUrl& url : urls) {
        if (const auto path = FileURLs::localPath(url))
            paths.append(QByteArray::fromStdString(path->native()));
    }
    return paths;
}

// BURISORA_SCREENSHOT=<file.png>: once the batch from the command line has
// ended, save what the window shows and quit. Used to make the README's
// picture with the real window.
void saveScreenshotWhenIdle(KorrinMacApp& app, const QString& path) {
    auto started = std::make_shared<bool>(false);
    auto save = [&app, path, started] {
        if (std::exchange(*started, true))
            return;
        QTimer::singleShot(700, &app, [&app, path] {
            QMainWindow* window = app.mainWindow();
            QPixmap picture;
            if (QScreen* screen = window->screen())
                picture = screen->grabWindow(window->winId());
            if (picture.isNull())
                picture = window->grab();
            const bool saved = picture.save(path, "PNG");
            QCoreApplication::exit(saved ? 0 : 1);
        });
    };
    ImageProcessor& processor = app.contentView()->processor();
    QObject::connect(&processor, &ImageProcessor::isProcessingChanged, &app,
                     [save](bool processing) {
                         if (!processing)
                             save();
                     });
    // Nothing was listed: nothing to wait for.
    QTimer::singleShot(1500, &app, [&processor, save] {
        if (!processor.isProcessing() && processor.jobs().isEmpty())
            save();
    });
}

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = answerWithoutWindow(argc, argv))
        return *status;
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BURISORA_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(KorrinMacApp::applicationID));
    QGuiApplication::setWindowIcon(Style::applicationIcon());
    Localization::installTranslators(&application);

    // QApplication has taken its own options (-platform and the like) out of argv.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const QList<QUrl> urls = KorrinMacApp::commandLineURLs(arguments);

    // A window is open already: it takes the paths, and this launch is done.
    // If it cannot take them, this launch keeps its own window.
    QDBusConnection bus = QDBusConnection::sessionBus();
    SingleInstance instance(bus);
    if (!instance.claim() &&
        instance.handOver(localPaths(urls), SingleInstance::ownActivationToken()))
        return 0;

    KorrinMacApp app(bus);
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &app,
                     [&app](int signal) { app.quitCleanly(StopSignals::exitCode(signal)); });
    QObject::connect(&instance, &SingleInstance::openRequested, &app,
                     &KorrinMacApp::openHandedOver);
    app.openURLs(urls);
    const QString screenshot = qEnvironmentVariable("BURISORA_SCREENSHOT");
    if (!screenshot.isEmpty())
        saveScreenshotWhenIdle(app, screenshot);
    app.show();
    return QApplication::exec();
}
