#include "Views/Style.h"

#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace Style {

QFont font(TextRole role, const QFont& base) {
    // The ratios of the usual desktop text styles to a 13-point body text.
    QFont f = base;
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    auto scaled = [&](qreal ratio) { f.setPointSizeF(std::max<qreal>(8.0, size * ratio)); };
    switch (role) {
    case TextRole::body:
        break;
    case TextRole::headline:
        f.setWeight(QFont::DemiBold);
        break;
    case TextRole::subheadline:
        scaled(11.0 / 13.0);
        break;
    case TextRole::callout:
        scaled(12.0 / 13.0);
        break;
    case TextRole::caption:
        scaled(10.0 / 13.0);
        break;
    case TextRole::title3:
        scaled(15.0 / 13.0);
        break;
    }
    return f;
}

QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

QColor secondary(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.55f);
    return c;
}

QColor tertiary(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.35f);
    return c;
}

void applyText(QWidget* widget, TextRole role, const QColor& color) {
    widget->setFont(font(role, widget->font()));
    if (color.isValid()) {
        QPalette p = widget->palette();
        p.setColor(QPalette::WindowText, color);
        p.setColor(QPalette::Text, color);
        p.setColor(QPalette::ButtonText, color);
        widget->setPalette(p);
    }
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
    case Symbol::xmarkCircleFill:
        return {{QStringLiteral("dialog-error-symbolic")},
                QStringLiteral(":/icons/xmark-circle-fill.svg")};
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
