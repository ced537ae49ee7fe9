// The Debian package of the station: packed from this build tree with cpack, unpacked into a
// scratch root with dpkg-deb, and the unpacked station run headless as an ordinary user (root runs
// it as "nobody"), whose program folder is not writable, as after a real installation.
#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <map>
#include <memory>
#include <optional>

namespace {

const QString kAppId = QStringLiteral("com.korvanta.VexolinkNMS");
const QString kStation = QStringLiteral("vexolink-nms");
const QString kSimulator = QStringLiteral("vexolink-element");
const QString kCli = QStringLiteral("vexolink-cli");
const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

struct RunResult
{
    bool finished = false;
    int exitCode = -1;
    QString output;
};

RunResult run(const QString& program, const QStringList& args, int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    RunResult r;
    if (!p.waitForStarted(10000)) {
        r.output = p.errorString();
        return r;
    }
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.output = QString::fromLocal8Bit(p.readAll());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

struct User
{
    uid_t uid;
    gid_t gid;
    QString name;
};

// Root runs the installed programs as "nobody"; anyone else is an ordinary user already.
std::optional<User> ordinaryUser()
{
    if (::geteuid() != 0) {
        const passwd* pw = ::getpwuid(::geteuid());
        return User{::geteuid(), ::getegid(), pw ? QString::fromLocal8Bit(pw->pw_name) : QString()};
    }
    const passwd* pw = ::getpwnam("nobody");
    if (!pw || pw->pw_uid == 0)
        return std::nullopt;
    return User{pw->pw_uid, pw->pw_gid, QStringLiteral("nobody")};
}

// A folder the user owns (the scratch folders are made by the test, as root when it runs as root).
bool giveTo(const QString& path, const User& user)
{
    if (::geteuid() != 0)
        return true;
    return ::chown(QFile::encodeName(path).constData(), user.uid, user.gid) == 0;
}

bool makeUserFolder(const QString& path, const User& user, mode_t mode = 0755)
{
    // Every level made here belongs to the user, as if the user had made it.
    QStringList made;
    QString p = QDir::cleanPath(path);
    while (!QFileInfo::exists(p)) {
        made.prepend(p);
        p = QFileInfo(p).path();
    }
    for (const QString& folder : made) {
        if (!QDir().mkdir(folder) || !giveTo(folder, user))
            return false;
    }
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool writeUserFile(const QString& path, const QByteArray& bytes, const User& user)
{
    return writeFile(path, bytes) && giveTo(path, user);
}

// Starts program as the ordinary user with exactly the given environment.
void startAsUser(QProcess& p, const User& user, const QString& program, const QStringList& args,
                 const QProcessEnvironment& env)
{
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (::geteuid() == 0) {
        const uid_t uid = user.uid;
        const gid_t gid = user.gid;
        p.setChildProcessModifier([uid, gid] {
            // Only async-signal-safe calls here: the child has just been forked.
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        });
    }
    p.start(program, args);
}

void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

// The file names opened in one folder, as the kernel reports them.
class OpenWatch
{
public:
    explicit OpenWatch(const QString& folder) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            m_ok = ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                                       IN_OPEN | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE) >= 0;
    }
    ~OpenWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_ok; }
    QStringList opened() { return drain(), m_opened; }
    QStringList written() { return drain(), m_written; }

private:
    void drain()
    {
        alignas(inotify_event) char buf[8192];
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                return;
            for (ssize_t at = 0; at < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
                const QString name = ev->len ? QString::fromLocal8Bit(ev->name) : QString();
                if (ev->mask & IN_OPEN)
                    m_opened << name;
                if (ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE))
                    m_written << name;
                at += ssize_t(sizeof(inotify_event) + ev->len);
            }
        }
    }
    int m_fd;
    bool m_ok = false;
    QStringList m_opened, m_written;
};

using DesktopEntry = std::map<QString, std::map<QString, QString>>;

