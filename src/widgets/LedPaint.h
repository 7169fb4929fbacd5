// Drawing shared by the LED-style controls: a 5 x 7 dot-matrix character
// set and seven-segment digits, both with their unlit elements drawn dimly
// the way a real display panel shows them.
#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <array>
#include <cstdint>

class QPainter;

namespace tv::led {

inline const QColor kAqua(0, 255, 255);
inline const QColor kPanelBlack(0, 0, 0);

// The colour of an element that is off: the lit colour sunk almost into the
// background, so the cell pattern stays visible.
QColor Unlit(const QColor& lit, const QColor& background);

// Rows of a 5 x 7 glyph, top row first; bit 4 is the leftmost column.
using Glyph = std::array<uint8_t, 7>;
// The glyph for a character. Accented letters fall back to their base
// letter; characters the set lacks show as '?'.
const Glyph& GlyphFor(QChar c);

// Dot-matrix geometry: each cell is 5 dots plus one dot of spacing wide and
// 7 dots plus a dot of margin above and below high.
inline constexpr int kCellDotsWide = 6;
inline constexpr int kCellDotsHigh = 9;

// Paints `text` into `cells` character cells centred in `rect`. `text` must
// already be cut to at most `cells` characters; `firstCell` is the cell the
// text starts in.
void PaintDotMatrix(QPainter& painter, const QRectF& rect, const QString& text, int cells,
                    int firstCell, const QColor& lit, const QColor& background);

// Paints a right-aligned seven-segment number field of `cells` digit cells in
// `rect`. Accepted characters: '0'-'9', '-', ' '; anything else is blank.
void PaintSevenSegment(QPainter& painter, const QRectF& rect, const QString& text, int cells,
                       const QColor& lit, const QColor& background);

// The sunken black field of an LED display, with its light and dark edges.
void PaintBezel(QPainter& painter, const QRectF& rect);

}  // namespace tv::led
