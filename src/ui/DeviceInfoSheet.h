#pragma once

#include <QDialog>

#include "sync/ZeltoPresetManager.h"

class QLabel;
class QPlainTextEdit;

namespace zelto::ui {

// What a mixer has reported about itself: name, serial number, model,
// version, uid and one line per mix. Filled each time it is shown.
class DeviceInfoSheet : public QDialog {
    Q_OBJECT
  public:
    explicit DeviceInfoSheet(QWidget* parent);

    void setDevice(DevicePtr device) { device_ = std::move(device); }
    // The mixer disconnected: the sheet lets go of it and, while open, keeps
    // what it showed under a title that says the mixer is gone.
    void deviceGone();
    const DevicePtr& device() const { return device_; }
    // Fills the fields from the device (what showing the sheet does).
    void fill();

    QLabel* nameField() const { return name_; }
    QLabel* serialNumberField() const { return serialNumber_; }
    QLabel* typeField() const { return type_; }
    QLabel* versionField() const { return version_; }
    QLabel* uidField() const { return uid_; }
    QPlainTextEdit* mixesView() const { return mixes_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    DevicePtr device_;
    QLabel* title_;
    QLabel* name_;
    QLabel* serialNumber_;
    QLabel* type_;
    QLabel* version_;
    QLabel* uid_;
    QPlainTextEdit* mixes_;
};

}  // namespace zelto::ui
