// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QVariantAnimation;

// The large target at the top of the left column. Takes every drop of URLs
// (file managers deliver text/uri-list) and hands the whole list, unfiltered
// and in the drag's order, to its owner; the processor decides what is used.
class DropZoneView : public QWidget {
    Q_OBJECT
public:
    using DropHandler = std::function<void(const QList<QUrl>&)>;

    explicit DropZoneView(DropHandler onDrop, QWidget* parent = nullptr);

    bool isTargeted() const { return m_isTargeted; }
    // 0 when idle, 1 when targeted, in between while the colours change.
    qreal highlight() const { return m_highlight; }

    QSize minimumSizeHint() const override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setTargeted(bool targeted);
    void retranslate();
    void refreshSymbol();
    QColor accentOrSecondary() const;

    DropHandler m_onDrop;
    bool m_isTargeted = false;
    qreal m_highlight = 0.0;
    QVariantAnimation* m_animation;
    QLabel* m_symbol;
    QLabel* m_title;
    QLabel* m_caption;
};
