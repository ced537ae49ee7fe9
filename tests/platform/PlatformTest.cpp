// The single-instance lock.
#include "TestUtil.h"
#include "platform/InstanceGuard.h"

#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vexo;

TEST(InstanceGuard, ASecondHolderIsRefusedAndAStaleLockIsTakenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nms.lock");
    LockFileInstanceGuard first(path);
    ASSERT_TRUE(first.acquire());
    LockFileInstanceGuard second(path);
    EXPECT_FALSE(second.acquire());
    // A lock left by a process that no longer runs, however recent: pid 2^22+1 is above
    // Linux's pid limit.
    QTemporaryDir other;
    const QString stale = other.filePath("nms.lock");
    ASSERT_TRUE(writeFile(stale, "4194305\nvexolink-nms\n" + QSysInfo::machineHostName().toUtf8() + "\n"));
    LockFileInstanceGuard after(stale);
    EXPECT_TRUE(after.acquire());
}
