// SPDX-License-Identifier: GPL-3.0-or-later
#include "KorrinMacApp.h"

#include "Batch/ImageProcessor.h"
#include "ContentView.h"
#include "Models/FileURLs.h"
#include "Models/JobSummary.h"
#include "Platform/DesktopNotifications.h"
#include "Platform/LauncherProgress.h"
#include "Platform/UpdaterController.h"
#include "Runtime/StopSignals.h"

#include "Views/CheckForUpdatesView.h"
#include "Views/JobListView.h"
#include "Views/Style.h"
#include "Views/UpdaterDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <filesystem>
#include <system_error>

KorrinMacApp::KorrinMacApp(QDBusConnection bus)
    : m_updaterController(UpdaterController::createIfConfigured()),
      m_window(std::make_unique<QMainWindow>()), m_bus(std::move(bus)) {
    m_window->setObjectName(QStringLiteral("mainWindow"));
    m_window->setWindowTitle(tr("ブリソラ"));
    m_window->setWindowIcon(Style::applicationIcon());

    m_contentView = new ContentView(nullptr, m_window.get());
    m_window->setCentralWidget(m_contentView);

    m_openAction = new QAction(Style::icon(Style::Symbol::plus, m_window->palette()),
                               tr("ファイルを開く(&O)…"), m_window.get());
    m_openAction->setIconText(tr("ファイルを開く"));
    m_openAction->setObjectName(QStringLiteral("openFiles"));
    m_openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_openAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_openAction, &QAction::triggered, m_contentView, &ContentView::openFileDialog);

    auto* toolbar = m_window->addToolBar(tr("ファイルを開く"));
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->toggleViewAction()->setVisible(false);
    toolbar->addAction(m_openAction);
    // The button that shows the items a narrow toolbar cannot: named for
    // screen readers, which list it even while it is hidden.
    if (auto* more = toolbar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(tr("ツールバーのその他の項目"));

    // File holds what the application menu holds elsewhere, and no item that
    // opens a new window.
    QMenu* file = m_window->menuBar()->addMenu(tr("ファイル(&F)"));
    file->addAction(m_openAction);
    file->addSeparator();
    // Through the window's close, which asks first while a batch runs.
    QAction* quit = file->addAction(tr("終了(&Q)"), this, [this] {
        if (m_window->close())
            QCoreApplication::quit();
    });
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    m_helpMenu = m_window->menuBar()->addMenu(tr("ヘルプ(&H)"));
    m_aboutAction =
        m_helpMenu->addAction(tr("ブリソラについて(&A)"), this, &KorrinMacApp::showAbout);
    m_aboutAction->setMenuRole(QAction::AboutRole);
    // Directly after About: the update check, when the build configures it.
    if (m_updaterController) {
        m_updaterDialog = std::make_unique<UpdaterDialog>(m_updaterController->updater());
        addCheckForUpdatesItem(m_helpMenu, m_updaterController->updater());
    }

    // 880 x 640 for the content; menu bar and toolbar come on top of it.
    const QSize chrome =
        m_window->sizeHint() - m_contentView->sizeHint().expandedTo(m_contentView->minimumSize());
    m_window->resize(QSize(880, 640) + chrome);

    connect(&m_contentView->processor(), &ImageProcessor::isProcessingChanged, this,
            &KorrinMacApp::processingChanged);
    // The run's progress on the dock or task bar too, in whole percents.
    connect(m_contentView->jobList(), &JobListView::progressChanged, this,
            [this](qint64 done, qint64 total) {
                const int percent = total > 0 ? int(done * 100 / total) : 0;
                if (percent == std::exchange(m_launcherPercent, percent) || total == 0)
                    return;
                LauncherProgress::update(m_bus, QLatin1String(applicationID), done, total, true);
            });

    // Closing the window (also through Quit, or the session manager's quit
    // at logout) waits for the batch to stop cleanly.
    m_window->installEventFilter(this);
    ImageProcessor& processor = m_contentView->processor();
    connect(&processor, &ImageProcessor::stopped, this, [this](bool abandoned) {
        if (abandoned)
            StopSignals::exitNow(m_exitCode); // workers still busy on abandoned files
        QCoreApplication::exit(m_exitCode);
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &KorrinMacApp::waitForStopBeforeQuitting);
}

KorrinMacApp::~KorrinMacApp() = default;

QString KorrinMacApp::helpText() {
    return tr("使い方: burisora [ファイルまたはフォルダ...]\n"
              "画像を一括で縮小・再エンコードするウィンドウを開きます。指定したファイルと\n"
              "フォルダは一つのバッチとして処理されます。ウィンドウがすでに開いていれば、\n"
              "そのウィンドウが受け取ります。スクリプトからは burisora-cli を使います。\n"
              "\n"
              "  --help     この説明を表示して終了\n"
              "  --version  バージョンを表示して終了\n");
}

QList<QUrl> KorrinMacApp::commandLineURLs(const QList<QByteArray>& arguments) {
    QList<QUrl> urls;
    bool options = true;
    for (const QByteArray& argument : arguments) {
        if (argument.isEmpty())
            continue;
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (options && argument.startsWith('-'))
            continue;
        if (argument.startsWith("file:") || argument.contains("://")) {
            urls.append(QUrl::fromEncoded(argument));
            continue;
        }
        const std::filesystem::path given(argument.toStdString());
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(given, error);
        urls.append(FileURLs::fileURL((error ? given : absolute).lexically_normal()));
    }
    return urls;
}

void KorrinMacApp::show() {
    m_window->show();
    m_shown = true;
    if (!m_pendingURLs.isEmpty()) {
        // Once the window is up and has painted, like a drop would be.
        QTimer::singleShot(0, this, [this] {
            const QList<QUrl> urls = std::exchange(m_pendingURLs, {});
            m_contentView->enqueue(urls);
        });
    }
}

void KorrinMacApp::openURLs(const QList<QUrl>& urls) {
    if (urls.isEmpty())
        return;
    if (!m_shown) {
        m_pendingURLs += urls;
        return;
    }
    m_contentView->enqueue(urls);
}

void KorrinMacApp::quitCleanly(int exitCode) {
    if (m_exitCode < 0)
        m_exitCode = exitCode;
    ImageProcessor& processor = m_contentView->processor();
    if (!processor.isProcessing() && !processor.isStopping()) {
        QCoreApplication::exit(m_exitCode);
        return;
    }
    processor.stop(processor.isStopping() ? std::chrono::milliseconds(0)
                                          : ImageProcessor::stopGrace);
}

bool KorrinMacApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && event->type() == QEvent::PaletteChange)
        m_openAction->setIcon(Style::icon(Style::Symbol::plus, m_window->palette()));
    if (watched == m_window.get() && event->type() == QEvent::Close) {
        const ImageProcessor& processor = m_contentView->processor();
        if (processor.isProcessing() || processor.isStopping()) {
            event->ignore();
            // Asked once; closing again while stopping cuts the grace short.
            if (processor.isStopping() || askToStopAndQuit())
                quitCleanly(0);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool KorrinMacApp::askToStopAndQuit() {
    QMessageBox box(QMessageBox::Question, tr("ブリソラ"), tr("処理中です。停止して終了しますか？"),
                    QMessageBox::NoButton, m_window.get());
    box.setObjectName(QStringLiteral("quitWhileProcessing"));
    box.setInformativeText(tr("変換中のファイルは書き終えてから終了します。まだ始まっていないファイ"
                              "ルは処理されません。"));
    QPushButton* quit = box.addButton(tr("停止して終了"), QMessageBox::DestructiveRole);
    quit->setObjectName(QStringLiteral("stopAndQuit"));
    QPushButton* keep = box.addButton(tr("処理を続ける"), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("keepWorking"));
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == quit;
}

// The event loop ended by a way that did not pass through quitCleanly() while
// a batch runs: the stop still happens, in a loop of its own.
void KorrinMacApp::waitForStopBeforeQuitting() {
    ImageProcessor& processor = m_contentView->processor();
    if (!processor.isProcessing() || processor.isStopping())
        return;
    if (m_exitCode < 0)
        m_exitCode = 0;
    QEventLoop loop;
    disconnect(&processor, &ImageProcessor::stopped, this, nullptr);
    connect(&processor, &ImageProcessor::stopped, &loop, [this, &loop](bool abandoned) {
        if (abandoned)
            StopSignals::exitNow(m_exitCode);
        loop.quit();
    });
    processor.stop(ImageProcessor::stopGrace);
    loop.exec();
}

void KorrinMacApp::openHandedOver(const QByteArrayList& paths, const QString& activationToken) {
    QList<QUrl> urls;
    for (const QByteArray& path : paths)
        urls.append(FileURLs::fileURL(path.toStdString()));
    openURLs(urls);
    raise(activationToken);
}

void KorrinMacApp::raise(const QString& activationToken) {
    // Qt's Wayland backend hands this token to the compositor on activation.
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (!m_window->isVisible())
        show();
    m_window->raise();
    m_window->activateWindow();
}

void KorrinMacApp::processingChanged(bool processing) {
    if (!processing) {
        m_launcherPercent = -1;
        LauncherProgress::update(m_bus, QLatin1String(applicationID), 0, 0, false);
    }
    if (processing) {
        m_batchClock.start();
        return;
    }
    if (!m_batchClock.isValid() || m_window->isActiveWindow() ||
        std::chrono::milliseconds(m_batchClock.elapsed()) < m_longBatch)
        return;
    DesktopNotifications::show(
        m_bus, tr("ブリソラ"), tr("処理が終わりました"),
        JobSummary::summary(JobCounts::of(m_contentView->processor().jobs())));
}

void KorrinMacApp::showAbout() {
    QMessageBox::about(m_window.get(), tr("ブリソラについて"),
                       QStringLiteral("<h3>%1</h3><p>%2</p>")
                           .arg(tr("ブリソラ"), QStringLiteral(BURISORA_VERSION).toHtmlEscaped()));
}
