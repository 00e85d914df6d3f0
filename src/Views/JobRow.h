// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStyledItemDelegate>

#include <filesystem>

// Paints one job as a row: state symbol (a spinner while running), file name,
// detail line, and for a written output a magnifier button that reveals it.
// One delegate paints every row, so a long list costs only its visible rows.
// It knows the rows only through JobListModel's roles.
class JobRow : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit JobRow(QObject* parent = nullptr);

    // Where the reveal button sits in a row.
    static QRect revealButtonRect(const QRect& rowRect);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The pointer left the list: no button is hovered any more.
    void clearHover(QAbstractItemView* view);
    // Advances the spinners; the list calls this on a timer while jobs run.
    void setSpinnerPhase(int phase) { m_spinnerPhase = phase; }

Q_SIGNALS:
    void revealRequested(const std::filesystem::path& outputURL);

private:
    void paintSpinner(QPainter* painter, const QRect& rect, const QColor& color) const;

    int m_spinnerPhase = 0;
    QPersistentModelIndex m_hoveredButton;
    QPersistentModelIndex m_pressedButton;
};
