#include "store/IniFile.h"
#include "TestUtil.h"
#include "store/ElementStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace vexo;

namespace {

QByteArray utf16(const QString& text, bool littleEndian)
{
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out.append(littleEndian ? lo : hi).append(littleEndian ? hi : lo);
    }
    return out;
}

enum class Op
{
    Read,     // section, key, default -> value
    Count,    // section -> sectionKeyCount
    Sections, // -> names joined by "|"
    Write,    // section, key, value -> the whole file afterwards
};

struct Row
{
    const char* what;
    QByteArray before; // null: no file
    Op op;
    QString section, key, value;
    QByteArray expected;   // UTF-8 for texts; the file's bytes for a write
    QString readBack = {}; // what a write reads back, when not the value itself
};

// What the Windows private-profile calls give for the same file and call. The one departure:
// a new file gets LF line ends here (both read either).
const QList<Row> kRows = {
    {"new file, upper-case key", QByteArray(), Op::Write, "0050C2A1B2C3", "name", "STUDIO A",
     "[0050C2A1B2C3]\nNAME=STUDIO A\n"},
    {"key and section in any case", "[s]\nNAME=A\n", Op::Read, "S", "Name", "d", "A"},
    {"missing file", QByteArray(), Op::Read, "S", "k", "dflt", "dflt"},
    {"missing section", "[S]\nK=1\n", Op::Read, "T", "k", "d", "d"},
    {"missing key", "[S]\nK=1\n", Op::Read, "S", "j", "d", "d"},
    {"existing key changed in place", "[A]\nX=1\nY=2\n\n[B]\nZ=3\n", Op::Write, "a", "x", "10",
     "[A]\nX=10\nY=2\n\n[B]\nZ=3\n"},
    {"new key after the section's last entry", "[A]\nX=1\n\n[B]\nZ=3\n", Op::Write, "A", "w", "4",
     "[A]\nX=1\nW=4\n\n[B]\nZ=3\n"},
    {"new section at the end", "[A]\nX=1", Op::Write, "C", "k", "v", "[A]\nX=1\n[C]\nK=v\n"},
    {"blanks around a value", "[S]\na =  spaced  \n", Op::Read, "S", "a", "", "spaced"},
    {"double quotes", "[S]\nb=\"quoted\"\n", Op::Read, "S", "b", "", "quoted"},
    {"single quotes", "[S]\nc='single'\n", Op::Read, "S", "c", "", "single"},
    {"one pair of quotes only", "[S]\nd=\"\"twice\"\"\n", Op::Read, "S", "d", "", "\"twice\""},
    {"empty value", "[S]\ne=\n", Op::Read, "S", "e", "x", ""},
    {"sections in file order", "[B]\n[A]\n[C]\nK=1\n", Op::Sections, "", "", "", "B|A|C"},
    {"first duplicate section and key win", "[s]\nname=first\nNAME=second\n[S]\nip=9\n", Op::Read, "S",
     "name", "", "first"},
    {"duplicate section listed once", "[s]\n[S]\nip=9\n", Op::Sections, "", "", "", "s"},
    {"write changes the first duplicate", "[s]\nname=a\nNAME=b\n[S]\nname=c\n", Op::Write, "S", "Name", "n",
     "[s]\nname=n\nNAME=b\n[S]\nname=c\n"},
    {"; lines and blank lines are not counted, other lines are", "[S]\n; note\nNAME=x\njunk line\n\nIP=1\n",
     Op::Count, "S", "", "", "3"},
    {"CRLF kept, untouched lines byte for byte", "; top\r\n[S]\r\nNAME=Caf\xe9\r\njunk\r\n", Op::Write, "S",
     "ip", "5.6.7.8", "; top\r\n[S]\r\nNAME=Caf\xe9\r\njunk\r\nIP=5.6.7.8\r\n"},
    {"a long value", "", Op::Write, "S", "v", QString(5000, 'x'), "[S]\nV=" + QByteArray(5000, 'x') + '\n'},
    {"line breaks in a value become blanks", "", Op::Write, "S", "name", "A\r\n[X]\nIP=1",
     "[S]\nNAME=A  [X] IP=1\n", "A  [X] IP=1"},
    // 2: text after a section line's "]" (such a section is listed: ElementStoreTest's forms)
    {"header comment: not counted above", "[A]\nX=1\n[B] ; site B\nY=2\n", Op::Count, "A", "", "", "1"},
    // 3: only ";" starts a comment
    {"# line is a key", "[S]\n#SN=5\nSN=7\n", Op::Read, "S", "#sn", "", "5"},
    {"# line counts", "[S]\n# note\n#SN=5\nSN=7\n", Op::Count, "S", "", "", "3"},
    // 4: a lone CR ends a line
    {"mixed ends kept line by line", "[A]\rX=1\r\n\r\rY=2\n[B]\r\nZ=3", Op::Write, "a", "y", "5",
     "[A]\rX=1\r\n\r\rY=5\n[B]\r\nZ=3"},
    // 5: byte-order marks
    {"UTF-16 LE: read", utf16("[S]\r\nNAME=Caf\u00e9 \u20ac\r\n", true), Op::Read, "s", "name", "",
     "Caf\xc3\xa9 \xe2\x82\xac"},
    {"UTF-16 LE: written in UTF-16", utf16("[S]\r\nNAME=x\r\n", true), Op::Write, "S", "name", "\u2013y",
     utf16("[S]\r\nNAME=\u2013y\r\n", true)},
    {"UTF-16 BE: new section in UTF-16", utf16("[S]\r\nA=1", false), Op::Write, "T", "b", "2",
     utf16("[S]\r\nA=1\r\n[T]\r\nB=2\r\n", false)},
    {"UTF-16 LE: lone LF ends kept", utf16("[S]\nA=1\nB=2\n", true), Op::Write, "S", "a", "3",
     utf16("[S]\nA=3\nB=2\n", true)},
    {"UTF-8 with BOM: written in UTF-8", "\xEF\xBB\xBF[S]\n", Op::Write, "S", "name", "\u20ac",
     "\xEF\xBB\xBF[S]\nNAME=\xe2\x82\xac\n"},
    // 8: Windows-1252
    {"1252: read", "[S]\nNAME=\x80\x92\x93\x96\xe9\n", Op::Read, "S", "name", "",
     "\xe2\x82\xac\xe2\x80\x99\xe2\x80\x9c\xe2\x80\x93\xc3\xa9"},
    {"1252: written", "", Op::Write, "S", "name", "\u20ac\u2019\u201c\u2013\u00e9 \u0394",
     "[S]\nNAME=\x80\x92\x93\x96\xe9 ?\n", "\u20ac\u2019\u201c\u2013\u00e9 ?"},
    {"1252: every character of 0x80-0x9F, the five undefined ones as their C1 code points", "", Op::Write,
     "S", "name",
     QString::fromUtf16(
         u"\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u008d"
         u"\u017d\u008f\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a"
         u"\u0153\u009d\u017e\u0178"),
     "[S]\nNAME=\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f\x90\x91\x92\x93\x94\x95\x96"
     "\x97\x98\x99\x9a\x9b\x9c\x9d\x9e\x9f\n"},
    {"1252: the ends of Latin-1, 0xA0 and 0xFF, as themselves", "", Op::Write, "S", "name", "\u00a0x\u00ff",
     "[S]\nNAME=\xa0x\xff\n"},
    {"1252: a character outside it is one ?", "", Op::Write, "S", "name", "A\U0001F600B", "[S]\nNAME=A?B\n",
     "A?B"},
    {"1252: a lone surrogate at the end", "", Op::Write, "S", "name", QString::fromUtf16(u"A\xD800"),
     "[S]\nNAME=A?\n", "A?"},
};

class IniFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("nms.ini")); }
};

// Runs fn in a child process as an unprivileged user (nobody when run as root, ourselves
// otherwise: root would read any file); returns its exit code.
int asUnprivileged(const std::function<int()>& fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                                 ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(255);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // a child that hangs ends with the test
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}

void giveToUnprivileged(const QString& path)
{
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
}

// Every operation that changes the store; a set bit for each one that reported success.
int writesThatSucceeded(const QString& path)
{
    int succeeded = 0;
    const QList<QPair<QString, QString>> att = {{"att", "14"}};
    const QList<QPair<QString, QList<QPair<QString, QString>>>> sections = {{"T", att}};
    const QList<std::function<bool()>> writes = {
        [&] { return writeToIni("S", "att", "14", path); },
        [&] { return writeKeysToIni("S", att, path); },
        [&] { return writeSectionsToIni(sections, path); },
    };
    for (int i = 0; i < writes.size(); ++i)
        succeeded |= writes[i]() ? 1 << i : 0;
    if (readFromIni("S", "name", path, "dflt") != "dflt")
        succeeded |= 1 << 7;
    return succeeded;
}

} // namespace

TEST_F(IniFileTest, BehavesAsTheWindowsCallsOnTheSameFile)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir d;
        const QString p = d.filePath("nms.ini");
        if (!row.before.isNull()) {
            ASSERT_TRUE(writeFile(p, row.before));
        }
        switch (row.op) {
        case Op::Read:
            EXPECT_EQ(readFromIni(row.section, row.key, p, row.value), QString::fromUtf8(row.expected));
            break;
        case Op::Count:
            EXPECT_EQ(sectionKeyCount(row.section, p), row.expected.toInt());
            break;
        case Op::Sections:
            EXPECT_EQ(iniSections(p).join('|'), QString::fromUtf8(row.expected));
            break;
        case Op::Write:
            EXPECT_TRUE(writeToIni(row.section, row.key, row.value, p));
            EXPECT_EQ(readFile(p), row.expected);
            EXPECT_EQ(readFromIni(row.section, row.key, p), row.readBack.isNull() ? row.value : row.readBack);
            break;
        }
        EXPECT_EQ(QFile::exists(p), !row.before.isNull() || row.op == Op::Write);
    }
}

