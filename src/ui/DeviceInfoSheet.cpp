#include "ui/DeviceInfoSheet.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/DeviceInformation.h"
#include "device/ZeltoDevice.h"

namespace zelto::ui {

namespace {

QLabel* field(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setMinimumWidth(260);
    return label;
}

}  // namespace

DeviceInfoSheet::DeviceInfoSheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Mixer Information"));
    setWindowModality(Qt::WindowModal);

    title_ = new QLabel(this);
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    title_->setFont(titleFont);

    name_ = field(this);
    serialNumber_ = field(this);
    type_ = field(this);
    version_ = field(this);
    uid_ = field(this);
    mixes_ = new QPlainTextEdit(this);
    mixes_->setReadOnly(true);
    mixes_->setMinimumHeight(140);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->setHorizontalSpacing(14);
    form->setVerticalSpacing(6);
    form->addRow(tr("Name:"), name_);
    form->addRow(tr("Serial number:"), serialNumber_);
    form->addRow(tr("Model:"), type_);
    form->addRow(tr("Version:"), version_);
    form->addRow(tr("UID:"), uid_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(10);
    layout->addWidget(title_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(tr("Mixes:"), this));
    layout->addWidget(mixes_, 1);
    layout->addWidget(buttons);
}

void DeviceInfoSheet::fill() {
    const auto info = DeviceInformation::of(device_);
    title_->setText(device_ ? QString::fromStdString(device_->description()) : QString());
    name_->setText(QString::fromStdString(info.name));
    serialNumber_->setText(QString::fromStdString(info.serialNumber));
    type_->setText(QString::fromStdString(info.type));
    version_->setText(QString::fromStdString(info.version));
    uid_->setText(QString::fromStdString(info.uid));
    QString mixes = QString::fromStdString(info.mixes);
    if (mixes.endsWith('\n')) mixes.chop(1);
    mixes_->setPlainText(mixes);
}

void DeviceInfoSheet::deviceGone() {
    if (device_) title_->setText(tr("%1 (disconnected)").arg(QString::fromStdString(device_->description())));
    device_.reset();
}

void DeviceInfoSheet::showEvent(QShowEvent* event) {
    fill();
    QDialog::showEvent(event);
}

}  // namespace zelto::ui
