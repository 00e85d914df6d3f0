// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/JobRow.h"

#include "Models/JobStatus.h"
#include "Views/JobListModel.h"
#include "Views/Style.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace {

constexpr int iconFrameWidth = 20;
constexpr int iconSize = 16;
constexpr int spacing = 12;
constexpr int verticalMargin = 6;
constexpr int lineSpacing = 2;
constexpr int buttonSize = 24;

// The written output that the row's button reveals; empty when there is none.
QByteArray revealablePath(const QModelIndex& index) {
    return index.data(JobListModel::OutputPathRole).toByteArray();
}

} // namespace

JobRow::JobRow(QObject* parent) : QStyledItemDelegate(parent) {}

QRect JobRow::revealButtonRect(const QRect& rowRect) {
    const int contentHeight = rowRect.height() - 1; // the separator
    return {rowRect.right() - Style::standardMargin - buttonSize + 1,
            rowRect.top() + (contentHeight - buttonSize) / 2, buttonSize, buttonSize};
}

QSize JobRow::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFontMetrics body(Style::font(Style::TextRole::body, option.font));
    const QFontMetrics caption(Style::font(Style::TextRole::caption, option.font));
    const int text = body.height() + lineSpacing + caption.height();
    const int height = verticalMargin + std::max({text, iconSize, buttonSize}) + verticalMargin + 1;
    return {Style::standardMargin * 2 + iconFrameWidth + spacing + 100, height};
}

void JobRow::paint(QPainter* painter, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const {
    if (!index.isValid())
        return;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = option.palette;
    const QRect row = option.rect;
    const QRect content(row.left(), row.top(), row.width(), row.height() - 1);
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

    // Selection, and a ring around the current row while the list has focus,
    // so that the keyboard's place is always visible.
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected) {
        QColor fill = palette.color(QPalette::Highlight);
        fill.setAlphaF(0.22f);
        painter->fillRect(content, fill);
    }
    if (option.state.testFlag(QStyle::State_HasFocus)) {
        QPen ring(palette.color(QPalette::Highlight), 2);
        painter->setPen(ring);
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(content).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    }

    // State symbol.
    const QRect iconFrame(row.left() + Style::standardMargin, content.top(), iconFrameWidth,
                          content.height());
    const QRect iconRect(iconFrame.center().x() - iconSize / 2 + 1,
                         iconFrame.center().y() - iconSize / 2 + 1, iconSize, iconSize);
    switch (JobStatus::Kind(index.data(JobListModel::StatusKindRole).toInt())) {
    case JobStatus::Kind::pending:
        painter->drawPixmap(iconRect, Style::tinted(Style::Symbol::clock, Style::secondary(palette),
                                                    iconSize, dpr));
        break;
    case JobStatus::Kind::running:
        paintSpinner(painter, iconRect, Style::secondary(palette));
        break;
    case JobStatus::Kind::succeeded:
        painter->drawPixmap(iconRect, Style::tinted(Style::Symbol::checkmarkCircleFill,
                                                    Style::green(), iconSize, dpr));
        break;
    case JobStatus::Kind::skipped:
        painter->drawPixmap(iconRect, Style::tinted(Style::Symbol::minusCircle,
                                                    Style::secondary(palette), iconSize, dpr));
        break;
    case JobStatus::Kind::failed:
        painter->drawPixmap(iconRect, Style::tinted(Style::Symbol::exclamationTriangleFill,
                                                    Style::red(), iconSize, dpr));
        break;
    }

    // Reveal button.
    int textRight = row.right() - Style::standardMargin;
    if (!revealablePath(index).isEmpty()) {
        const QRect button = revealButtonRect(row);
        if (m_hoveredButton == index || m_pressedButton == index) {
            QColor hover = palette.color(QPalette::WindowText);
            hover.setAlphaF(m_pressedButton == index ? 0.16f : 0.08f);
            painter->setPen(Qt::NoPen);
            painter->setBrush(hover);
            painter->drawRoundedRect(button, 5, 5);
        }
        const int glyph = 14;
        const QRect glyphRect(button.center().x() - glyph / 2 + 1,
                              button.center().y() - glyph / 2 + 1, glyph, glyph);
        painter->drawPixmap(glyphRect,
                            Style::tinted(Style::Symbol::magnifyingGlass,
                                          palette.color(QPalette::WindowText), glyph, dpr));
        textRight = button.left() - spacing;
    }

    // The change in size, at the right of the text, as the file manager
    // would show the two sizes.
    const QFont captionFont = Style::font(Style::TextRole::caption, option.font);
    const QFontMetrics caption(captionFont);
    if (const QString sizes = index.data(JobListModel::SizeChangeRole).toString();
        !sizes.isEmpty()) {
        const int width = caption.horizontalAdvance(sizes);
        painter->setFont(captionFont);
        painter->setPen(Style::secondary(palette));
        painter->drawText(QRect(textRight - width, content.top(), width, content.height()),
                          Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip, sizes);
        textRight -= width + spacing;
    }

    // Name and detail line, both shortened in the middle so that the start and
    // the extension of a long name stay visible.
    const int textLeft = iconFrame.right() + 1 + spacing;
    const int textWidth = std::max(0, textRight - textLeft);
    const QFont bodyFont = Style::font(Style::TextRole::body, option.font);
    const QFontMetrics body(bodyFont);
    const QString detail = index.data(JobListModel::DetailLineRole).toString();
    const bool hasDetail = !detail.isNull();
    const int blockHeight = body.height() + (hasDetail ? lineSpacing + caption.height() : 0);
    int y = content.top() + (content.height() - blockHeight) / 2;

    painter->setFont(bodyFont);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(
        QRect(textLeft, y, textWidth, body.height()),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
        body.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textWidth));
    if (hasDetail) {
        y += body.height() + lineSpacing;
        painter->setFont(captionFont);
        painter->setPen(Style::secondary(palette));
        painter->drawText(QRect(textLeft, y, textWidth, caption.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                          caption.elidedText(detail, Qt::ElideMiddle, textWidth));
    }

    // The thin line under every row, the last one included; filled, so that
    // it covers a device pixel at fractional scales too.
    QColor line = palette.color(QPalette::WindowText);
    line.setAlphaF(0.15f);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), line);
    painter->restore();
}

