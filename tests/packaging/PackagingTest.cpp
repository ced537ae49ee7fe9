// The Debian package packed from this build tree with cpack, unpacked with dpkg-deb, and its
// programs run as an ordinary user (root runs them as "nobody") whose program folder is not
// writable, as after a real installation.
#include "TestUtil.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

const QString kAppId = "com.korvanta.VexolinkNMS";
const QStringList kPrograms{"vexolink-cli", "vexolink-element", "vexolink-nms"};

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForFinished(150000) && p.exitStatus() == QProcess::NormalExit;
    if (exitCode)
        *exitCode = done ? p.exitCode() : -1;
    return (done ? QString() : p.errorString() + '\n') + QString::fromLocal8Bit(p.readAll());
}

class Packaging : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vexo-packaging-XXXXXX");
        ::chmod(QFile::encodeName(s_dir->path()).constData(), 0755); // the user reaches below it
        const QString out = s_dir->filePath("pkg");
        s_log = run(VEXO_CPACK, {"--config", VEXO_CPACK_CONFIG, "-G", "DEB", "-B", out});
        const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
        if (debs.size() != 1)
            return;
        int code = -1;
        s_log += run("dpkg-deb", {"-x", QDir(out).filePath(debs[0]), s_dir->filePath("root")}, &code);
        if (code == 0)
            s_deb = QDir(out).filePath(debs[0]);
        ::chmod(QFile::encodeName(s_dir->filePath("root")).constData(), 0755);
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override
    {
        ASSERT_FALSE(s_deb.isEmpty()) << "cpack or dpkg-deb failed:\n" << s_log.toStdString();
        const passwd* pw = ::geteuid() == 0 ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
        ASSERT_NE(pw, nullptr);
        m_user = pw->pw_name;
        m_uid = pw->pw_uid;
        m_gid = pw->pw_gid;
    }

    static QString usr(const QString& path) { return s_dir->filePath("root/usr/" + path); }

    // Starts program as the ordinary user with a new home and a desktop session's environment
    // without a display: nothing of this process's environment leaks in.
    void startAsUser(QProcess& p, const QString& program, const QStringList& args, const QString& home)
    {
        ASSERT_TRUE(makeUserFolder(home) && makeUserFolder(home + "/run"));
        const QStringList vars{"HOME",
                               home,
                               "USER",
                               m_user,
                               "PATH",
                               "/usr/bin:/bin",
                               "LC_ALL",
                               "C",
                               "QT_QPA_PLATFORM",
                               "offscreen",
                               "XDG_RUNTIME_DIR",
                               home + "/run"};
        QProcessEnvironment env;
        for (int i = 0; i < vars.size(); i += 2)
            env.insert(vars[i], vars[i + 1]);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (::geteuid() == 0) {
            p.setChildProcessModifier([uid = m_uid, gid = m_gid] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                    ::_exit(126);
            });
        }
        p.start(program, args);
        ASSERT_TRUE(p.waitForStarted(10000)) << p.errorString().toStdString();
    }
    // A file, or a folder with the parents made for it, that belongs to the user.
    bool own(const QString& path)
    {
        for (QString p = path; p.startsWith(s_dir->path() + "/"); p = QFileInfo(p).path())
            if (::geteuid() == 0 && ::chown(QFile::encodeName(p).constData(), m_uid, m_gid) != 0)
                return false;
        return true;
    }
    bool makeUserFolder(const QString& path) { return QDir().mkpath(path) && own(path); }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline QString s_deb, s_log;
    QString m_user;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

