#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace vexo {

// Refuses a second running station of the same user. The lock names the owning process, so a
// lock left behind by a crashed run is recognised as stale and taken over.
class InstanceGuard
{
public:
    virtual ~InstanceGuard() = default;
    // True when this process is the only running instance (and now holds the lock).
    virtual bool acquire() = 0;
};

class LockFileInstanceGuard : public InstanceGuard
{
public:
    // An empty path selects the user's runtime folder.
    explicit LockFileInstanceGuard(QString lockPath = {});
    bool acquire() override;
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace vexo
