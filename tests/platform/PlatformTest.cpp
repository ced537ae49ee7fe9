// The single-instance lock.
#include "TestUtil.h"
#include "platform/InstanceGuard.h"
#include "platform/Numbers.h"

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

TEST(ParseIPv4, DottedDecimalWithBlanksAroundAPartAndNothingElse)
{
    const struct
    {
        const char* text;
        qint64 expected; // -1: refused
    } rows[] = {
        {"127.0.0.2", 0x7F000002},
        {" 10 . 0.0 .255 ", 0x0A0000FF},
        {"001.002.003.004", 0x01020304},
        {"255.255.255.255", 0xFFFFFFFF},
        {"", -1},
        {"1.2.3", -1},
        {"1.2.3.4.5", -1},
        {"1.2.3.", -1},
        {"1..2.3", -1},
        {"1.2.3.256", -1},
        {"1.2.3.4x", -1},
        {"1.2.+3.4", -1},
    };
    for (const auto& r : rows) {
        quint32 value = 0xDEADBEEF;
        EXPECT_EQ(vexo::parseIPv4(QString::fromLatin1(r.text), value), r.expected >= 0) << r.text;
        EXPECT_EQ(qint64(value), r.expected >= 0 ? r.expected : 0xDEADBEEF) << r.text;
    }
}
