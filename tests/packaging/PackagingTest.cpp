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

// A shell command run in the scratch folder: its exit code and standard output.
std::pair<int, QString> run(const QString& command)
{
    QProcess p;
    p.setWorkingDirectory(unpacked());
    p.start("sh", {"-c", command});
    p.waitForFinished(120000);
    return std::pair(p.exitCode(), QString::fromLocal8Bit(p.readAll()));
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
    const QString fields = run("dpkg-deb -f pkg/*.deb Package Version Depends").second;
    EXPECT_TRUE(fields.startsWith("Package: vexolink-nms\nVersion: 3.4.4\n")) << fields.toStdString();
    for (const char* dep :
         {"libc6", "libqt6widgets6", "libqt6network6", "qt6-qpa-plugins", "libprometheus-cpp-pull1.0"})
        EXPECT_TRUE(fields.contains(QRegularExpression(QString("[ ,]%1( |,|\n)").arg(dep)))) << dep;
    // Nothing outside /usr but the exporter's unit and its settings (a configuration file).
    EXPECT_EQ(run("dpkg-deb -c pkg/*.deb | awk '{print $6}' | grep -v -e '^[.]/usr/' -e '^[.]/$'").second,
              "./etc/\n./etc/default/\n./etc/default/vexolink-exporter\n./lib/\n./lib/systemd/\n"
              "./lib/systemd/system/\n./lib/systemd/system/vexolink-exporter.service\n");
    EXPECT_EQ(run("dpkg-deb --ctrl-tarfile pkg/*.deb | tar -xOf - ./conffiles").second,
              "/etc/default/vexolink-exporter\n");
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

// The exporter's service, the manual pages and the completion as they are installed, and the
// package as lintian sees it.
TEST(Packaging, ServiceManualPagesCompletionAndLintian)
{
    ASSERT_FALSE(unpacked().isEmpty()) << "cpack or dpkg-deb failed (see above)";
    // The unit verifies, against the programs of the unpacked tree; the system's own units (the
    // targets every service depends on) are copied beside it.
    const auto [verified, says] = run(
        "rm -rf verify && cp -a root verify && cp -an /lib/systemd/system/. verify/lib/systemd/system/ && "
        "systemd-analyze verify --man=no --root=verify verify/lib/systemd/system/vexolink-exporter.service "
        "2>&1");
    EXPECT_EQ(verified, 0) << says.toStdString();
    EXPECT_EQ(says, "");
    const QString unit = readFile(unpacked() + "/root/lib/systemd/system/vexolink-exporter.service");
    for (const char* line : {"DynamicUser=yes", "StateDirectory=vexolink-exporter", "NoNewPrivileges=yes",
                             "ProtectSystem=strict", "CapabilityBoundingSet=CAP_NET_RAW",
                             "EnvironmentFile=-/etc/default/vexolink-exporter"})
        EXPECT_TRUE(unit.contains(QString("\n") + line + "\n")) << line;
    EXPECT_FALSE(QFileInfo::exists(unpacked() + "/root/etc/systemd")); // installed disabled

    // Each manual page renders without a warning and names what its program's help names.
    for (const QString& program : kPrograms) {
        SCOPED_TRACE(program.toStdString());
        const auto [code, page] =
            run("MANWIDTH=100 man --warnings -l root/usr/share/man/man1/" + program + ".1.gz 2>&1");
        EXPECT_EQ(code, 0);
        for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "EXIT STATUS"})
            EXPECT_TRUE(page.contains(QString("\n") + section + "\n")) << section;
        EXPECT_FALSE(page.contains("warning")) << page.toStdString();
    }
    const QString cliPage = run("MANWIDTH=200 man -l root/usr/share/man/man1/vexolink-cli.1.gz").second;
    for (const char* text : {"   exporter\n", "--web-config <FILE>", "--interface <NAME>",
                             "VEXOLINK_NMS_STORE", "good_tx_frames", "7 store missing or corrupted"})
        EXPECT_TRUE(cliPage.contains(text)) << text;

    // The completion loads in bash and completes commands, options and the stored elements.
    // lintian finds no error in the package.
    const auto [lintianCode, lintian] = run("lintian --fail-on error pkg/*.deb 2>&1");
    EXPECT_EQ(lintianCode, 0) << lintian.toStdString();
    EXPECT_FALSE(lintian.contains(QRegularExpression("^E: ", QRegularExpression::MultilineOption)))
        << lintian.toStdString();

    ASSERT_TRUE(writeFile(unpacked() + "/complete.ini",
                          "[0050C2770001]\nNAME=STUDIO A\nIP=10.77.1.1\nROLE=1\n"
                          "[0050C2770002]\nNAME=DECODER 001\nIP=10.77.101.1\nROLE=2\n"));
    const QByteArray complete =
        "export VEXOLINK_NMS_STORE=$PWD/complete.ini PATH=$PWD/root/usr/bin:$PATH; "
        ". root/usr/share/bash-completion/completions/vexolink-cli; "
        "c() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _vexolink_cli; echo \"${COMPREPLY[*]}\"; }; "
        "complete -p vexolink-cli; c vexolink-cli di; c vexolink-cli exporter --w; c vexolink-cli ping ''; "
        "c vexolink-cli show STU; c vexolink-cli show 00:50:C2:77:00:01 ''";
    ASSERT_TRUE(writeFile(unpacked() + "/complete.sh", complete));
    EXPECT_EQ(run("bash --norc complete.sh 2>&1").second,
              "complete -F _vexolink_cli vexolink-cli\ndiscover\n--web-config\n"
              "00:50:C2:77:00:01 STUDIO\\ A 00:50:C2:77:00:02 DECODER\\ 001\nSTUDIO\\ A\n\n");
}
