// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

class QFrame;
class QPalette;
class QWidget;

// The window's shared look: text roles sized relative to the desktop's body
// font, the secondary and tertiary text colours, and symbols that come from
// the icon theme when it has them and from our own set otherwise.
namespace Style {

inline constexpr int standardMargin = 16;

enum class TextRole { body, headline, subheadline, callout, caption, title3 };
QFont font(TextRole role, const QFont& base);

QColor accent(const QPalette& palette);
// Faded text colours; faded no further than keeps them readable on the
// window (minimumTextContrast), in light and dark palettes alike.
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
inline constexpr double minimumTextContrast = 4.5;
// The WCAG contrast ratio of two opaque colours, 1 to 21.
double contrast(const QColor& foreground, const QColor& background);
inline QColor gray() {
    return {142, 142, 147};
}
inline QColor green() {
    return {52, 168, 83};
}
inline QColor red() {
    return {224, 49, 49};
}
inline QColor orange() {
    return {230, 126, 0};
}

// How strongly text and lines stand out against the window.
enum class Tone { primary, secondary, tertiary, separator, orange };
QColor color(Tone tone, const QPalette& palette);

// Sets the widget's font to a role and its text colour to a tone. The colour
// goes into the widget's palette and is worked out again when the desktop's
// palette changes (a switch between light and dark).
void applyText(QWidget* widget, TextRole role, Tone tone = Tone::primary);
void applyTone(QWidget* widget, Tone tone);
// A thin horizontal line in the separator tone.
QFrame* separator(QWidget* parent);

enum class Symbol {
    plus,
    dropTarget,
    clock,
    checkmarkCircleFill,
    minusCircle,
    exclamationTriangleFill,
    magnifyingGlass,
};

// The symbol as an icon (untinted).
QIcon icon(Symbol symbol);
// The symbol in the palette's button text colour, for buttons and actions:
// it stays visible in dark palettes.
QIcon icon(Symbol symbol, const QPalette& palette);
// The symbol in one colour at a logical size, cached.
QPixmap tinted(Symbol symbol, const QColor& color, int logicalSize, qreal devicePixelRatio);

QIcon applicationIcon();

} // namespace Style