DesktopEntry parseDesktopEntry(const QByteArray& text)
{
    DesktopEntry entry;
    QString group;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            entry[group][line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
    return entry;
}

class Packaging : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        QStringList missing;
        for (const char* name : {"dpkg-deb", "dpkg-shlibdeps", "file", "strip"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
                missing << QString::fromLatin1(name);
        }
        if (!QFileInfo(QStringLiteral(VEXO_CPACK)).isExecutable())
            missing << QStringLiteral("cpack");
        if (!missing.isEmpty()) {
            s_skip = QStringLiteral("cannot build the package here, missing: %1 (Debian packages "
                                    "dpkg-dev, file, binutils; scripts/package installs them)")
                         .arg(missing.join(QStringLiteral(", ")));
            return;
        }
        s_scratch =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vexo-packaging-XXXXXX"));
        // The ordinary user must reach the unpacked programs and its home below this folder.
        ::chmod(QFile::encodeName(s_scratch->path()).constData(), 0755);
        const QString out = s_scratch->filePath(QStringLiteral("pkg"));
        const RunResult packed = run(QStringLiteral(VEXO_CPACK),
                                     {QStringLiteral("--config"), QStringLiteral(VEXO_CPACK_CONFIG),
                                      QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out},
                                     150000);
        const QStringList debs = QDir(out).entryList({QStringLiteral("*.deb")}, QDir::Files);
        if (!packed.finished || packed.exitCode != 0 || debs.size() != 1) {
            s_failure = QStringLiteral("cpack -G DEB failed:\n") + packed.output;
            return;
        }
        s_deb = QDir(out).filePath(debs.first());
        s_root = s_scratch->filePath(QStringLiteral("root"));
        const RunResult unpacked = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), s_deb, s_root});
        if (unpacked.exitCode != 0) {
            s_failure = QStringLiteral("dpkg-deb -x failed:\n") + unpacked.output;
            return;
        }
        ::chmod(QFile::encodeName(s_root).constData(), 0755);
    }
    static void TearDownTestSuite() { s_scratch.reset(); }

    void SetUp() override
    {
        if (!s_skip.isEmpty())
            GTEST_SKIP() << s_skip.toStdString();
        ASSERT_TRUE(s_failure.isEmpty()) << s_failure.toStdString();
    }

    static QString installed(const QString& relative) { return s_root + QStringLiteral("/usr/") + relative; }
    static QString iconPath(int size)
    {
        return installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppId));
    }
    static QString desktopEntryPath()
    {
        return installed(QStringLiteral("share/applications/%1.desktop").arg(kAppId));
    }

    // A new home for the ordinary user, and the environment of a desktop session without a
    // display: nothing of this process's environment (VEXOLINK_NMS_STORE, XDG_*) leaks in.
    struct Session
    {
        QString home;
        QProcessEnvironment env;
    };
    std::optional<Session> newSession(const User& user, const QString& name)
    {
        Session s;
        s.home = s_scratch->filePath(QStringLiteral("home-") + name);
        const QString runtime = s_scratch->filePath(QStringLiteral("run-") + name);
        if (!makeUserFolder(s.home, user, 0755) || !makeUserFolder(runtime, user, 0700))
            return std::nullopt;
        s.env.insert(QStringLiteral("HOME"), s.home);
        s.env.insert(QStringLiteral("USER"), user.name);
        s.env.insert(QStringLiteral("LOGNAME"), user.name);
        s.env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        s.env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        s.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        s.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        // A sanitizer build keeps the options the suite runs it with.
        const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            const QString key = QString::fromLatin1(name);
            if (own.contains(key))
                s.env.insert(key, own.value(key));
        }
        return s;
    }

    static inline std::unique_ptr<QTemporaryDir> s_scratch;
    static inline QString s_skip, s_failure, s_deb, s_root;
};

