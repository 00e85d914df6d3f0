// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/DropZoneView.h"

#include "Views/Style.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr int minimumZoneHeight = 220;
constexpr qreal cornerRadius = 16.0;
constexpr int symbolSize = 44;

QColor mix(const QColor& from, const QColor& to, qreal t) {
    auto lerp = [t](float a, float b) { return float(a + (b - a) * t); };
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    return QColor::fromRgbF(lerp(a.redF(), b.redF()), lerp(a.greenF(), b.greenF()),
                            lerp(a.blueF(), b.blueF()), lerp(a.alphaF(), b.alphaF()));
}

QColor withAlpha(QColor c, qreal alpha) {
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace

DropZoneView::DropZoneView(DropHandler onDrop, QWidget* parent)
    : QWidget(parent), m_onDrop(std::move(onDrop)) {
    setAcceptDrops(true);
    setContentsMargins(Style::standardMargin, Style::standardMargin, Style::standardMargin,
                       Style::standardMargin);

    auto* layout = new QVBoxLayout(this);
    // The standard margin around the zone plus the standard margin inside it.
    layout->setContentsMargins(Style::standardMargin, Style::standardMargin, Style::standardMargin,
                               Style::standardMargin);
    layout->setSpacing(10);
    layout->addStretch(1);
    m_symbol = new QLabel(this);
    m_symbol->setAlignment(Qt::AlignCenter);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setAlignment(Qt::AlignCenter);
    Style::applyText(m_title, Style::TextRole::title3);
    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAlignment(Qt::AlignCenter);
    Style::applyText(m_caption, Style::TextRole::caption, Style::Tone::secondary);
    for (QLabel* label : {m_symbol, m_title, m_caption}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(label);
    }
    layout->addStretch(1);

    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(150);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_highlight = value.toReal();
        refreshSymbol();
        update();
    });

    setMinimumHeight(minimumZoneHeight + 2 * Style::standardMargin);
    refreshSymbol();
    retranslate();
}

QSize DropZoneView::minimumSizeHint() const {
    return {QWidget::minimumSizeHint().width(), minimumZoneHeight + 2 * Style::standardMargin};
}

QColor DropZoneView::accentOrSecondary() const {
    return mix(Style::secondary(palette()), Style::accent(palette()), m_highlight);
}

void DropZoneView::refreshSymbol() {
    m_symbol->setPixmap(Style::tinted(Style::Symbol::dropTarget, accentOrSecondary(), symbolSize,
                                      devicePixelRatioF()));
}

void DropZoneView::setTargeted(bool targeted) {
    if (m_isTargeted == targeted)
        return;
    m_isTargeted = targeted;
    // From wherever the colours are now, so a quick enter and leave reverses
    // smoothly instead of jumping.
    m_animation->stop();
    m_animation->setStartValue(m_highlight);
    m_animation->setEndValue(targeted ? 1.0 : 0.0);
    m_animation->start();
}

void DropZoneView::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls())
        return;
    event->acceptProposedAction();
    setTargeted(true);
}

void DropZoneView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent*) {
    setTargeted(false);
}

void DropZoneView::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    setTargeted(false);
    if (m_onDrop)
        m_onDrop(urls);
}

void DropZoneView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal lineWidth = 2.0;
    // The border lies inside the shape's edge.
    const QRectF shape = QRectF(contentsRect());
    const QRectF stroke =
        shape.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);

    const QColor fill =
        mix(withAlpha(Style::gray(), 0.05), withAlpha(Style::accent(palette()), 0.12), m_highlight);
    QPainterPath path;
    path.addRoundedRect(shape, cornerRadius, cornerRadius);
    painter.fillPath(path, fill);

    QPen pen(accentOrSecondary(), lineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    pen.setDashPattern({8.0 / lineWidth, 6.0 / lineWidth}); // in units of the line width
    pen.setDashOffset(0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal inner = cornerRadius - lineWidth / 2;
    painter.drawRoundedRect(stroke, inner, inner);
}

void DropZoneView::retranslate() {
    m_title->setText(tr("ここに画像をドロップ"));
    m_caption->setText(tr("JPEG / PNG / HEIC / TIFF / WebP / GIF / AVIF / JPEG XL"));
}

void DropZoneView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    else if (event->type() == QEvent::PaletteChange)
        refreshSymbol();
    QWidget::changeEvent(event);
}
