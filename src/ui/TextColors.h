#pragma once

// The colours of the windows' secondary texts and headings, derived from the
// palette in use so that light and dark palettes alike keep every text
// readable: at least the 4.5:1 contrast of WCAG 2 level AA.
// Pure functions of their arguments: any thread, no errors.
#include <QColor>
#include <QPalette>

namespace zelto::ui {

// The contrast ratio of two opaque colours, from 1 (same) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);
// `color`, with its alpha, painted over the opaque `background`.
QColor composited(const QColor& color, const QColor& background);
// A secondary text over `background`: `text` faded towards the background as
// far as it may go while keeping 4.5:1 (never more than 40 %), opaque.
QColor subduedText(const QColor& text, const QColor& background);

// The faint band behind a group heading of the preset view, opaque.
QColor groupHeadingBand(const QPalette& palette);
// Secondary texts of the views (a source's second line, a group's count) on
// unselected rows over `background`.
QColor secondaryViewText(const QPalette& palette, const QColor& background);
// Pane headings, the preset count beside them and hints, over the window.
QColor subduedWindowText(const QPalette& palette);

}  // namespace zelto::ui
