#include "InstanceGuard.h"

#include <QDir>
#include <QStandardPaths>

namespace vexo {

LockFileInstanceGuard::LockFileInstanceGuard(QString lockPath) : m_path(std::move(lockPath))
{
    if (m_path.isEmpty()) {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (folder.isEmpty())
            folder = QDir::tempPath();
        m_path = folder + QStringLiteral("/vexolink-nms.lock");
    }
}

bool LockFileInstanceGuard::acquire()
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // Zero: a lock is only stale when its owner process is gone, however old it is.
    m_lock->setStaleLockTime(0);
    return m_lock->tryLock(0);
}

} // namespace vexo
