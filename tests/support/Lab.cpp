#include "Lab.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkInterface>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr auto kStationMac = "02:77:00:00:00:01";
static int g_labCounter = 0;

QString Lab::elementBinary()
{
    return qEnvironmentVariable("VEXO_BIN") + "/tools/element-sim/vexolink-element";
}

QString Lab::unavailableReason()
{
    if (::geteuid() != 0)
        return "the namespace lab needs root (run the suite as root through scripts/test)";
    // Never in the machine's initial namespace; if process 1's is hidden, only beside loopback alone.
    struct stat self = {}, init = {};
    const QString hint = " (run through scripts/test, which uses unshare -n)";
    if (stat("/proc/self/ns/net", &self) != 0 || stat("/proc/1/ns/net", &init) != 0) {
        for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
            if (!(i.flags() & QNetworkInterface::IsLoopBack))
                return "cannot tell this network namespace from the machine's: " + i.name() + hint;
    } else if (self.st_ino == init.st_ino && self.st_dev == init.st_dev) {
        return "refusing to build a lab in the machine's initial network namespace" + hint;
    }
    if (!QFileInfo(elementBinary()).isExecutable())
        return "the simulator " + elementBinary() + " is not built";
    return {};
}

bool Lab::run(const QString& command, QString* error) const
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), QProcess::splitCommand(command));
    const bool ok =
        ip.waitForFinished(60000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    if (!ok && error)
        *error = "ip " + command + ": " + QString::fromLocal8Bit(ip.readAllStandardError()).trimmed();
    return ok;
}

