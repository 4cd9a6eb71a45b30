#include "ui/StatusSheet.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QVBoxLayout>

#include "app/StatusLog.h"

namespace zelto::ui {

StatusSheet::StatusSheet(StatusLog& log, QWidget* parent) : QDialog(parent), log_(log) {
    setWindowTitle(tr("Status"));
    setWindowModality(Qt::WindowModal);
    setSizeGripEnabled(true);
    resize(720, 460);

    state_ = new QLabel(this);
    QFont stateFont = state_->font();
    stateFont.setBold(true);
    stateFont.setPointSizeF(stateFont.pointSizeF() * 1.15);
    state_->setFont(stateFont);

    progress_ = new QProgressBar(this);
    progress_->setTextVisible(true);

    logView_ = new QTextEdit(this);
    logView_->setReadOnly(true);
    logView_->setUndoRedoEnabled(false);
    logView_->setAcceptRichText(false);
    logView_->setLineWrapMode(QTextEdit::WidgetWidth);
    logView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    logView_->setTabStopDistance(QFontMetricsF(lineFormat(palette(), false).font()).horizontalAdvance(' ') *
                                 4);

    auto* buttons = new QDialogButtonBox(this);
    cancelButton_ = buttons->addButton(QDialogButtonBox::Cancel);
    closeButton_ = buttons->addButton(QDialogButtonBox::Close);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { log_.cancel(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(state_);
    layout->addWidget(progress_);
    layout->addWidget(logView_, 1);
    layout->addWidget(buttons);

    connect(&log_, &StatusLog::lineAppended, this, &StatusSheet::appendLine);
    connect(&log_, &StatusLog::cleared, this, &StatusSheet::rebuild);
    connect(&log_, &StatusLog::finishedChanged, this, &StatusSheet::updateState);
    connect(&log_, &StatusLog::canCancelChanged, this, &StatusSheet::updateState);
    connect(&log_, &StatusLog::transfersChanged, this, &StatusSheet::updateProgress);
    rebuild();
}

QColor StatusSheet::errorColor(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128 ? QColor(0xff, 0x6b, 0x6b)
                                                           : QColor(0xd0, 0x10, 0x10);
}

QTextCharFormat StatusSheet::lineFormat(const QPalette& palette, bool isError) {
    QTextCharFormat format;
    QFont font = QApplication::font();
    font.setPointSizeF(isError ? 12 : 11);
    font.setBold(isError);
    format.setFont(font);
    format.setForeground(isError ? errorColor(palette) : palette.color(QPalette::Text));
    format.setBackground(palette.color(QPalette::Base));
    return format;
}

void StatusSheet::rebuild() {
    logView_->clear();
    errors_ = 0;
    for (const auto& line : log_.lines()) appendLine(QString::fromStdString(line.text), line.isError);
    updateState();
    updateProgress(log_.transfersDone(), log_.transfersPlanned());
}

void StatusSheet::appendLine(const QString& text, bool isError) {
    if (isError) ++errors_;
    // Wrapped lines hang under their first word, so every line starts visibly.
    QTextBlockFormat block;
    block.setLeftMargin(18);
    block.setTextIndent(-18);
    block.setBottomMargin(1);
    QTextCursor cursor(logView_->document());
    cursor.movePosition(QTextCursor::End);
    const QTextCharFormat format = lineFormat(palette(), isError);
    if (logView_->document()->isEmpty())
        cursor.setBlockFormat(block);
    else
        cursor.insertBlock(block);
    cursor.setBlockCharFormat(format);
    cursor.insertText(text, format);
    logView_->verticalScrollBar()->setValue(logView_->verticalScrollBar()->maximum());
    if (isError) updateState();
}

void StatusSheet::updateState() {
    const bool finished = log_.isFinished();
    closeButton_->setEnabled(finished);
    cancelButton_->setEnabled(log_.canCancel());
    closeButton_->setDefault(finished);
    if (!finished)
        state_->setText(log_.canCancel() ? tr("Working…") : tr("Stopping…"));
    else if (errors_ > 0)
        state_->setText(tr("Finished with %n errors", nullptr, errors_));
    else
        state_->setText(tr("Finished"));
    updateProgress(log_.transfersDone(), log_.transfersPlanned());
    if (finished) closeButton_->setFocus();
}

void StatusSheet::updateProgress(int done, int planned) {
    if (planned <= 0) {
        // Nothing to count (yet): busy while running, full once ended.
        progress_->setRange(0, log_.isFinished() ? 1 : 0);
        progress_->setValue(log_.isFinished() ? 1 : 0);
        progress_->setFormat(log_.isFinished() ? tr("No transfers") : QString());
        return;
    }
    progress_->setRange(0, planned);
    progress_->setValue(std::min(done, planned));
    progress_->setFormat(tr("%1 of %2 transfers").arg(done).arg(planned));
}

// Escape closes the sheet only once the run has ended.
void StatusSheet::reject() {
    if (log_.isFinished()) QDialog::reject();
}

void StatusSheet::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) rebuild();
}

}  // namespace zelto::ui
