#include "app/AppSettings.h"

#include <QStringList>

#include "sync/PresetFiles.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

namespace {

std::string downloadsPath() {
    return presetfiles::homeDirectory() + "/Downloads/";
}

}  // namespace

AppSettings::AppSettings() : settings_(std::make_unique<QSettings>()) {}

AppSettings::AppSettings(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

std::string AppSettings::defaultSyncDirectoryPath() const {
    return zelto::defaultSyncDirectoryPath();
}

bool AppSettings::hasStoredSyncDirectory() const {
    return settings_->contains(syncDirectoryKey);
}

std::string AppSettings::syncDirectoryPath() const {
    QVariant stored = settings_->value(syncDirectoryKey);
    if (stored.isValid()) return stored.toString().toStdString();
    return defaultSyncDirectoryPath();
}

bool AppSettings::isDefaultSyncDirectory() const {
    std::string path = syncDirectoryPath();
    return path == ZeltoPresetManager::zeltoAppPresetPath() || path == downloadsPath();
}

void AppSettings::setSyncDirectoryPath(const std::string& path) {
    settings_->setValue(syncDirectoryKey, QString::fromStdString(path));
    settings_->sync();
}

std::vector<std::string> AppSettings::mixerAddresses() const {
    std::vector<std::string> addresses;
    for (const QString& address : settings_->value(mixerAddressesKey).toStringList()) {
        QString trimmed = address.trimmed();
        if (!trimmed.isEmpty()) addresses.push_back(trimmed.toStdString());
    }
    return addresses;
}

void AppSettings::setMixerAddresses(const std::vector<std::string>& addresses) {
    QStringList list;
    for (const auto& address : addresses) list.push_back(QString::fromStdString(address));
    settings_->setValue(mixerAddressesKey, list);
    settings_->sync();
}

}  // namespace zelto