TEST_F(Packaging, ThePackageHoldsBothProgramsTheDesktopEntryAndTheIconsWithTheirDependencies)
{
    // GIVEN the package built by cpack
    // WHEN its control fields are read
    const RunResult fields =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), s_deb, QStringLiteral("Package"),
                                         QStringLiteral("Version"), QStringLiteral("Depends")});
    ASSERT_EQ(fields.exitCode, 0) << fields.output.toStdString();
    // THEN it is vexolink-nms 3.4.4, and dpkg-shlibdeps named the libraries the programs link
    EXPECT_TRUE(fields.output.contains(QStringLiteral("Package: vexolink-nms\n")))
        << fields.output.toStdString();
    EXPECT_TRUE(fields.output.contains(QStringLiteral("Version: 3.4.4\n"))) << fields.output.toStdString();
    const QRegularExpression depends(QStringLiteral("^Depends: (.*)$"), QRegularExpression::MultilineOption);
    const QString deps = depends.match(fields.output).captured(1);
    for (const char* dep : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                            "libqt6network6", "qt6-qpa-plugins", "libprometheus-cpp-pull1.0"}) {
        EXPECT_TRUE(deps.contains(QRegularExpression(
            QStringLiteral("(^|, )%1( |,|$)").arg(QRegularExpression::escape(QString::fromLatin1(dep))))))
            << dep << " missing in Depends: " << deps.toStdString();
    }

    // AND it holds the two programs, and nothing else in the programs folder
    EXPECT_EQ(
        QDir(installed(QStringLiteral("bin"))).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList{kCli, kSimulator, kStation}));
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/vexolink-nms"))).isExecutable());
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/vexolink-element"))).isExecutable());
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/vexolink-cli"))).isExecutable());
    // AND the desktop entry, the scalable icon and every PNG size in the hicolor theme
    EXPECT_TRUE(QFileInfo::exists(desktopEntryPath()));
    EXPECT_TRUE(
        QFileInfo::exists(installed(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(kAppId))));
    for (int size : kIconSizes)
        EXPECT_TRUE(QFileInfo::exists(iconPath(size))) << size;

    // AND every file lies below /usr: the package touches nothing else of the system
    const RunResult listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), s_deb});
    ASSERT_EQ(listing.exitCode, 0);
    int files = 0;
    for (const QString& line : listing.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString path = line.section(QLatin1Char(' '), -1);
        EXPECT_TRUE(path == QLatin1String("./") || path.startsWith(QLatin1String("./usr/")))
            << line.toStdString();
        ++files;
    }
    EXPECT_GT(files, 10);
}

TEST_F(Packaging, TheDesktopEntryPassesDesktopFileValidate)
{
    const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validate.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is missing (Debian package desktop-file-utils; "
                        "scripts/package installs it)";
    // GIVEN the installed desktop entry
    // WHEN it is validated
    const RunResult r = run(validate, {desktopEntryPath()});
    // THEN there is neither an error nor a warning
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.trimmed().isEmpty()) << r.output.toStdString();
}

TEST_F(Packaging, TheDesktopEntryStartsTheInstalledStationAndItsGpsdoVariantUnderItsOwnIcon)
{
    // GIVEN the installed desktop entry
    const QByteArray text = readFile(desktopEntryPath());
    ASSERT_FALSE(text.isEmpty());
    DesktopEntry entry = parseDesktopEntry(text);
    auto& main = entry[QStringLiteral("Desktop Entry")];
    // THEN it starts the installed station in no terminal, from the network menu
    EXPECT_EQ(main[QStringLiteral("Type")], QStringLiteral("Application"));
    EXPECT_EQ(main[QStringLiteral("Name")], QStringLiteral("Vexolink NMS"));
    EXPECT_FALSE(main[QStringLiteral("Comment")].isEmpty());
    EXPECT_EQ(main[QStringLiteral("Exec")], kStation);
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/") + main[QStringLiteral("Exec")])).isExecutable());
    EXPECT_EQ(main[QStringLiteral("Terminal")], QStringLiteral("false"));
    EXPECT_EQ(main[QStringLiteral("Categories")], QStringLiteral("Network;Monitor;Qt;"));
    // AND its icon is the installed one of the same id
    EXPECT_EQ(main[QStringLiteral("Icon")], kAppId);
    EXPECT_TRUE(QFileInfo::exists(iconPath(48)));
    // AND its one action starts the GPSDO variant with the command-line word GPS
    EXPECT_EQ(main[QStringLiteral("Actions")], QStringLiteral("gpsdo;"));
    auto& action = entry[QStringLiteral("Desktop Action gpsdo")];
    EXPECT_TRUE(action[QStringLiteral("Name")].contains(QStringLiteral("GPSDO")));
    EXPECT_EQ(action[QStringLiteral("Exec")], kStation + QStringLiteral(" GPS"));

    // AND the station names the same entry as its desktop file (the desktop shell matches the
    // window with the entry and its icon by it): the id is in the program, as Qt keeps its
    // string literals, in UTF-16
    const QByteArray program = readFile(installed(QStringLiteral("bin/vexolink-nms")));
    const QByteArray id(reinterpret_cast<const char*>(kAppId.utf16()), kAppId.size() * 2);
    EXPECT_TRUE(program.contains(id)) << "setDesktopFileName(\"" << kAppId.toStdString() << "\") missing";
    EXPECT_EQ(QFileInfo(desktopEntryPath()).completeBaseName(), kAppId);
}

