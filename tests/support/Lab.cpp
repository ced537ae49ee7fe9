#include "Lab.h"

#include "TestUtil.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr auto kStationMac = "02:77:00:00:00:01";
int g_labCounter = 0;

// Why this namespace must not hold a lab: the machine's initial one, or (when process 1's
// namespace cannot be looked at) one with any interface besides loopback. Empty when it may.
QString namespaceRefusal()
{
    struct stat self
    {
    }, init{};
    if (stat("/proc/self/ns/net", &self) == 0 && stat("/proc/1/ns/net", &init) == 0)
        return self.st_ino == init.st_ino && self.st_dev == init.st_dev
                   ? QStringLiteral("refusing to build a lab in the machine's initial network namespace "
                                    "(run through scripts/test, which uses unshare -n)")
                   : QString();
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        if (!(i.flags() & QNetworkInterface::IsLoopBack))
            return QStringLiteral("cannot tell this network namespace from the machine's (interface %1 "
                                  "present; run through scripts/test, which uses unshare -n)")
                .arg(i.name());
    return {};
}

} // namespace

QString Lab::elementBinary()
{
    return qEnvironmentVariable("VEXO_BIN") + QStringLiteral("/tools/element-sim/vexolink-element");
}

QString Lab::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("the namespace lab needs root (run the suite as root through scripts/test)");
    // Root of a user namespace (unshare -r) cannot mount the named network namespaces.
    if (const QByteArray map = readFile(QStringLiteral("/proc/self/uid_map")).simplified();
        !map.isEmpty() && map != "0 0 4294967295")
        return QStringLiteral("the namespace lab needs the machine's root, not root of a user namespace");
    if (const QString refusal = namespaceRefusal(); !refusal.isEmpty())
        return refusal;
    if (!QFileInfo(elementBinary()).isExecutable())
        return QStringLiteral("the simulator %1 is not built").arg(elementBinary());
    return {};
}

Lab::Lab(Station station) : m_stationMode(station) {}

Lab::~Lab()
{
    down();
}

bool Lab::isUp() const
{
    return m_fleet && m_fleet->state() == QProcess::Running;
}

