#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <string>
#include <vector>

namespace zelto {

// The persisted settings. Read freshly on every call (nothing is cached), so
// every reader sees the folder the user chose last.
//
// The program sets the organisation and application names once
// (QCoreApplication::setOrganizationName / setApplicationName) before the
// first AppSettings is made; tests give a file of their own.
class AppSettings {
  public:
    static constexpr const char* syncDirectoryKey = "SyncDirectory";
    static constexpr const char* mixerAddressesKey = "MixerAddresses";
    static constexpr const char* verifySentPresetsKey = "VerifySentPresets";
    static constexpr const char* historyVersionsKey = "HistoryVersionsPerName";
    static constexpr const char* historySizeKey = "HistorySizeMiB";
    static constexpr const char* syncPreviewKey = "ShowSyncPreview";
    static constexpr int defaultHistoryVersions = 20;
    static constexpr int defaultHistorySizeMiB = 500;

    // The user's settings of this program.
    AppSettings();
    // Settings kept in an INI file (tests).
    explicit AppSettings(const QString& iniFile);

    // The companion application's preset folder when something exists there,
    // else the user's download folder as the desktop reports it
    // (QStandardPaths::DownloadLocation), with a trailing "/".
    std::string defaultSyncDirectoryPath() const;
    // The stored "SyncDirectory" text, else the default path.
    std::string syncDirectoryPath() const;
    // The sync folder is one of the two default paths (exact text, whether or
    // not the folder exists).
    bool isDefaultSyncDirectory() const;
    void setSyncDirectoryPath(const std::string& path);
    bool hasStoredSyncDirectory() const;

    // Mixers the user named by address, asked directly on every discovery
    // pass (for networks where a broadcast does not reach them).
    std::vector<std::string> mixerAddresses() const;
    void setMixerAddresses(const std::vector<std::string>& addresses);

    // Every preset sent to a mixer is fetched back and compared (off by default).
    bool verifySentPresets() const;
    void setVerifySentPresets(bool verify);
    // The history's limits: versions kept per preset name and its size in
    // MiB (at least 1 each).
    int historyVersionsPerName() const;
    void setHistoryVersionsPerName(int versions);
    int historySizeMiB() const;
    void setHistorySizeMiB(int mebibytes);

    // Sync All first shows what it will do (on by default).
    bool showSyncPreview() const;
    void setShowSyncPreview(bool show);

    QSettings& store() { return *settings_; }

  private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace zelto
