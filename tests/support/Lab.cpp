#include "Lab.h"

#include "TestUtil.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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

QString ipOf(int position, int encoders)
{
    if (position < encoders)
        return QStringLiteral("10.77.%1.%2").arg(1 + position / 250).arg(1 + position % 250);
    const int i = position - encoders;
    return QStringLiteral("10.77.%1.%2").arg(101 + i / 250).arg(1 + i % 250);
}

QString macOf(int position)
{
    const int n = position + 1;
    return QStringLiteral("00:50:C2:77:%1:%2")
        .arg(n >> 8, 2, 16, QLatin1Char('0'))
        .arg(n & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

// "--key value", "--key=value", "--flag" -> {"key": "value"} / {"flag": true}. The simulator
// checks keys and converts the texts itself.
QJsonObject argsObject(const QStringList& args)
{
    QJsonObject o;
    for (int i = 0; i < args.size(); ++i) {
        QString key = args[i];
        if (!key.startsWith(QLatin1String("--")))
            continue;
        key = key.mid(2);
        if (const qsizetype eq = key.indexOf(QLatin1Char('=')); eq >= 0)
            o.insert(key.left(eq), key.mid(eq + 1));
        else if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1String("--")))
            o.insert(key, args[++i]);
        else
            o.insert(key, true);
    }
    return o;
}

// Why this namespace must not hold a lab: the machine's initial one, or (when process 1's
// namespace cannot be looked at) one with any interface besides loopback. Empty when it may.
QString namespaceRefusal()
{
    struct stat self
    {
    }, init{};
    if (stat("/proc/self/ns/net", &self) == 0 && stat("/proc/1/ns/net", &init) == 0) {
        if (self.st_ino == init.st_ino && self.st_dev == init.st_dev)
            return QStringLiteral("refusing to build a lab in the machine's initial network namespace "
                                  "(run through scripts/test, which uses unshare -n)");
        return {};
    }
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        if (!(i.flags() & QNetworkInterface::IsLoopBack))
            return QStringLiteral(
                       "cannot tell this network namespace from the machine's (interface %1 present; "
                       "run through scripts/test, which uses unshare -n)")
                .arg(i.name());
    return {};
}

// Namespaces left by a test process that died before its down().
void removeStaleNamespaces()
{
    const QStringList names = QDir(QStringLiteral("/run/netns")).entryList({QStringLiteral("vxlab-*-*")});
    for (const QString& name : names) {
        const qint64 pid = name.section(QLatin1Char('-'), 1, 1).toLongLong();
        if (pid > 0 && !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
            QProcess::execute(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), name});
    }
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
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-V")});
    if (!ip.waitForFinished(5000) || ip.exitCode() != 0)
        return QStringLiteral("the `ip` command (iproute2) is missing");
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