TEST_F(Packaging, TheIconsAreSquareAtEverySizeAndDrawOnATransparentGround)
{
    for (int size : kIconSizes) {
        // GIVEN the installed PNG of one size
        QImage image(iconPath(size));
        ASSERT_FALSE(image.isNull()) << size;
        // THEN it has that size, a transparent corner and a picture covering a fair part of it
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_TRUE(image.hasAlphaChannel()) << size;
        image = image.convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(opaque, size * size / 3) << size;
        EXPECT_LT(opaque, size * size) << size;
    }
    // AND the scalable icon is a self-contained SVG on the 256 grid the PNGs come from
    const QByteArray svg =
        readFile(installed(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(kAppId)));
    EXPECT_TRUE(svg.contains("<svg ")) << "not an SVG";
    EXPECT_TRUE(svg.contains("viewBox=\"0 0 256 256\""));
    EXPECT_FALSE(svg.contains("<image")) << "the SVG must not embed or link pictures";
    EXPECT_FALSE(svg.contains("href=")) << "the SVG must not refer to other files";
}

TEST_F(Packaging, AnOrdinaryUsersStoreGoesToTheUsersDataFolderNotToTheProgramFolder)
{
    const std::optional<User> user = ordinaryUser();
    if (!user)
        GTEST_SKIP() << "no ordinary user to run the station as (root, and no user \"nobody\")";
    // GIVEN an ordinary user with a new home and the unpacked package, whose program folder
    // belongs to root (the test makes it read-only for the case that it runs as that user)
    const QString bin = installed(QStringLiteral("bin"));
    ASSERT_EQ(::chmod(QFile::encodeName(bin).constData(), 0555), 0);
    const std::optional<Session> session = newSession(*user, QStringLiteral("fresh"));
    ASSERT_TRUE(session);
    const QString dataFolder = session->home + QStringLiteral("/.local/share/Korvanta/vexolink-nms");

    // WHEN the user starts the installed station headless
    QProcess station;
    startAsUser(station, *user, installed(QStringLiteral("bin/vexolink-nms")), {}, session->env);
    ASSERT_TRUE(station.waitForStarted(10000)) << station.errorString().toStdString();

    // THEN the station makes its store folder in the user's data folder, and keeps running (the
    // notice dialog waits for the user)
    const bool made = waitUntil([&] { return QFileInfo(dataFolder).isDir(); }, 20000);
    const bool running = station.state() == QProcess::Running;
    stop(station);
    EXPECT_TRUE(made) << "no " << dataFolder.toStdString() << "; station said:\n"
                      << station.readAll().toStdString();
    EXPECT_TRUE(running) << station.readAll().toStdString();
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(dataFolder).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, user->uid);
    // AND nothing was left in the program folder (neither a store nor a write probe)
    EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{kCli, kSimulator, kStation}));
    ::chmod(QFile::encodeName(bin).constData(), 0755);
}

TEST_F(Packaging, AnOrdinaryUserWhoAcknowledgedTheNoticeGetsTheStoreFromTheDataFolderUnchanged)
{
    const std::optional<User> user = ordinaryUser();
    if (!user)
        GTEST_SKIP() << "no ordinary user to run the station as (root, and no user \"nobody\")";
    // GIVEN an ordinary user who acknowledged the notice once (per-user settings in ~/.config)
    // and has a store of two elements in ~/.local/share/Korvanta/vexolink-nms/nms.ini
    const QString bin = installed(QStringLiteral("bin"));
    ASSERT_EQ(::chmod(QFile::encodeName(bin).constData(), 0555), 0);
    const std::optional<Session> session = newSession(*user, QStringLiteral("acknowledged"));
    ASSERT_TRUE(session);
    const QString config = session->home + QStringLiteral("/.config/Korvanta");
    ASSERT_TRUE(makeUserFolder(config, *user));
    ASSERT_TRUE(writeUserFile(config + QStringLiteral("/Korvanta.conf"), "[Vexolink]\nEULA1=1\n", *user));
    const QString dataFolder = session->home + QStringLiteral("/.local/share/Korvanta/vexolink-nms");
    ASSERT_TRUE(makeUserFolder(dataFolder, *user));
    const QByteArray store = readFile(fixturePath(QStringLiteral("nms-windows-station.ini")));
    ASSERT_FALSE(store.isEmpty());
    const QString storePath = dataFolder + QStringLiteral("/nms.ini");
    ASSERT_TRUE(writeUserFile(storePath, store, *user));
    OpenWatch watch(dataFolder);
    ASSERT_TRUE(watch.ok());

    // WHEN the user starts the installed station headless
    QProcess station;
    startAsUser(station, *user, installed(QStringLiteral("bin/vexolink-nms")), {}, session->env);
    ASSERT_TRUE(station.waitForStarted(10000)) << station.errorString().toStdString();

    // THEN the notice is not shown (it would hold start-up before the store is loaded) and the
    // station opens the store in the user's data folder to fill its element tree
    const bool opened = waitUntil([&] { return watch.opened().contains(QStringLiteral("nms.ini")); }, 20000);
    const bool running = station.state() == QProcess::Running;
    stop(station);
    EXPECT_TRUE(opened) << "nms.ini in the data folder was never opened; station said:\n"
                        << station.readAll().toStdString();
    EXPECT_TRUE(running) << station.readAll().toStdString();
    // AND start-up and shutdown wrote nothing to the store
    EXPECT_EQ(readFile(storePath), store);
    EXPECT_FALSE(watch.written().contains(QStringLiteral("nms.ini")));
    EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{kCli, kSimulator, kStation}));
    ::chmod(QFile::encodeName(bin).constData(), 0755);
}

