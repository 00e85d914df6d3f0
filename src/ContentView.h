// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>

#include <memory>

class DropZoneView;
class ImageProcessor;
class JobListModel;
class JobListView;
class QSplitter;
class ResizeSettings;
class SettingsPanel;
class SettingsStore;

// The main window's content. Owns the window's settings and processor for the
// window's whole life and lays out the drop zone, the job list and the
// settings panel. Every way in (drop, open dialog, command line) ends in one
// enqueue call with the window's settings.
class ContentView : public QWidget {
    Q_OBJECT
public:
    // Uses the per-user settings file when no store is given.
    explicit ContentView(SettingsStore* store = nullptr, QWidget* parent = nullptr);
    ~ContentView() override;

    void enqueue(const QList<QUrl>& urls);
    // Runs the open dialog; OK enqueues everything chosen as one batch.
    void openFileDialog();

    ResizeSettings& settings() const { return *m_settings; }
    ImageProcessor& processor() const { return *m_processor; }
    DropZoneView* dropZone() const { return m_dropZone; }
    JobListView* jobList() const { return m_jobList; }
    SettingsPanel* settingsPanel() const { return m_settingsPanel; }
    QSplitter* splitter() const { return m_splitter.get(); }

private:
    // Declared so that the widgets go first, then the rows' model, then the
    // processor with its jobs, and the settings last.
    std::unique_ptr<ResizeSettings> m_settings;
    std::unique_ptr<ImageProcessor> m_processor;
    std::unique_ptr<JobListModel> m_jobModel;
    std::unique_ptr<QSplitter> m_splitter;
    DropZoneView* m_dropZone;
    JobListView* m_jobList;
    SettingsPanel* m_settingsPanel;
};
