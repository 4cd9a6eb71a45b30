#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <cstdint>

namespace zelto::ui {

// Icons drawn from our SVGs. GUI thread only. Each icon parses its SVG once,
// when first drawn, and keeps what it rendered for each size, device pixel
// ratio and mode, so painting a row again parses and renders nothing.

// The application's icon (the installed SVG, built in).
QIcon appIcon();
// A line icon of ours drawn in `color` (the palette's text colour, so dark
// themes get light icons); dimmed when disabled. Sharp at any scale. The same
// name and colour give the same icon; a new palette colour makes a new one.
QIcon lineIcon(const QString& name, const QColor& color);

// How many SVG documents the icons parsed in this process (tests check that
// painting parses none once the icons were drawn).
std::uint64_t svgParses();

}  // namespace zelto::ui
