#include "app/FolderWatcher.h"

namespace zelto {

FolderWatcher::FolderWatcher(std::chrono::milliseconds settle, QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(settle);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&settle_, &QTimer::timeout, this, &FolderWatcher::changed);
}

void FolderWatcher::watch(const std::string& path) {
    if (path == path_ && !watcher_.directories().isEmpty()) return;
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
    path_ = path;
    if (!path.empty()) watcher_.addPath(QString::fromStdString(path));
}

}  // namespace zelto
