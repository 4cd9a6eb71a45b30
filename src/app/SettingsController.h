#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/RemoteZeltoPreset.h"

#include <QObject>
#include <optional>
#include <string>

#include "app/AppSettings.h"

namespace zelto {

class AppUi;
class DataStore;

// The settings view's logic: a two-entry mode (default, custom) and a path
// control. The view renders `modeIndex`, `pathEditable` and `pathUrl` and
// calls the actions; alerts and the folder chooser go through AppUi.
class SettingsController : public QObject {
    Q_OBJECT
  public:
    enum Mode { defaultMode = 0, customMode = 1 };

    // Lists a folder and hands over the list, or the error's text; may answer
    // later, on the main thread. The application reads off the main thread.
    using FolderReader = std::function<void(
        const std::string& path, std::function<void(std::vector<RemoteZeltoPreset>, std::optional<std::string>)>)>;

    SettingsController(AppSettings& settings, DataStore& store, AppUi& ui, QObject* parent = nullptr);
    // Without a reader the folder is listed at once, on the caller's thread.
    void setFolderReader(FolderReader reader) { reader_ = std::move(reader); }

    // The view appeared: derives the mode and the shown path from the settings.
    void viewLoaded();
    // The mode pop-up changed to `index` (0 default, anything else custom).
    void syncDirectoryMode(int index);
    // The path control was activated: opens the folder chooser at the folder
    // in use. A folder chosen becomes the sync folder; a cancelled chooser
    // changes nothing.
    void chooseSyncDirectory();
    void applySyncDirectoryMode();
    // Lists the sync folder into the local source; a warning alert when it
    // cannot be read (the store is then unchanged).
    void reloadLocalPresets();

    int modeIndex() const { return modeIndex_; }
    bool pathEditable() const { return pathEditable_; }
    // The shown folder as URL text; none when the path does not parse as one.
    const std::optional<std::string>& pathUrl() const { return pathUrl_; }

  signals:
    // Any of modeIndex, pathEditable, pathUrl changed.
    void changed();

  private:
    void showPath(const std::string& path);

    AppSettings& settings_;
    DataStore& store_;
    AppUi& ui_;
    int modeIndex_ = defaultMode;
    bool pathEditable_ = false;
    std::optional<std::string> pathUrl_;
    FolderReader reader_;
};

}  // namespace zelto
