#include "app/SettingsController.h"

#include <QUrl>

#include "app/AppUi.h"
#include "app/DataStore.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

SettingsController::SettingsController(AppSettings& settings, DataStore& store, AppUi& ui, QObject* parent)
    : QObject(parent), settings_(settings), store_(store), ui_(ui) {}

void SettingsController::showPath(const std::string& path) {
    QUrl url(QString::fromStdString(path), QUrl::StrictMode);
    if (url.isValid())
        pathUrl_ = url.toString().toStdString();
    else
        pathUrl_.reset();
}

void SettingsController::viewLoaded() {
    bool isDefault = settings_.isDefaultSyncDirectory();
    pathEditable_ = !isDefault;
    modeIndex_ = isDefault ? defaultMode : customMode;
    showPath(settings_.syncDirectoryPath());
    emit changed();
}

void SettingsController::syncDirectoryMode(int index) {
    modeIndex_ = index;
    applySyncDirectoryMode();
}

void SettingsController::applySyncDirectoryMode() {
    if (modeIndex_ != defaultMode) {
        pathEditable_ = true;
        emit changed();
        chooseSyncDirectory();
        return;
    }
    pathEditable_ = false;
    std::string path = settings_.defaultSyncDirectoryPath();
    settings_.setSyncDirectoryPath(path);
    showPath(path);
    emit changed();
    reloadLocalPresets();
}

void SettingsController::chooseSyncDirectory() {
    ui_.chooseFolder(settings_.syncDirectoryPath(), [this](std::optional<std::string> chosen) {
        // Cancelled: the folder in use stays, and the view shows it again
        // (a switch to "custom" that chose nothing goes back).
        if (!chosen) return viewLoaded();
        std::string path = *chosen;
        if (path.empty() || path.back() != '/') path.push_back('/');
        showPath(path);
        settings_.setSyncDirectoryPath(path);
        emit changed();
        reloadLocalPresets();
    });
}

void SettingsController::reloadLocalPresets() {
    auto done = [this](std::vector<RemoteZeltoPreset> list, std::optional<std::string> error) {
        if (error) {
            ui_.showAlert(AppUi::AlertStyle::warning, tr("Could not reload local preset list: %1")
                                                          .arg(QString::fromStdString(*error))
                                                          .toStdString());
            return;
        }
        store_.setLocalPresets(std::move(list));
    };
    if (reader_) {
        reader_(settings_.syncDirectoryPath(), done);
        return;
    }
    try {
        done(ZeltoPresetManager::localPresetList(settings_.syncDirectoryPath()), std::nullopt);
    } catch (const std::exception& e) {
        done({}, std::string(e.what()));
    }
}

}  // namespace zelto
