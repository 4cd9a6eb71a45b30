#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AppSettings.h"
#include "app/SettingsController.h"
#include "app/ViewRules.h"
#include "ui/SubduedLabel.h"

namespace zelto::ui {

namespace {

QLabel* hint(const QString& text, QWidget* parent) {
    auto* label = new SubduedLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

SettingsDialog::SettingsDialog(SettingsController& controller, AppSettings& settings, QWidget* parent)
    : QDialog(parent), controller_(controller), settings_(settings) {
    setWindowTitle(tr("Settings"));
    setWindowModality(Qt::WindowModal);

    auto* folderBox = new QGroupBox(tr("Sync folder"), this);
    mode_ = new QComboBox(folderBox);
    mode_->addItem(tr("Default folder"));
    mode_->addItem(tr("Custom folder"));
    path_ = new QLineEdit(folderBox);
    path_->setReadOnly(true);
    path_->setMinimumWidth(380);
    choose_ = new QPushButton(tr("Choose…"), folderBox);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(choose_);
    auto* folderLayout = new QVBoxLayout(folderBox);
    folderLayout->addWidget(mode_);
    folderLayout->addLayout(pathRow);
    folderLayout->addWidget(hint(tr("Every preset is kept here as one file. Sync all makes this folder and "
                                    "every mixer hold the same presets."),
                                 folderBox));

    auto* mixersBox = new QGroupBox(tr("Mixers by address"), this);
    mixers_ = new QListWidget(mixersBox);
    mixers_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mixers_->setFixedHeight(mixers_->fontMetrics().height() * 5 + 8);
    address_ = new QLineEdit(mixersBox);
    address_->setPlaceholderText(tr("IPv4 address, e.g. 192.168.1.20"));
    add_ = new QPushButton(tr("Add"), mixersBox);
    remove_ = new QPushButton(tr("Remove"), mixersBox);
    addressHint_ = hint(tr("Asked directly on every network scan, for networks where a broadcast does not "
                           "reach the mixers."),
                        mixersBox);
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(address_, 1);
    addRow->addWidget(add_);
    addRow->addWidget(remove_);
    auto* mixersLayout = new QVBoxLayout(mixersBox);
    mixersLayout->addWidget(mixers_);
    mixersLayout->addLayout(addRow);
    mixersLayout->addWidget(addressHint_);

    auto* safetyBox = new QGroupBox(tr("Keeping presets safe"), this);
    verify_ = new QCheckBox(tr("Verify sent presets"), safetyBox);
    verify_->setToolTip(tr("Read every preset sent to a mixer back and compare it with what was sent"));
    syncPreview_ = new QCheckBox(tr("Show what Sync All will do first"), safetyBox);
    syncPreview_->setToolTip(tr("Before Sync All starts, list what it will fetch and send, with Sync and Cancel"));
    versions_ = new QSpinBox(safetyBox);
    versions_->setRange(1, 1000);
    versions_->setSuffix(tr(" per preset"));
    historySize_ = new QSpinBox(safetyBox);
    historySize_->setRange(1, 100000);
    historySize_->setSuffix(tr(" MiB"));
    auto* limits = new QFormLayout;
    limits->addRow(tr("Versions kept:"), versions_);
    limits->addRow(tr("History size at most:"), historySize_);
    auto* safetyLayout = new QVBoxLayout(safetyBox);
    safetyLayout->addWidget(verify_);
    safetyLayout->addWidget(syncPreview_);
    safetyLayout->addLayout(limits);
    safetyLayout->addWidget(hint(tr("Every preset that is replaced or deleted is kept in the history of the "
                                    "sync folder, oldest versions going first. A deleted preset stays at "
                                    "least 30 days."),
                                 safetyBox));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(12);
    layout->addWidget(folderBox);
    layout->addWidget(mixersBox);
    layout->addWidget(safetyBox);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(&controller_, &SettingsController::changed, this, &SettingsDialog::render);
    connect(mode_, &QComboBox::activated, this, [this](int index) { controller_.syncDirectoryMode(index); });
    connect(choose_, &QPushButton::clicked, this, [this] { controller_.chooseSyncDirectory(); });
    connect(add_, &QPushButton::clicked, this, &SettingsDialog::addAddress);
    connect(address_, &QLineEdit::returnPressed, this, &SettingsDialog::addAddress);
    connect(address_, &QLineEdit::textChanged, this, &SettingsDialog::updateButtons);
    connect(remove_, &QPushButton::clicked, this, &SettingsDialog::removeSelectedAddresses);
    connect(mixers_, &QListWidget::itemSelectionChanged, this, &SettingsDialog::updateButtons);
    connect(verify_, &QCheckBox::toggled, this, [this](bool on) { settings_.setVerifySentPresets(on); });
    connect(syncPreview_, &QCheckBox::toggled, this, [this](bool on) { settings_.setShowSyncPreview(on); });
    connect(versions_, &QSpinBox::valueChanged, this, [this](int n) { settings_.setHistoryVersionsPerName(n); });
    connect(historySize_, &QSpinBox::valueChanged, this, [this](int n) { settings_.setHistorySizeMiB(n); });
}

void SettingsDialog::showEvent(QShowEvent* event) {
    controller_.viewLoaded();
    mixers_->clear();
    for (const auto& address : settings_.mixerAddresses()) mixers_->addItem(QString::fromStdString(address));
    const QSignalBlocker a(verify_), b(versions_), c(historySize_), d(syncPreview_);
    verify_->setChecked(settings_.verifySentPresets());
    syncPreview_->setChecked(settings_.showSyncPreview());
    versions_->setValue(settings_.historyVersionsPerName());
    historySize_->setValue(settings_.historySizeMiB());
    updateButtons();
    QDialog::showEvent(event);
}

void SettingsDialog::render() {
    mode_->setCurrentIndex(controller_.modeIndex());
    choose_->setEnabled(controller_.pathEditable());
    path_->setEnabled(controller_.pathEditable());
    // The folder as a path. A path that is no valid URL text (a blank in it)
    // is still the folder in use, so it is shown as stored.
    const auto& url = controller_.pathUrl();
    QString path = url ? QUrl(QString::fromStdString(*url)).path() : QString();
    if (path.isEmpty()) path = QString::fromStdString(settings_.syncDirectoryPath());
    path_->setText(path);
    path_->setToolTip(path);
}

void SettingsDialog::addAddress() {
    const auto address = mixerAddress(address_->text().toStdString());
    if (!address) return;
    const QString text = QString::fromStdString(*address);
    if (mixers_->findItems(text, Qt::MatchExactly).isEmpty()) mixers_->addItem(text);
    address_->clear();
    storeAddresses();
}

void SettingsDialog::removeSelectedAddresses() {
    qDeleteAll(mixers_->selectedItems());
    storeAddresses();
}

void SettingsDialog::storeAddresses() {
    std::vector<std::string> addresses;
    for (int i = 0; i < mixers_->count(); ++i) addresses.push_back(mixers_->item(i)->text().toStdString());
    settings_.setMixerAddresses(addresses);
    updateButtons();
    emit mixerAddressesChanged();
}

void SettingsDialog::updateButtons() {
    const bool valid = mixerAddress(address_->text().toStdString()).has_value();
    add_->setEnabled(valid);
    add_->setDefault(valid);
    remove_->setEnabled(!mixers_->selectedItems().isEmpty());
}

}  // namespace zelto::ui
