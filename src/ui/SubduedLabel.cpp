#include "ui/SubduedLabel.h"

#include <QApplication>
#include <QEvent>

#include "ui/TextColors.h"

namespace zelto::ui {

SubduedLabel::SubduedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    applyColor();
}

void SubduedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    const bool newPalette = event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange;
    if (newPalette && !applying_) applyColor();
}

// From the palette the label would have without its own colour: the parent's,
// or the application's.
void SubduedLabel::applyColor() {
    applying_ = true;
    QPalette base = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    base.setColor(QPalette::WindowText, subduedWindowText(base));
    setPalette(base);
    applying_ = false;
}

}  // namespace zelto::ui
