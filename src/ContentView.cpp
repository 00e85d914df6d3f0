// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentView.h"

#include "Batch/ImageProcessor.h"
#include "Models/FileURLs.h"
#include "Platform/FileManagerReveal.h"
#include "Settings/ResizeSettings.h"
#include "Views/DropZoneView.h"
#include "Views/JobListModel.h"
#include "Views/JobListView.h"
#include "Views/JobRow.h"
#include "Views/OpenImagesDialog.h"
#include "Views/SettingsPanel.h"
#include "Views/Style.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QSplitter>
#include <QVBoxLayout>

ContentView::ContentView(SettingsStore* store, QWidget* parent)
    : QWidget(parent), m_settings(std::make_unique<ResizeSettings>(store)),
      m_processor(std::make_unique<ImageProcessor>()),
      m_jobModel(std::make_unique<JobListModel>(*m_processor)),
      m_splitter(std::make_unique<QSplitter>(Qt::Horizontal, this)) {
    setMinimumSize(700, 520);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_splitter.get());
    m_splitter->setChildrenCollapsible(false);
    // A thin divider between the columns, as wide as the separators.
    m_splitter->setHandleWidth(1);
    m_splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: palette(mid); }"));

    auto* left = new QWidget(m_splitter.get());
    left->setMinimumWidth(360);
    auto* column = new QVBoxLayout(left);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_dropZone = new DropZoneView([this](const QList<QUrl>& urls) { enqueue(urls); }, left);
    QFrame* line = Style::separator(left);
    m_jobList = new JobListView(
        m_jobModel.get(), [this] { m_processor->clearCompleted(); },
        [this] { m_processor->clearAll(); }, left);
    column->addWidget(m_dropZone);
    column->addWidget(line);
    column->addWidget(m_jobList, 1);

    m_settingsPanel = new SettingsPanel(*m_settings, m_splitter.get());
    m_splitter->addWidget(left);
    m_splitter->addWidget(m_settingsPanel);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setSizes({540, 340});

    connect(m_jobList, &JobListView::revealRequested, this,
            [](const std::filesystem::path& output) { revealInFileManager(output); });
    connect(m_jobList, &JobListView::openRequested, this, [](const std::filesystem::path& output) {
        QDesktopServices::openUrl(FileURLs::fileURL(output));
    });
    connect(m_jobList, &JobListView::trashRequested, this, [this](const QList<JobItem*>& jobs) {
        for (JobItem* job : jobs)
            m_processor->moveOutputToTrash(job);
    });
    connect(m_jobList, &JobListView::stopRequested, m_processor.get(),
            &ImageProcessor::stopBatches);
    connect(m_processor.get(), &ImageProcessor::isProcessingChanged, this, [this] {
        m_jobList->setIsProcessing(m_processor->isProcessing());
        m_settingsPanel->setIsProcessing(m_processor->isProcessing());
    });
}

ContentView::~ContentView() = default;

void ContentView::enqueue(const QList<QUrl>& urls) {
    m_processor->enqueue(urls, *m_settings);
}

void ContentView::openFileDialog() {
    OpenImagesDialog dialog(ImageProcessor::acceptedExtensions(), this);
    if (dialog.exec() == QDialog::Accepted)
        enqueue(dialog.chosenURLs());
}