// One `ip` command, its words split as a shell would; `input` goes to its standard input.
bool Lab::run(const QString& command, QString* error, const QByteArray& input) const
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), QProcess::splitCommand(command));
    ip.write(input);
    ip.closeWriteChannel();
    if (ip.waitForFinished(60000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("ip %1: %2")
                     .arg(command.left(200), QString::fromLocal8Bit(ip.readAllStandardError()).trimmed());
    return false;
}

bool Lab::up(int encoders, int decoders, int sfn, QString* error, const QMap<int, QStringList>& elementArgs,
             const QStringList& fleetArgs)
{
    QString dummy;
    error = error ? error : &dummy;
    // Ends what was made so far; an empty reason keeps the one run() gave.
    const auto fail = [&](const QString& reason) {
        if (!reason.isEmpty())
            *error = reason;
        down();
        return false;
    };
    down();
    const int total = encoders + decoders;
    if (encoders < 0 || decoders < 0 || total < 1 || total > 1000)
        return fail(QStringLiteral("between 1 and 1000 elements"));
    if (const QString reason = unavailableReason(); !reason.isEmpty())
        return fail(reason);
    // Namespaces left by a test process that died before its down().
    for (const QString& name : QDir(QStringLiteral("/run/netns")).entryList({QStringLiteral("vxlab-*-*")}))
        if (!QFileInfo::exists(QStringLiteral("/proc/") + name.section(QLatin1Char('-'), 1, 1)))
            run(QStringLiteral("netns del ") + name, nullptr);

    // The station: this thread in a namespace of its own, or the one it is in.
    if (m_stationMode == Station::PrivateNamespace) {
        m_originalNs = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_originalNs < 0 || ::unshare(CLONE_NEWNET) != 0)
            return fail(QStringLiteral("cannot make the station's network namespace"));
        m_stationInterface = QStringLiteral("vxst");
    } else {
        m_stationInterface = QStringLiteral("vxs%1n%2").arg(::getpid()).arg(g_labCounter + 1);
    }
    m_netns = QStringLiteral("vxlab-%1-%2").arg(::getpid()).arg(++g_labCounter);
    m_dir = std::make_unique<QTemporaryDir>();
    const QString dir = m_dir->path();
    const QByteArray station =
        QStringLiteral(
            "link set lo up\nnetns add %1\nlink add %2 address %3 type veth peer name vxup netns %1\n"
            "address add 10.77.0.1/16 dev %2\nlink set %2 up\nroute replace default dev %2\n")
            .arg(m_netns, m_stationInterface, QLatin1String(kStationMac))
            .toLatin1();
    if (!run(QStringLiteral("-batch -"), error, station) ||
        !run(
            QStringLiteral("netns exec %1 sh -c \"for k in arp_ignore=1 arp_announce=2 promote_secondaries=1 "
                           "rp_filter=0; do for c in all default; do echo ${k#*=} > "
                           "/proc/sys/net/ipv4/conf/$c/${k%=*}; done; done\"")
                .arg(m_netns),
            error))
        return fail({});

    // See scripts/lab: the ARP table is shared by all namespaces; big fleets know the station
    // permanently so that only the station's entries count.
    QByteArray batch = "link set lo up\nlink set vxup up\n";
    QJsonArray members;
    for (int n = 0; n < total; ++n) {
        const bool encoder = n < encoders;
        const int i = encoder ? n : n - encoders;
        Element e;
        e.ip = QString::asprintf("10.77.%d.%d", (encoder ? 1 : 101) + i / 250, 1 + i % 250);
        e.mac = QString::asprintf("00:50:C2:77:%02X:%02X", (n + 1) >> 8, (n + 1) & 0xFF);
        e.role = encoder ? 1 : 2;
        e.name = QString::asprintf("%s %03d", encoder ? "ENCODER" : "DECODER", i + 1);
        e.serial = (encoder ? 10001 : 20001) + i;
        m_elements.append(e);
        batch += QString::asprintf("link add e%d link vxup address %s type macvlan mode bridge\n"
                                   "address add %s/16 dev e%d\nlink set e%d up\n",
                                   n, qPrintable(e.mac), qPrintable(e.ip), n, n)
                     .toLatin1();
        if (total > 400)
            batch += QString::asprintf("neighbour replace 10.77.0.1 lladdr %s dev e%d nud permanent\n",
                                       kStationMac, n)
                         .toLatin1();
        // The element's own options, as on the simulator's command line, win over these.
        QStringList args;
        for (const QString& a : elementArgs.value(n))
            args << QLatin1Char('"') + a + QLatin1Char('"');
        members.append(QJsonObject{{"role", e.role},
                                   {"name", e.name},
                                   {"serial", e.serial},
                                   {"ip", e.ip},
                                   {"sfn", !encoder && i < sfn ? 1 : 0},
                                   {"interface", QStringLiteral("e%1").arg(n)},
                                   {"args", args.join(QLatin1Char(' '))}});
    }
    const QJsonObject fleet{
        {"bind", "any"},
        {"defaults", QJsonObject{{"mask", "255.255.0.0"}, {"gw", "10.77.0.1"}, {"remote", "10.77.0.1"}}},
        {"elements", members}};
    const QString fleetFile = dir + QStringLiteral("/fleet.json"),
                  state = dir + QStringLiteral("/state.json");
    if (!writeFile(fleetFile, QJsonDocument(fleet).toJson()))
        return fail(QStringLiteral("cannot write the fleet file"));
    if (!run(QStringLiteral("-n %1 -batch -").arg(m_netns), error, batch))
        return fail({});

    // The simulator joins the fleet namespace right after fork, and dies with the test.
    const QByteArray nsPath = QStringLiteral("/run/netns/%1").arg(m_netns).toLocal8Bit();
    m_fleet = std::make_unique<QProcess>();
    m_fleet->setStandardOutputFile(dir + QStringLiteral("/fleet.log"));
    m_fleet->setStandardErrorFile(dir + QStringLiteral("/fleet.log"), QIODevice::Append);
    m_fleet->setChildProcessModifier([nsPath] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int fd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    m_fleet->start(elementBinary(), QStringList{"--fleet", fleetFile, "--state-file", state} << fleetArgs);
    waitUntil([&] { return QFileInfo::exists(state) || m_fleet->state() == QProcess::NotRunning; }, 15000);
    return QFileInfo::exists(state) ||
           fail(QStringLiteral("the simulator did not start: %1").arg(fleetLog()));
}

void Lab::down()
{
    if (m_fleet && m_fleet->state() != QProcess::NotRunning) {
        m_fleet->terminate();
        if (!m_fleet->waitForFinished(3000)) {
            m_fleet->kill();
            m_fleet->waitForFinished(3000);
        }
    }
    m_fleet.reset();
    // At once, with its peer: a deleted namespace lets its links go only later.
    if (m_stationMode == Station::CurrentNamespace && !m_stationInterface.isEmpty())
        run(QStringLiteral("link del ") + m_stationInterface, nullptr);
    m_stationInterface.clear();
    if (!m_netns.isEmpty()) // the macvlans go with the namespace
        run(QStringLiteral("netns del ") + m_netns, nullptr);
    m_netns.clear();
    if (m_originalNs >= 0) {
        ::setns(m_originalNs, CLONE_NEWNET);
        ::close(m_originalNs);
        m_originalNs = -1;
    }
    m_dir.reset();
    m_elements.clear();
}

QJsonObject Lab::stateObject(int index) const
{
    if (!m_dir)
        return {};
    return QJsonDocument::fromJson(readFile(m_dir->path() + QStringLiteral("/state.json")))["elements"][index]
        .toObject();
}

QString Lab::stateOf(int index) const
{
    return QString::fromUtf8(QJsonDocument(stateObject(index)).toJson());
}

bool Lab::waitForState(int index, const std::function<bool(const QJsonObject&)>& condition,
                       int timeoutMs) const
{
    return waitUntil([&] { return condition(stateObject(index)); }, timeoutMs);
}

qint64 Lab::fleetPid() const
{
    return m_fleet ? m_fleet->processId() : 0;
}

QString Lab::fleetLog() const
{
    return m_dir ? QString::fromLocal8Bit(readFile(m_dir->path() + QStringLiteral("/fleet.log"))) : QString();
}