TEST_F(IniFileTest, ASectionGrownByAWriteKeepsTheNextSectionIntact)
{
    ASSERT_TRUE(writeFile(path(), "[A]\nX=1\n\n[B]\nZ=3\n"));
    ASSERT_TRUE(writeToIni("A", "w", "4", path()));
    ASSERT_TRUE(writeToIni("B", "y", "5", path()));
    ASSERT_TRUE(writeToIni("A", "v", "6", path()));
    EXPECT_EQ(readFile(path()), "[A]\nX=1\nW=4\nV=6\n\n[B]\nZ=3\nY=5\n");
}

TEST_F(IniFileTest, AStoreThatCannotBeReadIsNeverReplaced)
{
    const QByteArray original("[S]\r\nNAME=KEEP ME\r\nIP=10.0.0.5\r\n");
    // GIVEN a store its user may write but not read
    giveToUnprivileged(dir.path());
    ASSERT_TRUE(writeFile(path(), original));
    giveToUnprivileged(path());
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0200), 0);
    // WHEN every write is tried and a key read THEN all writes fail and the read gives the default
    EXPECT_EQ(asUnprivileged([&] { return writesThatSucceeded(path()); }), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0600), 0);
    EXPECT_EQ(readFile(path()), original);

    // A folder or a pipe in the store's place: never opened, never replaced.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("folder/nms.ini")));
    EXPECT_EQ(writesThatSucceeded(dir.filePath("folder/nms.ini")), 0);
    EXPECT_FALSE(emptyIniFile(dir.filePath("folder/nms.ini")));
    const QString fifo = dir.filePath("fifo.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(writesThatSucceeded(fifo), 0);
    EXPECT_FALSE(emptyIniFile(fifo));
    struct stat st = {};
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(IniFileTest, OutsideEditsKeepingSizeAndTimeAreSeen)
{
    ASSERT_TRUE(writeToIni("S", "name", "A", path()));
    const quint64 written = iniRevision(path());
    EXPECT_EQ(readFromIni("S", "name", path()), "A");
    EXPECT_TRUE(written != 0 && iniRevision(path()) == written); // the same content, the same revision
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    // As cp -p or rsync -t --inplace leave it: same inode, size and modification time.
    ASSERT_TRUE(writeFile(path(), "[S]\nNAME=B\n"));
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path()).constData(), times, 0), 0);
    EXPECT_EQ(readFromIni("S", "name", path()), "B");
    const quint64 edited = iniRevision(path());
    EXPECT_TRUE(edited != 0 && edited != written);
    ASSERT_TRUE(writeToIni("S", "ip", "1", path()));
    EXPECT_EQ(readFile(path()), QByteArray("[S]\nNAME=B\nIP=1\n"));
    EXPECT_TRUE(iniRevision(path()) != 0 && iniRevision(path()) != edited);
    QFile::remove(path());
    EXPECT_EQ(readFromIni("S", "name", path(), "gone"), "gone");
    EXPECT_EQ(iniRevision(path()), 0u);
}

