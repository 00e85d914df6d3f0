// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/Style.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cmath>

namespace Style {

QFont font(TextRole role, const QFont& base) {
    // The ratios of the usual desktop text styles to a 13-point body text.
    // In the order of TextRole: body, headline, subheadline, callout, caption, title3.
    constexpr std::array<qreal, 6> points{13, 13, 11, 12, 10, 15};
    QFont f = base;
    if (role == TextRole::headline)
        f.setWeight(QFont::DemiBold);
    if (const qreal ratio = points[size_t(role)] / 13.0; ratio != 1.0) {
        const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
        f.setPointSizeF(std::max<qreal>(8.0, size * ratio));
    }
    return f;
}

QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

namespace {

double luminance(const QColor& c) {
    const auto channel = [](float v) {
        return v <= 0.04045f ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// The window's text colour faded to `alpha`, or less faded where that is
// needed for text to keep a contrast of 4.5:1 to the window (WCAG AA).
QColor fadedText(const QPalette& palette, float alpha) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    const double windowLuminance = luminance(window);
    for (;; alpha = std::min(1.0f, alpha + 0.05f)) {
        const auto mix = [&](float t, float w) { return t * alpha + w * (1.0f - alpha); };
        const QColor shown =
            QColor::fromRgbF(mix(text.redF(), window.redF()), mix(text.greenF(), window.greenF()),
                             mix(text.blueF(), window.blueF()));
        const auto [dark, light] = std::minmax({luminance(shown), windowLuminance});
        if ((light + 0.05) / (dark + 0.05) >= minimumTextContrast || alpha >= 1.0f) {
            QColor c = text;
            c.setAlphaF(alpha);
            return c;
        }
    }
}

} // namespace

double contrast(const QColor& foreground, const QColor& background) {
    const auto [dark, light] = std::minmax({luminance(foreground), luminance(background)});
    return (light + 0.05) / (dark + 0.05);
}

QColor secondary(const QPalette& palette) {
    return fadedText(palette, 0.55f);
}

QColor tertiary(const QPalette& palette) {
    return fadedText(palette, 0.35f);
}

QColor color(Tone tone, const QPalette& palette) {
    switch (tone) {
    case Tone::primary:
        return palette.color(QPalette::WindowText);
    case Tone::secondary:
        return secondary(palette);
    case Tone::tertiary:
        return tertiary(palette);
    case Tone::separator: {
        QColor c = palette.color(QPalette::WindowText);
        c.setAlphaF(0.15f);
        return c;
    }
    case Tone::orange:
        return orange();
    }
    return {};
}

namespace {

constexpr char toneProperty[] = "burisoraTone";

void paintTone(QWidget* widget, Tone tone) {
    // From the application's palette: the widget's own holds the colour of
    // the previous palette, and its parent's may not have changed yet.
    QPalette p = QApplication::palette(widget);
    const QColor c = color(tone, p);
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    p.setColor(QPalette::ButtonText, c);
    widget->setPalette(p);
}

// Repaints every toned widget in its tone when the desktop's palette changes:
// after the change has reached every widget, since until then the palettes
// Qt hands out are still the old ones.
class ToneKeeper : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
            QTimer::singleShot(0, this, &ToneKeeper::retone);
        return false;
    }

private:
    void retone() {
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget* widget : widgets) {
            const QVariant tone = widget->property(toneProperty);
            if (tone.isValid())
                paintTone(widget, Tone(tone.toInt()));
        }
    }
};

} // namespace

void applyTone(QWidget* widget, Tone tone) {
    static ToneKeeper* keeper = [] {
        auto* k = new ToneKeeper(qApp);
        qApp->installEventFilter(k);
        return k;
    }();
    Q_UNUSED(keeper);
    widget->setProperty(toneProperty, int(tone));
    paintTone(widget, tone);
}

void applyText(QWidget* widget, TextRole role, Tone tone) {
    widget->setFont(font(role, widget->font()));
    if (tone != Tone::primary)
        applyTone(widget, tone);
}

namespace {

// Filled rather than stroked: at a fractional scale a one-point stroke can
// fall between device pixels and vanish, a filled point always covers one.
class SeparatorLine : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::WindowText));
    }
};

} // namespace

QFrame* separator(QWidget* parent) {
    auto* line = new SeparatorLine(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    applyTone(line, Tone::separator);
    return line;
}

namespace {

struct SymbolSource {
    QStringList themeNames; // monochrome (symbolic) theme icons only: they survive tinting
    QString resource;
};

SymbolSource source(Symbol symbol) {
    switch (symbol) {
    case Symbol::plus:
        return {{QStringLiteral("list-add-symbolic"), QStringLiteral("list-add")},
                QStringLiteral(":/icons/plus.svg")};
    case Symbol::dropTarget:
        return {{QStringLiteral("document-import-symbolic")},
                QStringLiteral(":/icons/tray-arrow-down.svg")};
    case Symbol::clock:
        return {{QStringLiteral("alarm-symbolic"), QStringLiteral("appointment-soon-symbolic")},
                QStringLiteral(":/icons/clock.svg")};
    case Symbol::checkmarkCircleFill:
        return {{QStringLiteral("emblem-ok-symbolic")},
                QStringLiteral(":/icons/checkmark-circle-fill.svg")};
    case Symbol::minusCircle:
        return {{}, QStringLiteral(":/icons/minus-circle.svg")};
    case Symbol::exclamationTriangleFill:
        // Ours only: a failure must differ from a skip by its outline too,
        // not by colour alone, and themes draw both as circles.
        return {{}, QStringLiteral(":/icons/exclamationmark-triangle-fill.svg")};
    case Symbol::magnifyingGlass:
        return {{QStringLiteral("system-search-symbolic"), QStringLiteral("edit-find-symbolic")},
                QStringLiteral(":/icons/magnifyingglass.svg")};
    }
    return {};
}

} // namespace

QIcon icon(Symbol symbol) {
    const SymbolSource s = source(symbol);
    for (const QString& name : s.themeNames) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return QIcon(s.resource);
}

QIcon icon(Symbol symbol, const QPalette& palette) {
    QIcon result;
    const QColor color = palette.color(QPalette::ButtonText);
    for (const int size : {16, 22, 24, 32}) {
        for (const qreal ratio : {1.0, 2.0})
            result.addPixmap(tinted(symbol, color, size, ratio));
    }
    return result;
}

QPixmap tinted(Symbol symbol, const QColor& color, int logicalSize, qreal devicePixelRatio) {
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1/%2/%3/%4")
                            .arg(int(symbol))
                            .arg(color.rgba())
                            .arg(logicalSize)
                            .arg(devicePixelRatio);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;

    const int pixels = qRound(logicalSize * devicePixelRatio);
    QPixmap shape = icon(symbol).pixmap(QSize(pixels, pixels));
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    {
        QPainter p(&result);
        p.drawPixmap(QRect(0, 0, pixels, pixels), shape);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(result.rect(), color);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, result);
    return result;
}

QIcon applicationIcon() {
    return QIcon::fromTheme(QStringLiteral("io.github.burisora.Burisora"),
                            QIcon(QStringLiteral(":/icons/burisora.svg")));
}

} // namespace Style
