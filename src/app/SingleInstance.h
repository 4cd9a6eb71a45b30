#pragma once

#include <QLockFile>
#include <QString>

namespace zelto {

// One running copy of the desktop application per user session: a lock file
// in the runtime folder (QStandardPaths::RuntimeLocation). A lock left by a
// process that has died is taken over; a lock held by a live process is never
// taken, however old it is.
//
// Main thread; no exceptions. The lock is released when the object goes.
class SingleInstance {
  public:
    static constexpr const char* lockFileName = "zelto-presets.lock";
    static constexpr const char* alreadyRunningMessage =
        QT_TRANSLATE_NOOP("zelto::SingleInstance", "zelto-presets is already running");

    // The lock file in the user's runtime folder.
    SingleInstance();
    // The lock file at `lockPath` (tests).
    explicit SingleInstance(const QString& lockPath);
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process holds the lock now (taken at once, or held
    // already); false when another live process holds it, or the lock file
    // cannot be written.
    bool acquire();
    // Why acquire() failed: another copy runs (true), or the file could not
    // be made (false).
    bool heldByAnother() const;

    static QString defaultLockPath();

  private:
    QLockFile lock_;
};

}  // namespace zelto
