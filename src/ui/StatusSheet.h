#pragma once

#include <QDialog>
#include <QTextCharFormat>

class QLabel;
class QTextEdit;
class QProgressBar;
class QPushButton;

namespace zelto {
class StatusLog;
}

namespace zelto::ui {

// The status sheet of a long run: the log (normal lines in the control text
// colour at 11 pt, errors red and bold at 12 pt, always scrolled to the end),
// a progress bar fed by the transfer count, Cancel while the run is active
// and Close once it has ended. Window-modal over the main window.
class StatusSheet : public QDialog {
    Q_OBJECT
  public:
    StatusSheet(StatusLog& log, QWidget* parent);

    // The text format of a log line under `palette`.
    static QTextCharFormat lineFormat(const QPalette& palette, bool isError);
    // The red of error lines, readable on the palette's base colour.
    static QColor errorColor(const QPalette& palette);

    QTextEdit* logView() const { return logView_; }
    QPushButton* closeButton() const { return closeButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* stateLabel() const { return state_; }

  public slots:
    void reject() override;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void rebuild();
    void appendLine(const QString& text, bool isError);
    void updateState();
    void updateProgress(int done, int planned);

    StatusLog& log_;
    QLabel* state_;
    QProgressBar* progress_;
    QTextEdit* logView_;
    QPushButton* cancelButton_;
    QPushButton* closeButton_;
    int errors_ = 0;
};

}  // namespace zelto::ui
