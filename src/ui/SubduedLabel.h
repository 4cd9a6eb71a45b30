#pragma once

// A label for secondary text (pane headings, counts, hints): fainter than
// the window's text, yet with 4.5:1 contrast in any palette; it follows
// palette changes (a switch to a dark theme) by itself.
// GUI thread only, like every widget.
#include <QLabel>

namespace zelto::ui {

class SubduedLabel : public QLabel {
    Q_OBJECT
  public:
    explicit SubduedLabel(const QString& text = {}, QWidget* parent = nullptr);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void applyColor();
    bool applying_ = false;
};

}  // namespace zelto::ui