TEST_F(IniFileTest, ASymlinkedStoreStaysALinkAndAStoreKeepsOwnerAndMode)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("real.ini");
    ASSERT_TRUE(writeFile(target, "[S]\nNAME=A\n"));
    ASSERT_TRUE(QFile::link(target, path()));
    // Root writing a user's store: the user keeps it.
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    giveToUnprivileged(target);
    bool sameGroup = false;
    const auto check = [&](const QByteArray& content) {
        EXPECT_TRUE(QFileInfo(path()).isSymLink());
        EXPECT_EQ(readFile(target), content);
        struct stat st = {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_uid, ::geteuid() == 0 ? 65534u : ::geteuid());
        EXPECT_EQ(st.st_gid, sameGroup || ::geteuid() != 0 ? ::getegid() : 65534u);
    };
    ASSERT_TRUE(writeToIni("S", "ip", "1", path()));
    check("[S]\nNAME=A\nIP=1\n");
    ASSERT_TRUE(writeKeysToIni("S", {{"name", "B"}}, path()));
    check("[S]\nNAME=B\nIP=1\n");
    // Another owner in the writer's own group keeps it too.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), 65534, ::getegid()), 0);
        sameGroup = true;
    }
    ASSERT_TRUE(ElementStore(path()).clear());
    check("");
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{"real.ini"});
}

TEST_F(IniFileTest, AStoreInAFolderThatRefusesNewFilesIsWrittenInPlace)
{
    ASSERT_TRUE(writeFile(path(), "[S]\nNAME=A\n"));
    giveToUnprivileged(path());
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_EQ(::chmod(folder.constData(), ::geteuid() == 0 ? 0755 : 0555), 0);
    const int result = asUnprivileged([&] {
        const bool wrote = writeToIni("S", "ip", "1", path()) && writeToIni("T", "k", "2", path()) &&
                           readFromIni("T", "k", path()) == "2";
        if (!wrote || readFile(path()) != "[S]\nNAME=A\nIP=1\n[T]\nK=2\n")
            return 1;
        // A write the disk refuses (here a file size limit) fails, is not retried for ever, and
        // leaves the store as it was.
        const rlimit limit{4, 4};
        ::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || writeToIni("S", "name", "B", path()) ||
            readFile(path()) != "[S]\nNAME=A\nIP=1\n[T]\nK=2\n")
            return 3;
        // Discovery empties it the same way.
        return ElementStore(path()).clear() && readFile(path()).isEmpty() ? 0 : 2;
    });
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"nms.ini"});
    ::chmod(folder.constData(), 0700);
    EXPECT_EQ(result, 0);
}

TEST_F(IniFileTest, HostileFilesAreReadWithoutHarm)
{
    QByteArray junk = QByteArray("text before any section\n=\n[\n[]\n[S\n[S]\n") +
                      QByteArray("\0\xff\xfe=\x01\n", 6) + QByteArray("K=V\n");
    junk += QByteArray(10 * 1024 * 1024, 'A'); // a 10 MB line without a line end
    ASSERT_TRUE(writeFile(path(), junk));
    EXPECT_EQ(readFromIni("S", "k", path()), "V");
    EXPECT_EQ(iniSections(path()), (QStringList{"", "S"}));
    ASSERT_TRUE(writeToIni("S", "ip", "1.1.1.1", path()));
    EXPECT_TRUE(readFile(path()).startsWith(junk.left(40)));
    EXPECT_EQ(readFromIni("S", "ip", path()), "1.1.1.1");
    ASSERT_TRUE(writeFile(path(), QByteArray("\xFF\xFE[\0S\0]\0\n", 9))); // UTF-16 with an odd last byte
    EXPECT_EQ(iniSections(path()), QStringList{"S"});
    EXPECT_FALSE(writeToIni("", "name", "x", path()));
    EXPECT_FALSE(writeToIni("S", "", "x", path()));
    EXPECT_FALSE(writeToIni("S", "a=b", "x", path()));
}
