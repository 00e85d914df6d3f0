// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <memory>

class ContentView;
class QAction;
class QMainWindow;
class QMenu;
class UpdaterController;
class UpdaterDialog;

// The application: its translations, its one main window with the toolbar
// and the menus. There is deliberately no way to open a second window.
class KorrinMacApp : public QObject {
    Q_OBJECT
public:
    static constexpr auto applicationID = "io.github.burisora.Burisora";

    // `bus` carries the desktop notifications.
    explicit KorrinMacApp(QDBusConnection bus = QDBusConnection::sessionBus());
    ~KorrinMacApp() override;

    // What `burisora --help` prints, in the user's language.
    static QString helpText();

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
    // Paths handed over by a later launch (absolute, as bytes): one batch, and
    // the window comes to the front.
    void openHandedOver(const QByteArrayList& paths, const QString& activationToken);
    // Brings the window to the front, un-minimised; the token is a launcher's
    // startup token (Wayland's focus rules want one), or empty.
    void raise(const QString& activationToken = {});

    // A batch that ran at least this long and ends while the window is not the
    // active one says so in a desktop notification.
    static constexpr std::chrono::milliseconds defaultLongBatch{std::chrono::seconds(10)};
    void setLongBatch(std::chrono::milliseconds duration) { m_longBatch = duration; }

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
    // Closing while processing: stop and quit (true), or keep working.
    bool askToStopAndQuit();
    void waitForStopBeforeQuitting();
    void processingChanged(bool processing);

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
    QDBusConnection m_bus;
    std::chrono::milliseconds m_longBatch = defaultLongBatch;
    QElapsedTimer m_batchClock;
    int m_launcherPercent = -1; // last sent to the dock; -1: none shown
};
