#include "app/AppSettings.h"

#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <filesystem>

#include "sync/ZeltoPresetManager.h"

namespace zelto {

namespace {

// The download folder as the desktop names it (localised names, the user's
// own choice in user-dirs.dirs); Qt falls back to ~/Downloads.
std::string downloadsPath() {
    QString path = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    return path.toStdString();
}

}  // namespace

AppSettings::AppSettings() : settings_(std::make_unique<QSettings>()) {}

AppSettings::AppSettings(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

std::string AppSettings::defaultSyncDirectoryPath() const {
    const std::string companion = ZeltoPresetManager::zeltoAppPresetPath();
    std::error_code error;
    if (std::filesystem::exists(companion, error)) return companion;
    return downloadsPath();
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

bool AppSettings::showSyncPreview() const {
    return settings_->value(syncPreviewKey, true).toBool();
}

void AppSettings::setShowSyncPreview(bool show) {
    settings_->setValue(syncPreviewKey, show);
}

bool AppSettings::verifySentPresets() const {
    return settings_->value(verifySentPresetsKey, false).toBool();
}

void AppSettings::setVerifySentPresets(bool verify) {
    settings_->setValue(verifySentPresetsKey, verify);
    settings_->sync();
}

namespace {

int positiveSetting(const QSettings& settings, const char* key, int fallback) {
    bool ok = false;
    int value = settings.value(key, fallback).toInt(&ok);
    return ok && value >= 1 ? value : fallback;
}

}  // namespace

int AppSettings::historyVersionsPerName() const {
    return positiveSetting(*settings_, historyVersionsKey, defaultHistoryVersions);
}

void AppSettings::setHistoryVersionsPerName(int versions) {
    settings_->setValue(historyVersionsKey, std::max(1, versions));
    settings_->sync();
}

int AppSettings::historySizeMiB() const {
    return positiveSetting(*settings_, historySizeKey, defaultHistorySizeMiB);
}

void AppSettings::setHistorySizeMiB(int mebibytes) {
    settings_->setValue(historySizeKey, std::max(1, mebibytes));
    settings_->sync();
}

}  // namespace zelto