bool Lab::up(int encoders, int decoders, int sfn, QString* error, const QMap<int, QStringList>& elementArgs,
             const QStringList& fleetArgs)
{
    // Ends what was made so far; an empty reason keeps the one run() gave.
    const auto fail = [&](const QString& reason) {
        if (error && !reason.isEmpty())
            *error = reason;
        down();
        return false;
    };
    down();
    const int total = encoders + decoders;
    if (encoders < 0 || decoders < 0 || total < 1 || total > 1000)
        return fail("between 1 and 1000 elements");
    if (const QString reason = unavailableReason(); !reason.isEmpty())
        return fail(reason);
    // Namespaces left by a test process that died before its down().
    for (const QString& name : QDir("/run/netns").entryList({"vxlab-*-*", "vxoffice-*-*"}))
        if (!QFileInfo::exists("/proc/" + name.section('-', 1, 1)))
            run("netns del " + name, nullptr);

    // The station: this thread in a namespace of its own, or the one it is in.
    const bool own = m_stationMode == Station::PrivateNamespace;
    if (own && ((m_originalNs = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) < 0 ||
                ::unshare(CLONE_NEWNET) != 0))
        return fail("cannot make the station's network namespace");
    m_stationInterface =
        own ? QStringLiteral("vxst") : QString::asprintf("vxs%dn%d", ::getpid(), g_labCounter + 1);
    m_netns = QStringLiteral("vxlab-%1-%2").arg(::getpid()).arg(++g_labCounter);
    m_dir = std::make_unique<QTemporaryDir>();
    const QString dir = m_dir->path(), fleetFile = dir + "/fleet.json", state = dir + "/state.json";

    // See scripts/lab: the ARP table is shared by all namespaces; big fleets know the station
    // permanently so that only the station's entries count.
    QString links = "link set lo up\nlink set vxup up\n";
    QJsonArray members;
    for (int n = 0; n < total; ++n) {
        const bool encoder = n < encoders;
        const int i = encoder ? n : n - encoders;
        const Element e{QString::asprintf("10.77.%d.%d", (encoder ? 1 : 101) + i / 250, 1 + i % 250),
                        QString::asprintf("00:50:C2:77:%02X:%02X", (n + 1) >> 8, (n + 1) & 0xFF),
                        QString::asprintf("%s %03d", encoder ? "ENCODER" : "DECODER", i + 1), encoder ? 1 : 2,
                        (encoder ? 10001 : 20001) + i};
        m_elements.append(e);
        links += QString::asprintf("link add e%d link vxup address %s type macvlan mode bridge\n"
                                   "address add %s/16 dev e%d\nlink set e%d up\n",
                                   n, qPrintable(e.mac), qPrintable(e.ip), n, n);
        if (total > 400)
            links += QString::asprintf("neighbour replace 10.77.0.1 lladdr %s dev e%d nud permanent\n",
                                       kStationMac, n);
        // As on the simulator's command line: the element's own options come last and win.
        QString args =
            QString::asprintf("--role %d --name \"%s\" --serial %d --ip %s --sfn %d --interface e%d", e.role,
                              qPrintable(e.name), e.serial, qPrintable(e.ip), !encoder && i < sfn ? 1 : 0, n);
        for (const QString& a : elementArgs.value(n))
            args += " \"" + a + '"';
        members.append(QJsonObject{{"args", args}});
    }
    const QString setup =
        QStringLiteral(
            "link set lo up\nnetns add %1\nlink add %2 address %3 type veth peer name vxup netns %1\n"
            "address add 10.77.0.1/16 dev %2\nlink set %2 up\nroute replace default dev %2\n"
            "netns exec %1 sh -c \"for c in all default; do cd /proc/sys/net/ipv4/conf/$c && echo 1 > "
            "arp_ignore && echo 2 > arp_announce && echo 1 > promote_secondaries && echo 0 > rp_filter; "
            "done\"\nnetns exec %1 ip -batch %4/links\n")
            .arg(m_netns, m_stationInterface, QLatin1String(kStationMac), dir);
    const QJsonObject defaults{{"mask", "255.255.0.0"}, {"gw", "10.77.0.1"}, {"remote", "10.77.0.1"}};
    if (!writeFile(dir + "/links", links.toLatin1()) || !writeFile(dir + "/setup", setup.toLatin1()) ||
        !writeFile(fleetFile,
                   QJsonDocument(QJsonObject{{"bind", "any"}, {"defaults", defaults}, {"elements", members}})
                       .toJson()))
        return fail("cannot write the lab's files");
    if (!run("-batch " + dir + "/setup", error))
        return fail({});

    // The simulator joins the fleet namespace right after fork, and dies with the test.
    const QByteArray nsPath = QStringLiteral("/run/netns/%1").arg(m_netns).toLocal8Bit();
    m_fleet = std::make_unique<QProcess>();
    m_fleet->setStandardOutputFile(dir + "/fleet.log");
    m_fleet->setStandardErrorFile(dir + "/fleet.log", QIODevice::Append);
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

bool Lab::addOfficeCard(QString* error)
{
    if (m_netns.isEmpty() || !m_officeInterface.isEmpty()) {
        if (error)
            *error = "an office card needs a lab that is up and has none yet";
        return false;
    }
    m_officeInterface = m_stationMode == Station::PrivateNamespace
                            ? QStringLiteral("vxof")
                            : QString::asprintf("vxo%dn%d", ::getpid(), g_labCounter);
    m_officeNetns = QStringLiteral("vxoffice-%1-%2").arg(::getpid()).arg(g_labCounter);
    const QString setup =
        QStringLiteral("netns add %1\nlink add %2 type veth peer name vxofp netns %1\n"
                       "address add %3/24 dev %2\nlink set %2 up\n"
                       "netns exec %1 ip link set lo up\nnetns exec %1 ip link set vxofp up\n"
                       "netns exec %1 ip address add 192.168.77.254/24 dev vxofp\n"
                       "route replace default via 192.168.77.254 dev %2 onlink\n")
            .arg(m_officeNetns, m_officeInterface, officeIp());
    return (writeFile(m_dir->path() + "/office", setup.toLatin1()) &&
            run("-batch " + m_dir->path() + "/office", error)) ||
           (down(), false);
}

void Lab::down()
{
    if (!m_officeInterface.isEmpty())
        run("link del " + m_officeInterface, nullptr);
    m_officeInterface.clear();
    if (!m_officeNetns.isEmpty())
        run("netns del " + m_officeNetns, nullptr);
    m_officeNetns.clear();
    if (m_fleet && m_fleet->state() != QProcess::NotRunning) {
        m_fleet->terminate();
        m_fleet->waitForFinished(3000);
    }
    m_fleet.reset(); // killed if it is still there
    // At once, with its peer: a deleted namespace lets its links go only later.
    if (m_stationMode == Station::CurrentNamespace && !m_stationInterface.isEmpty())
        run("link del " + m_stationInterface, nullptr);
    m_stationInterface.clear();
    if (!m_netns.isEmpty()) // the macvlans go with the namespace
        run("netns del " + m_netns, nullptr);
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
    return m_dir ? QJsonDocument::fromJson(readFile(m_dir->path() + "/state.json"))["elements"][index]
                       .toObject()
                 : QJsonObject();
}

QString Lab::fleetLog() const
{
    return m_dir ? QString::fromLocal8Bit(readFile(m_dir->path() + "/fleet.log")) : QString();
}