bool Lab::run(const QStringList& args, QString* error, const QByteArray& input) const
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), args);
    if (!input.isEmpty()) {
        ip.write(input);
    }
    ip.closeWriteChannel();
    if (!ip.waitForFinished(60000) || ip.exitStatus() != QProcess::NormalExit || ip.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("ip %1: %2")
                         .arg(args.join(QLatin1Char(' ')).left(200),
                              QString::fromLocal8Bit(ip.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

bool Lab::up(int encoders, int decoders, int sfn, QString* error, const QMap<int, QStringList>& elementArgs,
             const QStringList& fleetArgs)
{
    QString dummy;
    if (!error)
        error = &dummy;
    down();
    const int total = encoders + decoders;
    if (encoders < 0 || decoders < 0 || total < 1 || total > 1000) {
        *error = QStringLiteral("between 1 and 1000 elements");
        return false;
    }
    if (const QString reason = unavailableReason(); !reason.isEmpty()) {
        *error = reason;
        return false;
    }
    removeStaleNamespaces();

    // The station: this thread in a namespace of its own, or the one it is in.
    if (m_stationMode == Station::PrivateNamespace) {
        m_originalNs = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_originalNs < 0 || ::unshare(CLONE_NEWNET) != 0) {
            *error = QStringLiteral("cannot make the station's network namespace");
            down();
            return false;
        }
        m_stationInterface = QStringLiteral("vxst");
    } else {
        m_stationInterface = QStringLiteral("vxs%1n%2").arg(::getpid()).arg(g_labCounter + 1);
    }
    m_netns = QStringLiteral("vxlab-%1-%2").arg(::getpid()).arg(++g_labCounter);
    m_dir = std::make_unique<QTemporaryDir>();
    const QString dir = m_dir->path();

    if (!run({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
             error) ||
        !run({QStringLiteral("netns"), QStringLiteral("add"), m_netns}, error) ||
        !run({QStringLiteral("link"), QStringLiteral("add"), m_stationInterface, QStringLiteral("address"),
              QLatin1String(kStationMac), QStringLiteral("type"), QStringLiteral("veth"),
              QStringLiteral("peer"), QStringLiteral("name"), QStringLiteral("vxup"), QStringLiteral("netns"),
              m_netns},
             error) ||
        !run({QStringLiteral("-batch"), QStringLiteral("-")}, error,
             QStringLiteral("address add 10.77.0.1/16 dev %1\nlink set %1 up\nroute replace default dev %1\n")
                 .arg(m_stationInterface)
                 .toLatin1()) ||
        !run({QStringLiteral("netns"), QStringLiteral("exec"), m_netns, QStringLiteral("sh"),
              QStringLiteral("-c"),
              QStringLiteral("for k in arp_ignore=1 arp_announce=2 promote_secondaries=1 rp_filter=0; do "
                             "echo ${k#*=} > /proc/sys/net/ipv4/conf/all/${k%=*}; "
                             "echo ${k#*=} > /proc/sys/net/ipv4/conf/default/${k%=*}; done")},
             error)) {
        down();
        return false;
    }

    // See scripts/lab: the ARP table is shared by all namespaces; big fleets know the station
    // permanently so that only the station's entries count.
    const bool staticStation = total > 400;
    QByteArray batch = "link set lo up\nlink set vxup up\n";
    QJsonArray members;
    m_elements.clear();
    for (int n = 0; n < total; ++n) {
        const bool encoder = n < encoders;
        const int i = encoder ? n : n - encoders;
        Element e;
        e.ip = ipOf(n, encoders);
        e.mac = macOf(n);
        e.role = encoder ? 1 : 2;
        e.name = QStringLiteral("%1 %2")
                     .arg(encoder ? QStringLiteral("ENCODER") : QStringLiteral("DECODER"))
                     .arg(i + 1, 3, 10, QLatin1Char('0'));
        e.serial = (encoder ? 10001 : 20001) + i;
        m_elements.append(e);
        batch += QStringLiteral("link add e%1 link vxup address %2 type macvlan mode bridge\n"
                                "address add %3/16 dev e%1\nlink set e%1 up\n")
                     .arg(n)
                     .arg(e.mac, e.ip)
                     .toLatin1();
        if (staticStation)
            batch += QStringLiteral("neighbour replace 10.77.0.1 lladdr %1 dev e%2 nud permanent\n")
                         .arg(QLatin1String(kStationMac))
                         .arg(n)
                         .toLatin1();
        QJsonObject o{{QStringLiteral("role"), e.role},
                      {QStringLiteral("name"), e.name},
                      {QStringLiteral("serial"), e.serial},
                      {QStringLiteral("ip"), e.ip},
                      {QStringLiteral("sfn"), !encoder && i < sfn ? 1 : 0},
                      {QStringLiteral("interface"), QStringLiteral("e%1").arg(n)}};
        const QJsonObject extra = argsObject(elementArgs.value(n));
        for (auto it = extra.begin(); it != extra.end(); ++it)
            o.insert(it.key(), it.value());
        members.append(o);
    }
    if (!run({QStringLiteral("-n"), m_netns, QStringLiteral("-batch"), QStringLiteral("-")}, error, batch)) {
        down();
        return false;
    }
    const QJsonObject fleet{
        {QStringLiteral("bind"), QStringLiteral("any")},
        {QStringLiteral("defaults"), QJsonObject{{QStringLiteral("mask"), QStringLiteral("255.255.0.0")},
                                                 {QStringLiteral("gw"), QStringLiteral("10.77.0.1")},
                                                 {QStringLiteral("remote"), QStringLiteral("10.77.0.1")}}},
        {QStringLiteral("elements"), members}};
    QFile fleetFile(dir + QStringLiteral("/fleet.json"));
    if (!fleetFile.open(QIODevice::WriteOnly) || fleetFile.write(QJsonDocument(fleet).toJson()) < 0) {
        *error = QStringLiteral("cannot write the fleet file");
        down();
        return false;
    }
    fleetFile.close();

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
    m_fleet->start(elementBinary(),
                   QStringList{QStringLiteral("--fleet"), fleetFile.fileName(),
                               QStringLiteral("--state-file"), dir + QStringLiteral("/state.json")}
                       << fleetArgs);
    QDeadlineTimer deadline(15000);
    while (!QFileInfo::exists(dir + QStringLiteral("/state.json"))) {
        if (deadline.hasExpired() || m_fleet->state() == QProcess::NotRunning) {
            *error = QStringLiteral("the simulator did not start: %1").arg(fleetLog());
            down();
            return false;
        }
        m_fleet->waitForFinished(20);
    }
    return true;
}

void Lab::down()
{
    if (m_fleet) {
        if (m_fleet->state() != QProcess::NotRunning) {
            m_fleet->terminate();
            if (!m_fleet->waitForFinished(3000)) {
                m_fleet->kill();
                m_fleet->waitForFinished(3000);
            }
        }
        m_fleet.reset();
    }
    if (m_stationMode == Station::CurrentNamespace && !m_stationInterface.isEmpty()) {
        // At once, with its peer: a deleted namespace lets its links go only later.
        run({QStringLiteral("link"), QStringLiteral("del"), m_stationInterface}, nullptr);
    }
    m_stationInterface.clear();
    if (!m_netns.isEmpty()) {
        // The macvlans go with the namespace.
        run({QStringLiteral("netns"), QStringLiteral("del"), m_netns}, nullptr);
        m_netns.clear();
    }
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
    QFile f(m_dir->path() + QStringLiteral("/state.json"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QJsonArray list =
        QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("elements")).toArray();
    return list.at(index).toObject();
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
    if (!m_dir)
        return {};
    QFile f(m_dir->path() + QStringLiteral("/fleet.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}
