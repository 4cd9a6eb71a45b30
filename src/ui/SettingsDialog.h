#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QLabel;

namespace zelto {
class AppSettings;
class SettingsController;
}  // namespace zelto

namespace zelto::ui {

// The settings: the sync folder (default or custom, shown as a path, with a
// folder chooser), the mixers asked by address on every discovery pass, and
// how presets are kept safe: sent presets read back, the history's limits.
// Every change is stored at once.
class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    SettingsDialog(SettingsController& controller, AppSettings& settings, QWidget* parent);

    QComboBox* modeBox() const { return mode_; }
    QLineEdit* pathField() const { return path_; }
    QPushButton* chooseButton() const { return choose_; }
    QListWidget* mixerList() const { return mixers_; }
    QLineEdit* addressField() const { return address_; }
    QPushButton* addButton() const { return add_; }
    QCheckBox* verifyBox() const { return verify_; }
    QCheckBox* syncPreviewBox() const { return syncPreview_; }
    QSpinBox* versionsBox() const { return versions_; }
    QSpinBox* historySizeBox() const { return historySize_; }

  signals:
    // The list of mixers by address changed (a discovery pass should follow).
    void mixerAddressesChanged();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();
    void addAddress();
    void removeSelectedAddresses();
    void storeAddresses();
    void updateButtons();

    SettingsController& controller_;
    AppSettings& settings_;
    QComboBox* mode_;
    QLineEdit* path_;
    QPushButton* choose_;
    QListWidget* mixers_;
    QLineEdit* address_;
    QPushButton* add_;
    QPushButton* remove_;
    QLabel* addressHint_;
    QCheckBox* verify_;
    QCheckBox* syncPreview_;
    QSpinBox* versions_;
    QSpinBox* historySize_;
};

}  // namespace zelto::ui
