#include "store/IniFile.h"
#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vexo;

namespace {

class IniFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("nms.ini")); }
};

} // namespace

TEST_F(IniFileTest, WritesUpperCaseKeysAndReadsThemInAnyCase)
{
    // GIVEN no store file WHEN two keys are written THEN the file holds them in upper case
    ASSERT_TRUE(WriteToINI("0050C2A1B2C3", "name", "STUDIO A", path()));
    ASSERT_TRUE(WriteToINI("0050C2A1B2C3", "ip", "10.0.0.5", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[0050C2A1B2C3]\nNAME=STUDIO A\nIP=10.0.0.5\n"));
    EXPECT_EQ(ReadFromINI("0050c2a1b2c3", "NAME", path()), "STUDIO A");
    EXPECT_EQ(ReadFromINI("0050C2A1B2C3", "Ip", path()), "10.0.0.5");
}

TEST_F(IniFileTest, ReadingNeverCreatesTheFileAndGivesDefaults)
{
    EXPECT_EQ(ReadFromINI("S", "k", path(), "dflt"), "dflt");
    EXPECT_EQ(ReadFromINI("S", "k", path()), "");
    EXPECT_EQ(GetSectionKeyCount("S", path()), 0);
    QStringList list;
    LoadIniSectionsLB(list, path());
    EXPECT_TRUE(list.isEmpty());
    EXPECT_FALSE(QFile::exists(path()));
    ASSERT_TRUE(WriteToINI("S", "a", "1", path()));
    EXPECT_EQ(ReadFromINI("S", "missing", path(), "d"), "d");
    EXPECT_EQ(ReadFromINI("Other", "a", path(), "d"), "d");
}

TEST_F(IniFileTest, ExistingKeyKeepsItsPlaceAndNewKeysGoToTheEndOfTheirSection)
{
    ASSERT_TRUE(writeFile(path(), "[A]\nX=1\nY=2\n\n[B]\nZ=3\n"));
    ASSERT_TRUE(WriteToINI("A", "x", "10", path()));
    ASSERT_TRUE(WriteToINI("a", "w", "4", path()));
    ASSERT_TRUE(WriteToINI("C", "k", "v", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[A]\nX=10\nY=2\nW=4\n\n[B]\nZ=3\n[C]\nK=v\n"));
    // The sections after an insertion are still found where they now stand.
    EXPECT_EQ(ReadFromINI("B", "z", path()), "3");
    ASSERT_TRUE(WriteToINI("b", "z", "33", path()));
    ASSERT_TRUE(WriteToINI("A", "v", "5", path()));
    ASSERT_TRUE(WriteToINI("C", "k", "w", path()));
    ASSERT_TRUE(WriteToINI("B", "n", "6", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[A]\nX=10\nY=2\nW=4\nV=5\n\n[B]\nZ=33\nN=6\n[C]\nK=w\n"));
    EXPECT_EQ(GetSectionKeyCount("A", path()), 4);
    EXPECT_EQ(GetSectionKeyCount("B", path()), 2);
}

TEST_F(IniFileTest, ValuesAreTrimmedAndOnePairOfQuotesRemoved)
{
    ASSERT_TRUE(writeFile(path(), "[S]\na =  spaced  \nb=\"quoted\"\nc='single'\nd=\"\"twice\"\"\ne=\n"));
    EXPECT_EQ(ReadFromINI("S", "a", path()), "spaced");
    EXPECT_EQ(ReadFromINI("S", "b", path()), "quoted");
    EXPECT_EQ(ReadFromINI("S", "c", path()), "single");
    EXPECT_EQ(ReadFromINI("S", "d", path()), "\"twice\"");
    EXPECT_EQ(ReadFromINI("S", "e", path(), "x"), "");
    EXPECT_TRUE(CheckIfIniKeyExists("S", "e", path()));
    EXPECT_FALSE(CheckIfIniKeyExists("S", "nope", path()));
}

TEST_F(IniFileTest, ListsSectionsInFileOrderAndCountsTheirLines)
{
    QByteArray text;
    text += "[B]\n[A]\n[C]\n";
    for (int i = 0; i < 20; ++i)
        text += "K" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\n";
    ASSERT_TRUE(writeFile(path(), text));
    QStringList list{"kept"};
    LoadIniSectionsLB(list, path());
    EXPECT_EQ(list, (QStringList{"kept", "B", "A", "C"}));
    EXPECT_EQ(GetSectionKeyCount("C", path()), 20);
    EXPECT_EQ(GetSectionKeyCount("A", path()), 0);
    EXPECT_FALSE(CheckIfIniSectionExists("A", path()));
    EXPECT_TRUE(CheckIfIniSectionExists("C", path()));
    EXPECT_EQ(GetSectionKeyCount("missing", path()), 0);
}

TEST_F(IniFileTest, KeepsCrlfLatin1CommentsAndUnknownLinesThroughARewrite)
{
    const QByteArray original(
        "; station store\r\n[S]\r\nNAME=Caf\xe9\r\njunk line\r\n\r\n# note\r\nIP=1.2.3.4\r\n");
    ASSERT_TRUE(writeFile(path(), original));
    EXPECT_EQ(ReadFromINI("S", "name", path()), QString::fromLatin1("Caf\xe9"));
    ASSERT_TRUE(WriteToINI("S", "ip", "5.6.7.8", path()));
    ASSERT_TRUE(WriteToINI("S", "sn", "7", path()));
    EXPECT_EQ(
        readFile(path()),
        QByteArray(
            "; station store\r\n[S]\r\nNAME=Caf\xe9\r\njunk line\r\n\r\n# note\r\nIP=5.6.7.8\r\nSN=7\r\n"));
    // A line without "=" is a line of the section for the corruption count; comments are not.
    EXPECT_EQ(GetSectionKeyCount("S", path()), 4);
}

TEST_F(IniFileTest, FirstOccurrenceWinsForDuplicateSectionsAndKeys)
{
    ASSERT_TRUE(writeFile(path(), "[s]\nname=first\nNAME=second\n[S]\nname=third\nip=9\n"));
    EXPECT_EQ(ReadFromINI("S", "name", path()), "first");
    EXPECT_EQ(ReadFromINI("S", "ip", path(), "none"), "none");
    QStringList list;
    LoadIniSectionsLB(list, path());
    EXPECT_EQ(list, QStringList{"s"});
    ASSERT_TRUE(WriteToINI("S", "Name", "new", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[s]\nname=new\nNAME=second\n[S]\nname=third\nip=9\n"));
}

TEST_F(IniFileTest, DeleteAndRenameOperations)
{
    ASSERT_TRUE(writeFile(path(), "[A]\nX=1\nY=2\n[B]\nZ=3\n"));
    ASSERT_TRUE(DeleteIniKey("A", "x", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[A]\nY=2\n[B]\nZ=3\n"));
    ASSERT_TRUE(RenameIniKey("A", "Y", "W", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[A]\nW=2\n[B]\nZ=3\n"));
    ASSERT_TRUE(RenameIniSection("B", "C", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[A]\nW=2\n[C]\nZ=3\n"));
    ASSERT_TRUE(DeleteIniSection("a", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[C]\nZ=3\n"));
    EXPECT_EQ(LoadIniSectionsArray(path()), QStringList{"C"});
    QStringList keys;
    LoadIniSectionKeysLB("C", keys, path());
    EXPECT_EQ(keys, QStringList{"Z"});
    EXPECT_EQ(GetLongFromINI("C", "z", path(), 5), 3);
    EXPECT_EQ(GetLongFromINI("C", "missing", path(), 5), 5);
}

TEST_F(IniFileTest, OutsideEditsAreSeenAtOnce)
{
    ASSERT_TRUE(WriteToINI("S", "name", "A", path()));
    EXPECT_EQ(ReadFromINI("S", "name", path()), "A");
    // Same size, written in place by another program.
    ASSERT_TRUE(writeFile(path(), "[S]\nNAME=B\n"));
    EXPECT_EQ(ReadFromINI("S", "name", path()), "B");
    QFile::remove(path());
    EXPECT_EQ(ReadFromINI("S", "name", path(), "gone"), "gone");
}

TEST_F(IniFileTest, AFailedWriteIsReportedAndTheFileKeepsItsContent)
{
    ASSERT_TRUE(WriteToINI("S", "name", "A", path()));
    const QByteArray before = readFile(path());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
    const bool rootCanWriteAnyway = ::geteuid() == 0;
    const bool written = WriteToINI("S", "name", "B", path());
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    if (!rootCanWriteAnyway) {
        EXPECT_FALSE(written);
        EXPECT_EQ(readFile(path()), before);
    }
    // A folder in place of the file: every write fails, every read gives the default.
    QTemporaryDir other;
    const QString folder = other.filePath("nms.ini");
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_FALSE(WriteToINI("S", "name", "B", folder));
    EXPECT_EQ(ReadFromINI("S", "name", folder, "d"), "d");
}

TEST_F(IniFileTest, ValuesCannotBreakTheFileApart)
{
    // A name arriving from the network with line breaks must stay one value.
    ASSERT_TRUE(WriteToINI("S", "name", QString("A\r\n[X]\nIP=1"), path()));
    EXPECT_EQ(ReadFromINI("S", "name", path()), "A  [X] IP=1");
    EXPECT_EQ(LoadIniSectionsArray(path()), QStringList{"S"});
    EXPECT_FALSE(WriteToINI("", "name", "x", path()));
    EXPECT_FALSE(WriteToINI("S", "", "x", path()));
    EXPECT_FALSE(WriteToINI("S", "a=b", "x", path()));
}

TEST_F(IniFileTest, LongValuesAndLongListsAreNotCut)
{
    const QString longValue(5000, QChar('x'));
    ASSERT_TRUE(WriteToINI("S", "v", longValue, path()));
    EXPECT_EQ(ReadFromINI("S", "v", path()), longValue);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(WriteToINI(QString("%1").arg(i, 12, 16, QChar('0')).toUpper(), "role", "1", path()));
    QStringList list;
    LoadIniSectionsLB(list, path());
    EXPECT_EQ(list.size(), 201);
}

TEST_F(IniFileTest, HostileFilesAreReadWithoutHarm)
{
    QByteArray junk = QByteArray("text before any section\n=\n[\n[]\n[S\n[S]\n") +
                      QByteArray("\0\xff\xfe=\x01\n", 6) + QByteArray("K=V\n");
    junk += QByteArray(10 * 1024 * 1024, 'A'); // a 10 MB line without a line end
    ASSERT_TRUE(writeFile(path(), junk));
    EXPECT_EQ(ReadFromINI("S", "k", path()), "V");
    EXPECT_EQ(LoadIniSectionsArray(path()), (QStringList{"", "S"}));
    ASSERT_TRUE(WriteToINI("S", "ip", "1.1.1.1", path()));
    const QByteArray after = readFile(path());
    EXPECT_TRUE(after.startsWith(junk.left(40)));
    EXPECT_EQ(ReadFromINI("S", "ip", path()), "1.1.1.1");
    ASSERT_TRUE(writeFile(path(), ""));
    EXPECT_TRUE(LoadIniSectionsArray(path()).isEmpty());
}
