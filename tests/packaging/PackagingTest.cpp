// The Debian package packed from this build tree, unpacked, and its station run as an ordinary
// user (root runs it as "nobody") whose program folder is not writable, as after an installation.
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

namespace {

const QString kAppId = "com.korvanta.VexolinkNMS";
const QStringList kPrograms{"vexolink-cli", "vexolink-element", "vexolink-nms"};
const passwd* const kUser = ::geteuid() == 0 ? ::getpwnam("nobody") : ::getpwuid(::geteuid());

// The scratch folder with the package in pkg/ and its files unpacked in root/; empty on failure.
QString unpacked()
{
    static QTemporaryDir dir(QDir::tempPath() + "/vexo-packaging-XXXXXX");
    static const bool ok = [] {
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755); // the user reaches below it
        return QProcess::execute(VEXO_CPACK, {"--config", VEXO_CPACK_CONFIG, "-G", "DEB", "-B",
                                              dir.filePath("pkg")}) == 0 &&
               QProcess::execute("sh", {"-c", "cd \"$0\" && dpkg-deb -x pkg/*.deb root && chmod 755 root",
                                        dir.path()}) == 0;
    }();
    return ok ? dir.path() : QString();
}

QString output(const QString& command)
{
    QProcess p;
    p.setWorkingDirectory(unpacked());
    p.start("sh", {"-c", command});
    p.waitForFinished();
    return QString::fromLocal8Bit(p.readAll());
}

// Makes the folder, and gives it with the parents made in the scratch folder to the user.
bool own(const QString& path)
{
    QDir().mkpath(QFileInfo(path).isFile() ? QFileInfo(path).path() : path);
    for (QString p = path; p.startsWith(unpacked() + "/"); p = QFileInfo(p).path())
        if (::geteuid() == 0 && ::chown(QFile::encodeName(p).constData(), kUser->pw_uid, kUser->pw_gid) != 0)
            return false;
    return true;
}

} // namespace

TEST(Packaging, HoldsTheProgramsDesktopEntryAndIconsBelowUsrWithTheirDependencies)
{
    ASSERT_FALSE(unpacked().isEmpty()) << "cpack or dpkg-deb failed (see above)";
    const QString fields = output("dpkg-deb -f pkg/*.deb Package Version Depends");
    EXPECT_TRUE(fields.startsWith("Package: vexolink-nms\nVersion: 3.4.4\n")) << fields.toStdString();
    for (const char* dep :
         {"libc6", "libqt6widgets6", "libqt6network6", "qt6-qpa-plugins", "libprometheus-cpp-pull1.0"})
        EXPECT_TRUE(fields.contains(QRegularExpression(QString("[ ,]%1( |,|\n)").arg(dep)))) << dep;
    EXPECT_EQ(output("dpkg-deb -c pkg/*.deb | grep -v ' [.]/usr/' | grep -v ' [.]/$'"),
              ""); // nothing outside /usr
    const QDir usr(unpacked() + "/root/usr");
    EXPECT_EQ(QDir(usr.filePath("bin")).entryList(QDir::Files | QDir::Executable, QDir::Name), kPrograms);
    for (const QString& file :
         {"applications/" + kAppId + ".desktop", "icons/hicolor/scalable/apps/" + kAppId + ".svg",
          "icons/hicolor/48x48/apps/" + kAppId + ".png"})
        EXPECT_TRUE(QFileInfo::exists(usr.filePath("share/" + file))) << file.toStdString();
    // The station names its desktop entry (the shell matches its window with the entry's icon by
    // it); Qt keeps the literal in UTF-16.
    const QByteArray id(reinterpret_cast<const char*>(kAppId.utf16()), kAppId.size() * 2);
    EXPECT_TRUE(readFile(usr.filePath("bin/vexolink-nms")).contains(id));
}

TEST(Packaging, AnOrdinaryUsersStoreIsInTheUsersDataFolderAndLeftAsItWas)
{
    ASSERT_FALSE(unpacked().isEmpty()) << "cpack or dpkg-deb failed (see above)";
    ASSERT_NE(kUser, nullptr);
    const QString bin = unpacked() + "/root/usr/bin";
    ASSERT_EQ(::chmod(QFile::encodeName(bin).constData(), 0555), 0);
    const QByteArray store = readFile(fixturePath("nms-windows-station.ini"));
    for (const bool acknowledged : {false, true}) {
        SCOPED_TRACE(acknowledged ? "notice acknowledged, store kept" : "first start");
        const QString home = unpacked() + (acknowledged ? "/home-known" : "/home-new");
        const QString data = home + "/.local/share/Korvanta/vexolink-nms";
        ASSERT_TRUE(own(home + "/run"));
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (acknowledged) {
            const QString settings = home + "/.config/Korvanta/Korvanta.conf";
            ASSERT_TRUE(own(QFileInfo(settings).path()) && writeFile(settings, "[Vexolink]\nEULA1=1\n") &&
                        own(settings));
            ASSERT_TRUE(own(data) && writeFile(data + "/nms.ini", store) && own(data + "/nms.ini"));
            ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(data).constData(), IN_OPEN), 0);
        }
        // The first start makes the data folder and waits in the notice; a start after the notice
        // was acknowledged reads the store to fill the tree.
        auto reached = [&] {
            alignas(inotify_event) char events[4096];
            const ssize_t n = ::read(watch, events, sizeof events);
            return acknowledged ? n > 0 && QByteArray(events, n).contains("nms.ini")
                                : QFileInfo(data).isDir();
        };
        QProcess station; // nothing of this process's environment leaks in
        station.setEnvironment({"HOME=" + home, "USER=" + QString(kUser->pw_name), "PATH=/usr/bin:/bin",
                                "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + home + "/run"});
        station.setProcessChannelMode(QProcess::MergedChannels);
        if (::geteuid() == 0) {
            station.setChildProcessModifier([uid = kUser->pw_uid, gid = kUser->pw_gid] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                    ::_exit(126);
            });
        }
        station.start(bin + "/vexolink-nms");
        EXPECT_TRUE(waitUntil(reached, 20000));
        EXPECT_EQ(station.state(), QProcess::Running);
        station.terminate();
        station.waitForFinished();
        ::close(watch);
        EXPECT_TRUE(!acknowledged || readFile(data + "/nms.ini") == store);
        EXPECT_EQ(QFileInfo(data).ownerId(), kUser->pw_uid) << station.readAll().toStdString();
        EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
                  kPrograms);
    }
    ::chmod(QFile::encodeName(bin).constData(), 0755);
}
