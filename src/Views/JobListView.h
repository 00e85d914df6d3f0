// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <functional>

class JobListModel;
class JobRow;
class QLabel;
class QListView;
class QStackedWidget;
class QTimer;
class QToolButton;

// The lower part of the left column: a header with the title, the outcome
// summary and the two clear buttons, then either the empty state or the rows.
// It only shows and forwards: the owner's callbacks do the clearing, and the
// owner reveals what the rows' buttons ask for (JobRow::revealRequested).
class JobListView : public QWidget {
    Q_OBJECT
public:
    JobListView(JobListModel* jobs, std::function<void()> onClearCompleted,
                std::function<void()> onClearAll, QWidget* parent = nullptr);

    void setIsProcessing(bool isProcessing);
    bool isProcessing() const { return m_isProcessing; }

    QListView* listView() const { return m_list; }
    JobRow* rowDelegate() const { return m_row; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void retranslate();
    void tickSpinners();

    JobListModel* m_jobs;
    std::function<void()> m_onClearCompleted;
    std::function<void()> m_onClearAll;
    bool m_isProcessing = false;

    QLabel* m_title;
    QLabel* m_summary;
    QToolButton* m_clearCompleted;
    QToolButton* m_clearAll;
    QStackedWidget* m_body;
    QLabel* m_empty;
    QListView* m_list;
    JobRow* m_row;
    QTimer* m_spinnerTimer;
    int m_spinnerPhase = 0;
};