TEST_F(Packaging, PingWorksForAnOrdinaryUserThroughTheIcmpFallbacks)
{
    const std::optional<User> user = ordinaryUser();
    if (!user)
        GTEST_SKIP() << "no ordinary user to ping as (root, and no user \"nobody\")";
    // GIVEN an ordinary user, who has no raw socket and may be outside ping_group_range
    int low = 1, high = 0;
    if (QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range")); range.open(QIODevice::ReadOnly)) {
        const QStringList parts = QString::fromLatin1(range.readAll()).simplified().split(QLatin1Char(' '));
        if (parts.size() == 2) {
            low = parts[0].toInt();
            high = parts[1].toInt();
        }
    }
    const bool datagramAllowed = int(user->gid) >= low && int(user->gid) <= high;
    if (!datagramAllowed && QStandardPaths::findExecutable(QStringLiteral("ping")).isEmpty())
        GTEST_SKIP() << "neither ICMP datagram sockets for this user nor the ping program "
                        "(Debian package iputils-ping): an ordinary user cannot ping here";
    // The probe is copied where the user can reach it.
    const QString probe = s_scratch->filePath(QStringLiteral("vexo_ping_probe"));
    QFile::remove(probe);
    ASSERT_TRUE(QFile::copy(QStringLiteral(VEXO_PING_PROBE), probe));
    ASSERT_EQ(::chmod(QFile::encodeName(probe).constData(), 0755), 0);
    const std::optional<Session> session = newSession(*user, QStringLiteral("ping"));
    ASSERT_TRUE(session);

    // WHEN the user pings the loopback address through the station's ICMP facility chain
    QProcess p;
    startAsUser(p, *user, probe, {QStringLiteral("127.0.0.1")}, session->env);
    ASSERT_TRUE(p.waitForStarted(10000));
    ASSERT_TRUE(p.waitForFinished(15000));
    const QString out = QString::fromLocal8Bit(p.readAll());

    // THEN the echo succeeds: through the datagram socket where the user's group may use one,
    // otherwise through the system's ping program
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("status=0 "))) << out.toStdString();
    EXPECT_TRUE(out.contains(datagramAllowed ? QStringLiteral("facility=0") : QStringLiteral("facility=2")))
        << out.toStdString();
}

TEST(PackagingDocs, TheHidpiScreenshotsShowTheWholeWindowAtEachScaleFactor)
{
    // GIVEN the committed pictures of the main window at scale factors 1, 1.5 and 2
    const QString docs = QStringLiteral(VEXO_SOURCE_DIR "/docs/");
    const QImage one(docs + QStringLiteral("hidpi-1.png"));
    const QImage oneHalf(docs + QStringLiteral("hidpi-1.5.png"));
    const QImage two(docs + QStringLiteral("hidpi-2.png"));
    ASSERT_FALSE(one.isNull());
    ASSERT_FALSE(oneHalf.isNull());
    ASSERT_FALSE(two.isNull());
    // THEN each is the whole fixed-size window, scaled by its factor (a cut picture or a window
    // that grew or shrank in one direction would not be)
    EXPECT_GT(one.width(), 400);
    EXPECT_GT(one.height(), 300);
    EXPECT_NEAR(oneHalf.width(), 1.5 * one.width(), 2.0);
    EXPECT_NEAR(oneHalf.height(), 1.5 * one.height(), 2.0);
    EXPECT_NEAR(two.width(), 2.0 * one.width(), 2.0);
    EXPECT_NEAR(two.height(), 2.0 * one.height(), 2.0);
}

} // namespace
