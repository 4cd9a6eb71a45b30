#include "app/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

namespace zelto {

SingleInstance::SingleInstance() : SingleInstance(defaultLockPath()) {}

SingleInstance::SingleInstance(const QString& lockPath) : lock_(lockPath) {
    // The age of a lock says nothing here (the application runs for days):
    // only a lock whose process has died is stale.
    lock_.setStaleLockTime(0);
}

QString SingleInstance::defaultLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return QDir(folder).filePath(QString::fromLatin1(lockFileName));
}

bool SingleInstance::acquire() {
    return lock_.isLocked() || lock_.tryLock(0);
}

bool SingleInstance::heldByAnother() const {
    return lock_.error() == QLockFile::LockFailedError;
}

}  // namespace zelto
