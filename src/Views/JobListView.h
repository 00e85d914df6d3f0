// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>

class JobItem;
class JobListModel;
class JobRow;
class QLabel;
class QListView;
class QProgressBar;
class QStackedWidget;
class QTimer;
class QToolButton;

// The lower part of the left column: a header with the title, the outcome
// summary and the two clear buttons, then either the empty state or the rows.
// It only shows and forwards: the owner's callbacks do the clearing, and the
// owner acts on the outputs that the rows ask for (reveal, open, trash). The
// list is used by keyboard too: arrows select, Enter reveals, Ctrl+C copies
// the selected outputs, the menu key opens the rows' menu. Written outputs
// can be dragged out as files.
class JobListView : public QWidget {
    Q_OBJECT
public:
    JobListView(JobListModel* jobs, std::function<void()> onClearCompleted,
                std::function<void()> onClearAll, QWidget* parent = nullptr);

    void setIsProcessing(bool isProcessing);
    bool isProcessing() const { return m_isProcessing; }

    QListView* listView() const { return m_list; }
    JobRow* rowDelegate() const { return m_row; }

Q_SIGNALS:
    // The Stop button, shown while processing, was pressed.
    void stopRequested();
    void revealRequested(const std::filesystem::path& output);
    void openRequested(const std::filesystem::path& output);
    void trashRequested(const QList<JobItem*>& jobs);
    // While processing: `done` of the `total` jobs of this run have an
    // outcome.
    void progressChanged(qint64 done, qint64 total);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void retranslate();
    void tickSpinners();
    // The selected rows' written outputs: the current row's first.
    QList<std::filesystem::path> selectedOutputs() const;
    void copySelected();
    void followRunning(const QModelIndex& first, const QModelIndex& last);
    void showRowMenu(const QPoint& at);

    JobListModel* m_jobs;
    std::function<void()> m_onClearCompleted;
    std::function<void()> m_onClearAll;
    bool m_isProcessing = false;
    // Stop was pressed and nothing has been listed since: nothing left to stop.
    bool m_stopPressed = false;
    qint64 m_finishedBefore = 0; // the model's finished count when the run began
    // The list scrolls to rows as they start running until the user scrolls.
    bool m_followRunning = true;

    QLabel* m_title;
    QLabel* m_summary;
    QLabel* m_saving; // what the outputs saved, beside the summary
    QToolButton* m_stop;
    QProgressBar* m_progress;
    QToolButton* m_clearCompleted;
    QToolButton* m_clearAll;
    QStackedWidget* m_body;
    QLabel* m_empty;
    QListView* m_list;
    JobRow* m_row;
    QTimer* m_spinnerTimer;
    int m_spinnerPhase = 0;
};