TEST_F(Packaging, HoldsTheProgramsDesktopEntryAndIconsBelowUsrWithTheirDependencies)
{
    const QString fields = run("dpkg-deb", {"-f", s_deb, "Package", "Version", "Depends"});
    EXPECT_TRUE(fields.startsWith("Package: vexolink-nms\nVersion: 3.4.4\n")) << fields.toStdString();
    for (const char* dep :
         {"libc6", "libqt6widgets6", "libqt6network6", "qt6-qpa-plugins", "libprometheus-cpp-pull1.0"})
        EXPECT_TRUE(fields.contains(QRegularExpression(QString("[ ,]%1( |,|\n)").arg(dep)))) << dep;
    const QString listing = run("dpkg-deb", {"-c", s_deb});
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.endsWith(" ./") || line.contains(" ./usr/")) << line.toStdString();
    EXPECT_EQ(QDir(usr("bin")).entryList(QDir::Files | QDir::Executable, QDir::Name), kPrograms);
    for (const QString& file :
         {"share/applications/" + kAppId + ".desktop", "share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
          "share/icons/hicolor/48x48/apps/" + kAppId + ".png"})
        EXPECT_TRUE(QFileInfo::exists(usr(file))) << file.toStdString();
    // The station names its desktop entry (the shell matches its window with the entry's icon by
    // it); Qt keeps the literal in UTF-16.
    const QByteArray id(reinterpret_cast<const char*>(kAppId.utf16()), kAppId.size() * 2);
    EXPECT_TRUE(readFile(usr("bin/vexolink-nms")).contains(id));
}

TEST_F(Packaging, AnOrdinaryUsersStoreIsInTheUsersDataFolderAndLeftAsItWas)
{
    const QString bin = usr("bin");
    ASSERT_EQ(::chmod(QFile::encodeName(bin).constData(), 0555), 0);
    for (const bool acknowledged : {false, true}) {
        SCOPED_TRACE(acknowledged ? "notice acknowledged, store kept" : "first start");
        const QString home = s_dir->filePath(acknowledged ? "home-known" : "home-new");
        const QString data = home + "/.local/share/Korvanta/vexolink-nms";
        const QByteArray store = readFile(fixturePath("nms-windows-station.ini"));
        int watch = -1;
        if (acknowledged) {
            ASSERT_TRUE(makeUserFolder(home + "/.config/Korvanta") && makeUserFolder(data));
            ASSERT_TRUE(writeFile(home + "/.config/Korvanta/Korvanta.conf", "[Vexolink]\nEULA1=1\n"));
            ASSERT_TRUE(writeFile(data + "/nms.ini", store) && own(data + "/nms.ini"));
            watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(data).constData(), IN_OPEN), 0);
        }
        // The first start makes the data folder and waits in the notice; a start after the
        // notice was acknowledged reads the store to fill the tree.
        auto reached = [&] {
            if (!acknowledged)
                return QFileInfo(data).isDir();
            alignas(inotify_event) char buf[4096];
            const ssize_t n = ::read(watch, buf, sizeof buf);
            return n > 0 && QByteArray(buf, n).contains("nms.ini");
        };
        QProcess station;
        startAsUser(station, usr("bin/vexolink-nms"), {}, home);
        EXPECT_TRUE(waitUntil(reached, 20000));
        EXPECT_EQ(station.state(), QProcess::Running);
        station.terminate();
        station.waitForFinished(5000);
        ::close(watch);
        EXPECT_TRUE(!acknowledged || readFile(data + "/nms.ini") == store);
        EXPECT_EQ(QFileInfo(data).ownerId(), m_uid) << station.readAll().toStdString();
        EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
                  kPrograms);
    }
    ::chmod(QFile::encodeName(bin).constData(), 0755);
}

TEST_F(Packaging, AnOrdinaryUserPingsThroughTheIcmpFallbacks)
{
    // Through an ICMP datagram socket where the user's group may use one (ping_group_range),
    // otherwise through the system's ping program.
    const QStringList range =
        QString(readFile("/proc/sys/net/ipv4/ping_group_range")).simplified().split(' ');
    const QString probe = s_dir->filePath("vexo_ping_probe");
    ASSERT_TRUE(QFile::copy(VEXO_PING_PROBE, probe));
    QProcess p;
    startAsUser(p, probe, {"127.0.0.1"}, s_dir->filePath("home-ping"));
    const bool datagram = int(m_gid) >= range.value(0).toInt() && int(m_gid) <= range.value(1).toInt();
    ASSERT_TRUE(p.waitForFinished(15000));
    const QString out = p.readAll();
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_EQ(out.trimmed(), datagram ? "status=0 facility=0" : "status=0 facility=2");
}

} // namespace
