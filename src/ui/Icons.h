#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace zelto::ui {

// The application's icon (the installed SVG, built in).
QIcon appIcon();
// A line icon of ours drawn in `color` (the palette's text colour, so dark
// themes get light icons); dimmed when disabled. Sharp at any scale.
QIcon lineIcon(const QString& name, const QColor& color);

}  // namespace zelto::ui
