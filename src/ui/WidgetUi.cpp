#include "ui/WidgetUi.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "ui/StatusSheet.h"

namespace zelto::ui {

namespace {

QMessageBox::Icon iconOf(AppUi::AlertStyle style) {
    return style == AppUi::AlertStyle::critical ? QMessageBox::Critical : QMessageBox::Warning;
}

}  // namespace

void WidgetUi::setWindow(QWidget* window, StatusSheet* statusSheet) {
    window_ = window;
    statusSheet_ = statusSheet;
}

QWidget* WidgetUi::alertParent() const {
    QWidget* active = QApplication::activeWindow();
    if (active && active != statusSheet_ && (active == window_ || active->parentWidget() == window_))
        return active;
    return window_;
}

void WidgetUi::showAlert(AlertStyle style, const std::string& message) {
    auto* box = new QMessageBox(iconOf(style), QApplication::applicationDisplayName(),
                                QString::fromStdString(message), QMessageBox::Ok, alertParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

void WidgetUi::confirm(AlertStyle style, const std::string& message, const std::string& informativeText,
                       const std::string& confirmButton, const std::string& cancelButton,
                       std::function<void(bool confirmed)> done) {
    auto* box = new QMessageBox(alertParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(iconOf(style));
    box->setWindowTitle(QApplication::applicationDisplayName());
    box->setText(QString::fromStdString(message));
    box->setInformativeText(QString::fromStdString(informativeText));
    QPushButton* confirmed = box->addButton(QString::fromStdString(confirmButton), QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(QString::fromStdString(cancelButton), QMessageBox::RejectRole);
    // The confirmed action overwrites a mixer's settings: Return must not do it by accident.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, confirmed, done = std::move(done)] {
        if (done) done(box->clickedButton() == confirmed);
    });
    box->open();
}

void WidgetUi::presentStatusSheet() {
    if (!statusSheet_) return;
    statusSheet_->open();
    statusSheet_->raise();
    statusSheet_->activateWindow();
}

void WidgetUi::chooseFolder(const std::string& startFolder,
                            std::function<void(std::optional<std::string> path)> done) {
    auto* dialog = new QFileDialog(alertParent(), QObject::tr("Choose the sync folder"),
                                   QString::fromStdString(startFolder));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowModality(Qt::WindowModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
        const auto files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty())
            done(files.front().toStdString());
        else
            done(std::nullopt);
    });
    dialog->open();
}

}  // namespace zelto::ui
