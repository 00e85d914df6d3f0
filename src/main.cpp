#include "KorrinMacApp.h"

#include "ContentView.h"
#include "Services/FileURLs.h"
#include "Services/ImageProcessor.h"
#include "Services/VipsRuntime.h"
#include "Views/Style.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

// What "Open With" passes (%F: local paths), and file URIs for good measure.
// Paths are taken as bytes, so names that are not UTF-8 reach their files.
QList<QUrl> commandLineURLs(int argc, char** argv) {
    QList<QUrl> urls;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
            continue;
        }
        if (options && arg[0] == '-')
            continue;
        const QByteArray bytes(arg);
        if (bytes.startsWith("file:") || bytes.contains("://")) {
            urls.append(QUrl::fromEncoded(bytes));
            continue;
        }
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(arg), error);
        if (error)
            path = std::filesystem::path(arg);
        urls.append(FileURLs::fileURL(path.lexically_normal()));
    }
    return urls;
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
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationName(QStringLiteral("burisora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BURISORA_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(KorrinMacApp::applicationID));
    QGuiApplication::setWindowIcon(Style::applicationIcon());
    VipsRuntime::initialize();
    KorrinMacApp::installTranslators(&application);

    KorrinMacApp app;
    // QApplication has taken its own options (-platform and the like) out of argv.
    app.openURLs(commandLineURLs(argc, argv));
    const QString screenshot = qEnvironmentVariable("BURISORA_SCREENSHOT");
    if (!screenshot.isEmpty())
        saveScreenshotWhenIdle(app, screenshot);
    app.show();
    return QApplication::exec();
}