void JobRow::paintSpinner(QPainter* painter, const QRect& rect, const QColor& color) const {
    // Twelve spokes fading behind the leading one, like a small busy indicator.
    constexpr int spokes = 12;
    const QPointF centre = QRectF(rect).center();
    const qreal outer = rect.width() / 2.0 - 0.5;
    const qreal inner = outer * 0.5;
    QPen pen(color);
    pen.setWidthF(1.6);
    pen.setCapStyle(Qt::RoundCap);
    painter->save();
    painter->translate(centre);
    for (int i = 0; i < spokes; ++i) {
        const int age = (m_spinnerPhase - i + spokes * 1000) % spokes;
        QColor c = color;
        c.setAlphaF(float(color.alphaF() * (1.0 - age / double(spokes) * 0.85)));
        pen.setColor(c);
        painter->setPen(pen);
        painter->save();
        painter->rotate(i * 360.0 / spokes);
        painter->drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter->restore();
    }
    painter->restore();
}

bool JobRow::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                         const QModelIndex& index) {
    const QByteArray output = revealablePath(index);
    const bool revealable = !output.isEmpty();
    const QRect button = revealButtonRect(option.rect);

    // Hover and press only change how the button looks: repaint what is visible.
    auto setIndex = [&option](QPersistentModelIndex& slot, const QModelIndex& value) {
        if (slot == value)
            return;
        slot = value;
        if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
            view->viewport()->update();
    };

    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool over = revealable && button.contains(mouse->position().toPoint());
        setIndex(m_hoveredButton, over ? QModelIndex(index) : QModelIndex());
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && revealable &&
            button.contains(mouse->position().toPoint())) {
            setIndex(m_pressedButton, index);
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool wasPressed = m_pressedButton == index;
        setIndex(m_pressedButton, {});
        if (mouse->button() == Qt::LeftButton && wasPressed && revealable &&
            button.contains(mouse->position().toPoint())) {
            Q_EMIT revealRequested(std::filesystem::path(output.toStdString()));
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

void JobRow::clearHover(QAbstractItemView* view) {
    if (!m_hoveredButton.isValid() && !m_pressedButton.isValid())
        return;
    m_hoveredButton = QPersistentModelIndex();
    m_pressedButton = QPersistentModelIndex();
    view->viewport()->update();
}

bool JobRow::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                       const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip && !revealablePath(index).isEmpty() &&
        revealButtonRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), tr("Finderで表示"), view,
                           revealButtonRect(option.rect));
        return true;
    }
    QToolTip::hideText();
    return event->type() == QEvent::ToolTip;
}
