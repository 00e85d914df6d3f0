// SPDX-License-Identifier: GPL-3.0-or-later
#include "KorrinMacApp.h"

#include "ContentView.h"
#include "Services/ImageProcessor.h"
#include "Services/StopSignals.h"
#include "Services/VipsRuntime.h"
#include "Views/Style.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>

#include <memory>

namespace {

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
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BURISORA_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(KorrinMacApp::applicationID));
    QGuiApplication::setWindowIcon(Style::applicationIcon());
    VipsRuntime::initialize();
    KorrinMacApp::installTranslators(&application);

    KorrinMacApp app;
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &app,
                     [&app](int signal) { app.quitCleanly(StopSignals::exitCode(signal)); });
    // QApplication has taken its own options (-platform and the like) out of argv.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    app.openURLs(KorrinMacApp::commandLineURLs(arguments));
    const QString screenshot = qEnvironmentVariable("BURISORA_SCREENSHOT");
    if (!screenshot.isEmpty())
        saveScreenshotWhenIdle(app, screenshot);
    app.show();
    return QApplication::exec();
}
