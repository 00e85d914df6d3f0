// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <memory>

class ContentView;
class QAction;
class QMainWindow;
class QMenu;
class QTranslator;
class UpdaterController;
class UpdaterDialog;

// The application: its translations, its one main window with the toolbar
// and the menus. There is deliberately no way to open a second window.
class KorrinMacApp : public QObject {
    Q_OBJECT
public:
    static constexpr auto applicationID = "io.github.burisora.Burisora";

    KorrinMacApp();
    ~KorrinMacApp() override;

    // Loads the tables for the desktop's language; without a matching table
    // the Japanese texts themselves are shown.
    static void installTranslators(QObject* owner);

    // The files and folders named on the command line: what "Open With" passes
    // (%F, local paths; relative ones are taken from the working folder) and
    // file URIs. Arguments are bytes, so names that are not UTF-8 survive.
    // Options are skipped up to a "--".
    static QList<QUrl> commandLineURLs(const QList<QByteArray>& arguments);

    void show();
    // Ends the program cleanly with `exitCode`: at once when idle, otherwise
    // once the processor has stopped (no further file, a grace for the files
    // in flight, then what is left is abandoned without debris). The window's
    // close and Quit, the end of the desktop session and the stop signals all
    // end here. Asking again cuts the grace short.
    void quitCleanly(int exitCode);
    // Enqueues the URLs as one batch, as if they had been dropped. Before the
    // window is shown they wait for it.
    void openURLs(const QList<QUrl>& urls);

    QMainWindow* mainWindow() const { return m_window.get(); }
    ContentView* contentView() const { return m_contentView; }
    QAction* openAction() const { return m_openAction; }
    QMenu* helpMenu() const { return m_helpMenu; }
    QAction* aboutAction() const { return m_aboutAction; }
    // Present only when the build configures the update check.
    UpdaterController* updaterController() const { return m_updaterController.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showAbout();
    void waitForStopBeforeQuitting();

    // Decided once at start-up, before the window exists.
    std::unique_ptr<UpdaterController> m_updaterController;
    std::unique_ptr<UpdaterDialog> m_updaterDialog;
    std::unique_ptr<QMainWindow> m_window;
    ContentView* m_contentView = nullptr;
    QAction* m_openAction = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_aboutAction = nullptr;
    QList<QUrl> m_pendingURLs;
    bool m_shown = false;
    int m_exitCode = -1;
};
