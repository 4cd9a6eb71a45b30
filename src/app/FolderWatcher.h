#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <string>

namespace zelto {

// Tells when other programs add, remove or replace files in the sync folder:
// one `changed` once the folder has been quiet for `settle`, however many
// events a copy of many files makes. Watching another folder (the user chose
// one) starts afresh. Main thread only; a folder that cannot be watched is
// simply not watched.
class FolderWatcher : public QObject {
    Q_OBJECT
  public:
    explicit FolderWatcher(std::chrono::milliseconds settle, QObject* parent = nullptr);

    // Watches `path`, or keeps watching it when it is the folder watched already.
    void watch(const std::string& path);
    const std::string& path() const { return path_; }

  signals:
    void changed();

  private:
    QFileSystemWatcher watcher_;
    QTimer settle_;
    std::string path_;
};

}  // namespace zelto
