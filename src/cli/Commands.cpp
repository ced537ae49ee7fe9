#include "Commands.h"

#include "CliSupport.h"
#include "ConfigureSupport.h"
#include "Exporter.h"
#include "JournalCommands.h"
#include "SfnCommands.h"

#include "core/Station.h"
#include "diagnostics/LevelMonitor.h"
#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "discovery/InterfaceChoice.h"
#include "editor/DryRun.h"
#include "editor/StoredElement.h"
#include "editor/ValueRules.h"
#include "journal/Journal.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureSession.h"
#include "platform/StorePath.h"
#include "platform/UserSettings.h"
#include "store/IniFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>

namespace vexo::cli {

namespace {

enum class Format
{
    Table,
    Json,
    Csv
};

struct CommandInfo
{
    QString name;
    QString synopsis;
    QString description;
    QString jsonKeys; // documented --json keys
};

const QList<CommandInfo>& commands()
{
    static const QList<CommandInfo> list = {
        {"discover", "discover [--timeout SECONDS] [--save] [--interface NAME]...",
         "Pages the network and lists the elements that answered. Only --save replaces the store\n"
         "with them, as the window's discovery does. The request leaves by every network interface\n"
         "that is up, has an IPv4 address and can broadcast, or only by those --interface names.",
         "array of objects as for list"},
        {"list", "list [--csv]", "Lists the stored elements.",
         "array of {mac, name, ip, role, serial, version, sfn}"},
        {"show", "show ELEMENT", "The stored configuration of an element.",
         "{mac, role_name, and every stored key under its own name: name, ip, mask, gw, input, type,\n"
         "  tx, remote or multi, role, sn, ver, sfn, buf, att, sdm, sdl, sdt, bound, dly, srv} (texts as "
         "stored)"},
        {"ping", "ping ELEMENT", "One ICMP echo to the element's stored address.",
         "{mac, ip, success, status, round_trip_ns}"},
        {"mac", "mac IP [--timeout SECONDS]", "The MAC address of an IPv4 address on the local network.",
         "{ip, mac}"},
        {"stats", "stats ELEMENT [--clear]",
         "The traffic and PTP counters as the statistics window shows them; --clear resets them\n"
         "first. Rows the element does not report (PTP without SFN, ...) are null.",
         "{mac, name, good_tx_frames, bad_tx_frames, bad_tx_frames_percent, good_rx_frames,\n"
         "  bad_rx_frames, bad_rx_frames_percent, ok_audio_frames, bad_audio_frames,\n"
         "  bad_audio_frames_percent, good_ptp_sync, bad_ptp_sync, clock_difference_ns, measured_delay_ns}"},
        {"latency", "latency ELEMENT", "The SFN latency figures of an SFN decoder and its compensation.",
         "{mac, name, network_latency_min_ns, network_latency_max_ns, network_latency_avg_ns,\n"
         "  mac_interface_latency_ns, audio_interface_latency_ns, latency_summary_min_ns,\n"
         "  latency_summary_max_ns, latency_summary_avg_ns, additional_delay_ns, auto_servo,\n"
         "  servo_correction_ns}"},
        {"set-delay", "set-delay ELEMENT NANOSECONDS [--servo on|off]",
         "Sets an SFN decoder's additional delay (0 to 2500000 ns in steps of 100) and its auto servo\n"
         "(unchanged when not given), reads the element's figures back and stores dly and srv.",
         "as for latency"},
        {"attenuation", "attenuation ELEMENT LEVEL|mute",
         "Sets a decoder's output attenuation: LEVEL in dB below full level, 0 to -120.5 in steps of\n"
         "0.5 (20 and -20 both mean -20 dB); mute is the bar's minimum. No answer is awaited.",
         "{mac, position, level_db (null for mute), mute}"},
        {"level", "level ELEMENT [--watch] [--interval MS] [--count N]",
         "The audio level of an encoder in dBFS; --watch repeats it (one line or JSON object each).",
         "{mac, peak, level_dbfs (null for silence), level_text}"},
        {"configure", "configure ELEMENT key=value... [--gps] [--dry-run]",
         "Sends the stored configuration with the changes, waits for the element's answer, compares\n"
         "it field by field and stores what matched. Keys: name, ip, mask, gw, remote, multi (both\n"
         "set the remote or multicast address), input, type, tx, sfn, and for a decoder buf, sdm, sdl,\n"
         "sdt. --gps allows the GPSDO variant's longer buffer (23). --dry-run prints, per field the\n"
         "request carries, the stored value and the value to be sent (* where they differ) and the\n"
         "request's bytes in hex; it sends nothing and writes nothing, not even the journal.",
         "{mac, confirmed, mismatched_fields, stored: {as for show}}; with --dry-run\n"
         "  {mac, changes: [{field, stored, sent}], request_hex}"},
        {"restore", "restore ELEMENT [--entry ID] [--gps]",
         "Sends again the configuration of the element's last confirmed journal entry (or of entry\n"
         "ID, see vexolink-cli journal) and confirms it as configure does, with the same exit codes.",
         "as for configure"},
        {"exporter", "exporter --listen ADDRESS:PORT [--interval SECONDS] [--level] [--web-config FILE]",
         "Polls every stored element at the interval and serves Prometheus metrics on\n"
         "http://ADDRESS:PORT/metrics; --level adds the encoders' audio peak level. --web-config\n"
         "serves them over HTTPS and with basic authentication, as the file says.",
         ""},
    };
    return list;
}

QString mainHelp()
{
    QString help = QStringLiteral("Usage: vexolink-cli COMMAND [ARGUMENTS] [--json]\n\n"
                                  "Scripts the Vexolink NMS station: the same store as vexolink-nms "
                                  "(VEXOLINK_NMS_STORE overrides its path).\n\nCommands:\n");
    for (const CommandInfo& c : commands())
        help += QStringLiteral("  %1\n").arg(c.synopsis);
    help += journalCommandsHelp();
    help += sfnCommandsHelp();
    help +=
        QStringLiteral("\nELEMENT is a MAC address (with or without colons, any case), a stored name or a "
                       "stored IP address.\nEvery command takes --help and --json (list also --csv).\n\n"
                       "Environment:\n"
                       "  VEXOLINK_NMS_STORE  the element store file (default: as vexolink-nms, the program\n"
                       "                      folder's nms.ini when it is writable, else\n"
                       "                      ~/.local/share/Korvanta/vexolink-nms/nms.ini)\n"
                       "  VEXOLINK_NMS_JOURNAL  the journal of changes (default: beside the store,\n"
                       "                      nms-journal.db)\n\n");
    return help + exitCodesHelp();
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QJsonValue optionalInt(const std::optional<qint64>& v)
{
    return v ? QJsonValue(double(*v)) : QJsonValue(QJsonValue::Null);
}

// A stored value the request would carry must be valid, or be replaced on the command line: the
// window would not send it either.
void refuseInvalidStored(const QString& mac, const StoredElement& stored, const QStringList& givenKeys)
{
    for (const StoredField& f : stored.invalidRequestFields()) {
        if (!givenKeys.contains(f.key))
            throw CliError(StoreProblem, QStringLiteral("%1: stored %2=%3 is %4; give %2=VALUE to replace it")
                                             .arg(mac, f.key, f.text, f.problem()));
    }
}

class Runner
{
public:
    Runner(const CommandInfo& info, QCommandLineParser& parser, CliEnvironment& env)
        : m_info(info), m_parser(parser), m_env(env), m_boxes(env.err)
    {
    }

    int run();

private:
    StationServices services(const QString& storePath)
    {
        return StationServices{m_boxes,   m_env.settings,   m_end, m_env.arp, m_env.icmp,
                               storePath, m_env.bindAddress};
    }
    QString positional(int index, const QString& what) const
    {
        const QStringList p = m_parser.positionalArguments();
        if (index >= p.size())
            throw CliError(UsageError, QStringLiteral("%1: %2 missing").arg(m_info.name, what));
        return p[index];
    }
    void expectPositionals(int count) const
    {
        if (m_parser.positionalArguments().size() > count)
            throw CliError(UsageError, QStringLiteral("%1: unexpected argument '%2'")
                                           .arg(m_info.name, m_parser.positionalArguments().value(count)));
    }
    void print(const QString& text) { m_env.out << text << Qt::flush; }
    void bindConfigPort(Station& station)
    {
        if (!station.bindConfigPort())
            throw CliError(PortBusy,
                           QStringLiteral("UDP port 2976 is in use on this host: vexolink-nms (or another "
                                          "station) holds it; close it and try again"));
    }
    // Runs one measurement operation of the station to its end.
    MeasureOutcome measure(const std::function<MeasureExchange*(MeasureExchange::Done)>& start)
    {
        std::optional<MeasureOutcome> outcome;
        QEventLoop loop;
        start([&](const MeasureOutcome& o) {
            outcome = o;
            loop.quit();
        });
        if (!outcome)
            loop.exec();
        return *outcome;
    }
    // A measurement that did not bring a record: its exit code and one line.
    [[noreturn]] void measureFailed(const MeasureOutcome& o, const QString& mac, const char* request)
    {
        switch (o.result) {
        case MeasureOutcome::Result::PortBusy:
            throw CliError(PortBusy,
                           QStringLiteral("UDP port 2978 is in use on this host: vexolink-nms (its "
                                          "statistics or SFN window) holds it; close it and try again"));
        case MeasureOutcome::Result::SendFailed:
            throw CliError(Failure, o.problem.cause);
        case MeasureOutcome::Result::RecordRefused:
            throw CliError(Failure, retrievalErrorText(o.errorNumber));
        default:
            throw CliError(NoAnswer, QStringLiteral("%1 did not answer the %2 request").arg(mac, request));
        }
    }
    void listElements(const ElementStore& store);
    QJsonObject storedRecord(const ElementStore& store, const QString& mac);
    int discover();
    int list();
    int show();
    int ping();
    int mac();
    int stats();
    int latency(bool setDelay);
    int attenuation();
    int level();
    int configure();
    int restore();
    int sendConfiguration(const ElementStore& store, const QString& mac, const StoredElement& stored,
                          const QList<QPair<QString, QString>>& given, const QStringList& givenKeys);
    // The journal the command's changes are recorded in (beside the store), made when first used.
    Journal& journal()
    {
        if (!m_journal)
            m_journal = std::make_unique<Journal>(resolveJournalPath(m_env.storePath),
                                                  QStringLiteral("command-line"));
        return *m_journal;
    }
    void journaled(Station& station) { journalChanges(station, journal(), m_env.err); }
    int reportConfigure(const ElementStore& store, const QString& mac, const ConfigureOutcome& o);

    const CommandInfo& m_info;
    QCommandLineParser& m_parser;
    CliEnvironment& m_env;
    ConsoleBoxes m_boxes;
    CommandEnd m_end;
    Format m_format = Format::Table;
    std::unique_ptr<Journal> m_journal;
};

int Runner::run()
{
    m_boxes.setQuiet(m_parser.isSet(QStringLiteral("quiet")));
    if (m_parser.isSet(QStringLiteral("json")))
        m_format = Format::Json;
    else if (m_info.name == QLatin1String("list") && m_parser.isSet(QStringLiteral("csv")))
        m_format = Format::Csv;
    static const std::map<QString, std::function<int(Runner&)>> table = {
        {"discover", &Runner::discover},
        {"list", &Runner::list},
        {"show", &Runner::show},
        {"ping", &Runner::ping},
        {"mac", &Runner::mac},
        {"stats", &Runner::stats},
        {"latency", [](Runner& r) { return r.latency(false); }},
        {"set-delay", [](Runner& r) { return r.latency(true); }},
        {"attenuation", &Runner::attenuation},
        {"level", &Runner::level},
        {"configure", &Runner::configure},
        {"restore", &Runner::restore},
    };
    return table.at(m_info.name)(*this);
}

void Runner::listElements(const ElementStore& store)
{
    const QStringList header = {"MAC", "NAME", "IP", "ROLE", "SERIAL", "VERSION", "SFN"};
    QList<QStringList> rows;
    QJsonArray array;
    for (const QString& mac : storedElements(store)) {
        const QString name = store.read(mac, keys::name).trimmed();
        const int role = storedInt(store.read(mac, keys::role));
        const QString ip = store.read(mac, keys::ip);
        const QString serial = store.read(mac, keys::sn);
        const QString version = store.read(mac, keys::ver);
        const QString sfn = store.read(mac, keys::sfn);
        rows.append({mac, name, ip, roleCaption(role), serial, version, sfn});
        array.append(QJsonObject{{"mac", mac},
                                 {"name", name},
                                 {"ip", ip},
                                 {"role", roleCaption(role).toLower()},
                                 {"serial", storedInt(serial)},
                                 {"version", version},
                                 {"sfn", storedInt(sfn) == 1}});
    }
    if (m_format == Format::Json)
        print(renderJson(array));
    else if (m_format == Format::Csv)
        print(renderCsv(header, rows));
    else
        print(renderTable(header, rows));
}

int Runner::discover()
{
    expectPositionals(0);
    bool ok = false;
    const double seconds = m_parser.value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || seconds < 0.5 || seconds > 60)
        throw CliError(UsageError, QStringLiteral("discover: --timeout must be 0.5 to 60 seconds"));
    const bool save = m_parser.isSet(QStringLiteral("save"));
    // Without --save the replies are gathered in a scratch store: the station's own stays as it is.
    QTemporaryDir scratch;
    const QString path = save ? m_env.storePath : scratch.filePath(QStringLiteral("nms.ini"));
    Station station(services(path));
    if (save)
        journaled(station);
    bindConfigPort(station);
    station.discovery().setInterfaceNames(interfaceNames(m_parser.values(QStringLiteral("interface"))));
    bool finished = false;
    QObject::connect(&station.discovery(), &Discovery::finished, [&] { finished = true; });
    station.discovery().start(int(seconds * 1000));
    if (station.discovery().result().noInterface)
        throw CliError(Failure,
                       station.discovery().noInterfaceText().replace(QLatin1Char('\r'), QLatin1Char(' ')));
    // Identifying an element may take up to 20 s after the wait when its address is new.
    if (!waitUntil([&] { return finished; }, int(seconds * 1000) + 30000))
        throw CliError(Failure, QStringLiteral("discovery did not finish"));
    const DiscoveryResult& result = station.discovery().result();
    if (result.paging)
        throw CliError(Failure, result.paging.cause);
    if (result.storeNotCreated || result.storeWriteFailed)
        throw CliError(Failure, QStringLiteral("the local database %1 could not be written; elements that "
                                               "answered are missing from it")
                                    .arg(path));
    // Which cards were paged is what the operator needs to know when nothing answered.
    if (result.stored == 0)
        m_boxes.information(kAppTitle, station.discovery().nothingAnsweredText());
    listElements(station.store());
    return Success;
}

int Runner::list()
{
    expectPositionals(0);
    listElements(ElementStore(m_env.storePath));
    return Success;
}

QJsonObject Runner::storedRecord(const ElementStore& store, const QString& mac)
{
    QJsonObject o{{"mac", mac}};
    for (const QString& line : readIniSection(encodeMac(mac), store.path())) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        o.insert(line.left(eq).trimmed().toLower(), line.mid(eq + 1));
    }
    o.insert(QStringLiteral("role_name"), roleCaption(storedInt(store.read(mac, keys::role))));
    return o;
}

int Runner::show()
{
    const ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    expectPositionals(1);
    const QJsonObject o = storedRecord(store, mac);
    if (m_format == Format::Json) {
        print(renderJson(o));
    } else {
        QList<QStringList> rows;
        for (const QString& line : readIniSection(encodeMac(mac), store.path())) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            rows.append({line.left(eq), line.mid(eq + 1)});
        }
        print(QStringLiteral("%1 (%2)\n").arg(mac, o.value(QStringLiteral("role_name")).toString()) +
              renderTable({"KEY", "VALUE"}, rows));
    }
    return Success;
}

int Runner::ping()
{
    const ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    expectPositionals(1);
    Station station(services(m_env.storePath));
    std::optional<PingOutcome> o;
    QEventLoop loop;
    station.ping(mac, [&](const PingOutcome& outcome) {
        o = outcome;
        loop.quit();
    });
    loop.exec();
    using Result = PingOutcome::Result;
    switch (o->result) {
    case Result::NoAddress:
        throw CliError(Failure, QStringLiteral("no IP address is stored for %1").arg(mac));
    case Result::InvalidAddress:
        throw CliError(Failure,
                       QStringLiteral("the stored IP address '%1' of %2 is not valid").arg(o->ip, mac));
    case Result::NoIcmp:
        throw CliError(Failure, QStringLiteral("no ICMP facility can be used here (an ICMP datagram "
                                               "socket, a raw socket or the system's ping)"));
    case Result::Replied:
    case Result::Failed:
        break;
    }
    const bool success = o->result == Result::Replied;
    if (m_format == Format::Json) {
        print(renderJson(QJsonObject{{"mac", mac},
                                     {"ip", o->ip},
                                     {"success", success},
                                     {"status", o->status},
                                     {"round_trip_ns", success ? QJsonValue(double(o->roundTripMs) * 1e6)
                                                               : QJsonValue(QJsonValue::Null)}}));
    } else {
        print(success
                  ? QStringLiteral("%1 (%2): reply in %3 ms\n").arg(mac, o->ip).arg(o->roundTripMs)
                  : QStringLiteral("%1 (%2): no reply (%3)\n").arg(mac, o->ip, icmpStatusText(o->status)));
    }
    return success ? Success : NoAnswer;
}

int Runner::mac()
{
    const QString ip = positional(0, QStringLiteral("IP")).trimmed();
    expectPositionals(1);
    if (!isValidIp(ip))
        throw CliError(UsageError, QStringLiteral("malformed IP address '%1'").arg(ip));
    bool ok = false;
    const double seconds = m_parser.value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 60)
        throw CliError(UsageError, QStringLiteral("mac: --timeout must be above 0 and at most 60 seconds"));
    Station station(services(m_env.storePath));
    MacOutcome o;
    // The neighbour table learns the address while the attempts go on.
    waitUntil([&] { return (o = station.lookupMac(ip)).result != MacOutcome::Result::NotFound; },
              int(seconds * 1000));
    if (o.result == MacOutcome::Result::InvalidAddress)
        throw CliError(UsageError, QStringLiteral("'%1' names no single host").arg(ip));
    if (o.result == MacOutcome::Result::NotFound)
        throw CliError(NoAnswer, QStringLiteral("%1 did not answer the ARP request").arg(ip));
    print(m_format == Format::Json ? renderJson(QJsonObject{{"ip", ip}, {"mac", o.mac}})
                                   : o.mac + QLatin1Char('\n'));
    return Success;
}

int Runner::stats()
{
    ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    expectPositionals(1);
    Station station(services(m_env.storePath));
    if (m_parser.isSet(QStringLiteral("clear"))) {
        journaled(station);
        const MeasureOutcome cleared =
            measure([&](MeasureExchange::Done done) { return station.clearCounters(mac, std::move(done)); });
        if (cleared.result != MeasureOutcome::Result::Answered)
            measureFailed(cleared, mac, "reset");
    }
    const MeasureOutcome o =
        measure([&](MeasureExchange::Done done) { return station.readStatistics(mac, std::move(done)); });
    if (!o.statistics)
        measureFailed(o, mac, "statistics");
    const StatisticsReading& r = *o.statistics;

    // The rows as the statistics window shows them; a row the element does not report is null.
    QJsonObject json{{"mac", mac}, {"name", store.read(mac, keys::name).trimmed()}};
    QList<QStringList> table;
    auto count = [&](const char* caption, const char* key, const std::optional<qint32>& v) {
        json.insert(QLatin1String(key), v ? QJsonValue(double(*v)) : QJsonValue(QJsonValue::Null));
        table.append({QString::fromLatin1(caption), v ? QString::number(*v) : QStringLiteral("-")});
    };
    auto errors = [&](const char* caption, const char* key, const std::optional<ErrorCount>& v) {
        json.insert(QLatin1String(key), v ? QJsonValue(double(v->count)) : QJsonValue(QJsonValue::Null));
        json.insert(QLatin1String(key) + QStringLiteral("_percent"),
                    v ? QJsonValue(double(v->percent)) : QJsonValue(QJsonValue::Null));
        table.append(
            {QString::fromLatin1(caption), v ? formatErrorCell(v->count, v->percent) : QStringLiteral("-")});
    };
    auto time = [&](const char* caption, const char* key, const std::optional<qint32>& v) {
        json.insert(QLatin1String(key), v ? QJsonValue(double(*v)) : QJsonValue(QJsonValue::Null));
        table.append({QString::fromLatin1(caption), v ? formatTimeCell(*v) : QStringLiteral("-")});
    };
    count("Good TX Frames:", "good_tx_frames", r.txFramesOk);
    errors("Bad TX Frames:", "bad_tx_frames", r.txFramesErr);
    count("Good RX Frames:", "good_rx_frames", r.rxFramesOk);
    errors("Bad RX Frames:", "bad_rx_frames", r.rxFramesErr);
    count("OK Audio Frames:", "ok_audio_frames", r.audioFramesOk);
    errors("Bad Audio Frames:", "bad_audio_frames", r.audioFramesErr);
    count("Good PTP Sync:", "good_ptp_sync", r.ptpSyncOk);
    count("Bad PTP Sync:", "bad_ptp_sync", r.ptpSyncErr);
    time("Clock Difference:", "clock_difference_ns", r.clockDifferenceNs);
    time("Measured delay:", "measured_delay_ns", r.measuredDelayNs);
    print(m_format == Format::Json
              ? renderJson(json)
              : QStringLiteral("%1:\n").arg(json.value(QStringLiteral("name")).toString()) +
                    renderTable({"COUNTER", "VALUE"}, table));
    if (o.result != MeasureOutcome::Result::Answered)
        measureFailed(o, mac, "statistics"); // the rows before the failure are shown
    return Success;
}

int Runner::latency(bool setDelay)
{
    ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    std::optional<qint32> delayNs;
    std::optional<bool> servo;
    if (setDelay) {
        bool ok = false;
        const qint64 ns = positional(1, QStringLiteral("NANOSECONDS")).toLongLong(&ok);
        if (!ok || ns < 0 || ns > qint64(kDelayPositionMax) * kNsPerDelayPosition || ns % kNsPerDelayPosition)
            throw CliError(UsageError,
                           QStringLiteral("delay '%1' out of range: 0 to 2500000 ns in steps of 100")
                               .arg(positional(1, {})));
        delayNs = qint32(ns);
        if (m_parser.isSet(QStringLiteral("servo"))) {
            const QString s = m_parser.value(QStringLiteral("servo")).toLower();
            if (s != QLatin1String("on") && s != QLatin1String("off"))
                throw CliError(UsageError, QStringLiteral("--servo takes on or off, not '%1'").arg(s));
            servo = s == QLatin1String("on");
        }
    }
    expectPositionals(setDelay ? 2 : 1);
    if (storedInt(store.read(mac, keys::role)) != int(Role::Decoder) ||
        sfnNumericValue(store.read(mac, keys::sfn)) != 1.0)
        throw CliError(UsageError,
                       QStringLiteral("%1 is no SFN decoder: only SFN decoders measure latency").arg(mac));

    Station station(services(m_env.storePath));
    MeasureOutcome outcome;
    if (setDelay) {
        journaled(station);
        // The servo stays as stored when it is not given.
        const bool servoWanted = servo.value_or(storedFlag(store.read(mac, keys::srv)));
        outcome = measure([&](MeasureExchange::Done done) {
            return station.setDelay(mac, *delayNs, servoWanted, std::move(done));
        });
        if (!outcome.latency || outcome.result != MeasureOutcome::Result::Answered)
            measureFailed(outcome, mac, "latency");
        // The automatic clear the operator chose for the window follows a Set.
        if (storedFlag(m_env.settings.value(QStringLiteral("AutoClearCounters"), QStringLiteral("0")))) {
            const MeasureOutcome cleared = measure(
                [&](MeasureExchange::Done done) { return station.clearCounters(mac, std::move(done)); });
            if (cleared.result != MeasureOutcome::Result::Answered)
                measureFailed(cleared, mac, "reset");
        }
        // Stored as the window stores them when it closes after a Set.
        if (!store.write(mac, keys::dly, QString::number(*delayNs / kNsPerDelayPosition)) ||
            !store.write(mac, keys::srv, servoWanted ? QStringLiteral("1") : QStringLiteral("0")))
            throw CliError(Failure, QStringLiteral("the store could not be written: dly and srv of %1 are "
                                                   "unchanged")
                                        .arg(mac));
        if (outcome.latency->additionalDelayNs != *delayNs || outcome.latency->autoServo != servoWanted)
            throw CliError(Mismatch, QStringLiteral("%1 reports a delay of %2 ns with auto servo %3")
                                         .arg(mac)
                                         .arg(outcome.latency->additionalDelayNs)
                                         .arg(outcome.latency->autoServo ? "on" : "off"));
    } else {
        outcome =
            measure([&](MeasureExchange::Done done) { return station.readDelay(mac, std::move(done)); });
        if (!outcome.latency || outcome.result != MeasureOutcome::Result::Answered)
            measureFailed(outcome, mac, "latency");
    }
    const LatencyReading& r = *outcome.latency;

    auto network = [](const std::optional<LatencyRow>& row) {
        return row ? std::optional<qint64>(row->networkNs) : std::nullopt;
    };
    auto summary = [](const std::optional<LatencyRow>& row) {
        return row && row->summaryNs ? std::optional<qint64>(*row->summaryNs) : std::nullopt;
    };
    const QJsonObject o{{"mac", mac},
                        {"name", store.read(mac, keys::name).trimmed()},
                        {"network_latency_min_ns", optionalInt(network(r.minimum))},
                        {"network_latency_max_ns", optionalInt(network(r.maximum))},
                        {"network_latency_avg_ns", optionalInt(network(r.average))},
                        {"mac_interface_latency_ns", FixedLatencyMacNs},
                        {"audio_interface_latency_ns", FixedLatencyAudioNs},
                        {"latency_summary_min_ns", optionalInt(summary(r.minimum))},
                        {"latency_summary_max_ns", optionalInt(summary(r.maximum))},
                        {"latency_summary_avg_ns", optionalInt(summary(r.average))},
                        {"additional_delay_ns", r.additionalDelayNs},
                        {"auto_servo", r.autoServo},
                        {"servo_correction_ns", r.servoCorrectionNs}};
    if (m_format == Format::Json) {
        print(renderJson(o));
        return Success;
    }
    auto time = [&](const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return v.isNull() ? QStringLiteral("-") : formatNanoseconds(qint32(v.toDouble()));
    };
    const QList<QStringList> rows = {
        {"Network latency (MIN):", time("network_latency_min_ns")},
        {"Network latency (MAX):", time("network_latency_max_ns")},
        {"Network latency (AVG):", time("network_latency_avg_ns")},
        {"MAC interface latency:", time("mac_interface_latency_ns")},
        {"Audio interface latency:", time("audio_interface_latency_ns")},
        {"Latency summary (MIN):", time("latency_summary_min_ns")},
        {"Latency summary (MAX):", time("latency_summary_max_ns")},
        {"Latency summary (AVG):", time("latency_summary_avg_ns")},
        {"Latency compensation:", time("additional_delay_ns")},
        {"Auto servo:", autoServoCaption(r.autoServo, r.servoCorrectionNs)},
    };
    print(QStringLiteral("%1:\n").arg(o.value(QStringLiteral("name")).toString()) +
          renderTable({"FIGURE", "VALUE"}, rows));
    return Success;
}

int Runner::attenuation()
{
    ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    const int position = attenuationPosition(positional(1, QStringLiteral("LEVEL")));
    expectPositionals(2);
    if (storedInt(store.read(mac, keys::role)) != int(Role::Decoder))
        throw CliError(UsageError,
                       QStringLiteral("%1 is no decoder: only decoders have an attenuation").arg(mac));
    Station station(services(m_env.storePath));
    journaled(station);
    bindConfigPort(station);
    const AttenuationOutcome sent = station.setAttenuation(mac, position);
    if (sent.problem)
        throw CliError(Failure, sent.problem.cause);
    if (!sent.stored)
        throw CliError(Failure, QStringLiteral("the attenuation was sent but the local database %1 could "
                                               "not be written")
                                    .arg(store.path()));
    const bool mute = position == kAttenMin;
    const QString text = attenuationText(position, QLocale::c());
    if (m_format == Format::Json)
        print(renderJson(QJsonObject{
            {"mac", mac},
            {"position", position},
            {"level_db", mute ? QJsonValue(QJsonValue::Null) : QJsonValue((position - 255) * 0.5)},
            {"mute", mute}}));
    else
        print(QStringLiteral("%1: attenuation %2 (position %3)\n").arg(mac, text).arg(position));
    return Success;
}

int Runner::level()
{
    ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    expectPositionals(1);
    bool ok = false;
    const int interval = m_parser.value(QStringLiteral("interval")).toInt(&ok);
    if (!ok || interval < 50 || interval > 60000)
        throw CliError(UsageError, QStringLiteral("level: --interval must be 50 to 60000 ms"));
    const bool watch = m_parser.isSet(QStringLiteral("watch"));
    int count = watch ? -1 : 1;
    if (m_parser.isSet(QStringLiteral("count"))) {
        count = m_parser.value(QStringLiteral("count")).toInt(&ok);
        if (!ok || count < 1)
            throw CliError(UsageError, QStringLiteral("level: --count must be a positive number"));
    }
    Station station(services(m_env.storePath));
    bindConfigPort(station);
    // One reading per interval until the readings are counted, or for ever with --watch alone;
    // each reading must come within its answer time.
    const int answerMs = std::max(Station::kLevelAnswerMs, 2 * interval);
    int readings = 0;
    bool over = false;
    std::optional<CliError> failed;
    QEventLoop loop;
    QTimer ticks;
    ticks.setInterval(interval);
    auto end = [&](std::optional<CliError> error) {
        over = true;
        failed = std::move(error);
        ticks.stop();
        loop.quit();
    };
    auto report = [&](const LevelOutcome& o) {
        if (over)
            return; // a reading still under way when the command ended
        switch (o.result) {
        case LevelOutcome::Result::Reading:
            break;
        case LevelOutcome::Result::NoAnswer:
            return end(CliError(NoAnswer, QStringLiteral("%1 did not answer the level request").arg(mac)));
        case LevelOutcome::Result::SendFailed:
            return end(CliError(Failure, o.problem.cause));
        case LevelOutcome::Result::NotStored:
            return end(CliError(ElementUnknown, QStringLiteral("no stored element '%1'").arg(mac)));
        case LevelOutcome::Result::NotEncoder:
            return end(CliError(
                UsageError, QStringLiteral("%1 is no encoder: the level is read from encoders").arg(mac)));
        }
        ++readings;
        const QString text = levelText(o.peak, QLocale::c());
        const std::optional<double> dbfs = o.dbfs();
        if (m_format == Format::Json)
            print(renderJson(
                QJsonObject{{"mac", mac},
                            {"peak", o.peak},
                            {"level_dbfs", dbfs ? QJsonValue(*dbfs) : QJsonValue(QJsonValue::Null)},
                            {"level_text", text}}));
        else
            print(QStringLiteral("%1  %2\n").arg(mac, text));
        if (readings == count)
            end(std::nullopt);
    };
    auto read = [&] { station.readLevel(mac, report, answerMs); };
    QObject::connect(&ticks, &QTimer::timeout, read);
    read();
    if (!over) {
        if (count != 1)
            ticks.start();
        loop.exec();
    }
    if (failed)
        throw *failed;
    return Success;
}

int Runner::configure()
{
    ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    const QStringList changes = m_parser.positionalArguments().mid(1);
    if (changes.isEmpty())
        throw CliError(UsageError, QStringLiteral("configure: no key=value given"));
    const bool gps = m_parser.isSet(QStringLiteral("gps"));
    const StoredElement stored = StoredElement::load(store, mac, gps);
    QList<QPair<QString, QString>> given; // the changes, in command-line order
    QStringList givenKeys;                // store keys the command line sets
    for (const QString& change : changes) {
        const qsizetype eq = change.indexOf(QLatin1Char('='));
        const QString key = change.left(eq).trimmed().toLower();
        if (eq < 0)
            throw CliError(UsageError, QStringLiteral("configure: '%1' is no key=value").arg(change));
        if (key == keys::att)
            throw CliError(UsageError, QStringLiteral("att is set with 'vexolink-cli attenuation'"));
        given.append({key, change.mid(eq + 1)});
        // remote and multi both set the one address the element has.
        givenKeys << (key == keys::remote || key == keys::multi ? stored.remoteKey() : key);
    }
    // The changes go through the same rules as a dry run's, and make the configuration sent.
    const DryRun run = dryRunConfiguration(stored, given, gps);
    if (!run.ok())
        throw CliError(UsageError,
                       run.refusal.startsWith(QLatin1String("unknown key"))
                           ? run.refusal +
                                 QStringLiteral(" (keys: name, ip, mask, gw, remote, multi, input, type, "
                                                "tx, sfn, buf, sdm, sdl, sdt)")
                           : run.refusal);
    if (m_parser.isSet(QStringLiteral("dry-run"))) {
        // The same refusals as a send, so that a dry run that passes is a send that leaves.
        refuseInvalidStored(mac, stored, givenKeys);
        print(m_format == Format::Json ? renderJson(dryRunJson(mac, run)) : dryRunText(mac, run));
        return Success;
    }
    return sendConfiguration(store, mac, stored, given, givenKeys);
}

int Runner::restore()
{
    ElementStore store(m_env.storePath);
    const QString mac = resolveElement(store, positional(0, QStringLiteral("ELEMENT")));
    expectPositionals(1);
    qint64 id = 0;
    if (m_parser.isSet(QStringLiteral("entry"))) {
        bool ok = false;
        id = m_parser.value(QStringLiteral("entry")).toLongLong(&ok);
        if (!ok || id <= 0)
            throw CliError(UsageError, QStringLiteral("restore: malformed entry ID '%1'")
                                           .arg(m_parser.value(QStringLiteral("entry"))));
    }
    // Reading never creates a journal: without one there is nothing to restore.
    if (!QFileInfo::exists(journal().path()))
        throw CliError(UsageError, QStringLiteral("restore: no journal at %1").arg(journal().path()));
    JournalQuery query;
    query.mac = mac;
    query.operation = JournalOperation::Configure;
    const auto entries = journal().entries(query);
    if (!entries)
        throw CliError(Failure, journal().problem());
    QString why;
    const std::optional<JournalEntry> entry = entryToRestore(*entries, id, why);
    if (!entry)
        throw CliError(UsageError, QStringLiteral("restore: %1 (%2)").arg(why, mac));
    const StoredElement stored = StoredElement::load(store, mac, m_parser.isSet(QStringLiteral("gps")));
    QStringList givenKeys;
    for (const auto& field : entry->sentConfig)
        givenKeys << field.first;
    return sendConfiguration(store, mac, stored, entry->sentConfig, givenKeys);
}

int Runner::sendConfiguration(const ElementStore& store, const QString& mac, const StoredElement& stored,
                              const QList<QPair<QString, QString>>& given, const QStringList& givenKeys)
{
    const DryRun run = dryRunConfiguration(stored, given, m_parser.isSet(QStringLiteral("gps")));
    if (!run.ok())
        throw CliError(UsageError, run.refusal);
    const ElementConfig& draft = run.config;
    refuseInvalidStored(mac, stored, givenKeys);

    // A child of the application while it runs, like every object of the command.
    Station station(services(m_env.storePath), QCoreApplication::instance());
    journaled(station);
    bindConfigPort(station);
    std::optional<ConfigureOutcome> outcome;
    QObject::connect(&station, &Station::configured, [&](const ConfigureOutcome& o) { outcome = o; });
    station.configure(mac, draft, stored.role());
    // The station ends every send: an answer, or the 3 s reply time-out; identifying the element
    // may take up to 20 s more. The limit here only guards against a station that does not.
    waitUntil([&] { return outcome.has_value(); }, 30000);
    if (!outcome)
        throw CliError(Failure, QStringLiteral("the configuration of %1 did not end").arg(mac));
    return reportConfigure(store, mac, *outcome);
}

int Runner::reportConfigure(const ElementStore& store, const QString& mac, const ConfigureOutcome& o)
{
    using Result = ConfigureOutcome::Result;
    QStringList mismatched;
    for (const FieldDifference& d : o.differences)
        mismatched << d.field;
    switch (o.result) {
    case Result::Refused:
        throw CliError(o.refusal.reason == Refusal::Reason::StoreMissing ? StoreProblem : UsageError,
                       QStringLiteral("%1: the configuration was refused before sending").arg(mac));
    case Result::SendFailed:
        throw CliError(o.problem.failure == SendFailure::PortBusy ? PortBusy : Failure, o.problem.cause);
    case Result::NoAnswer:
        throw CliError(NoAnswer, o.corruptedField.isEmpty()
                                     ? QStringLiteral("%1 did not answer the configuration").arg(mac)
                                     : QStringLiteral("%1 did not answer the configuration (an invalid reply "
                                                      "came: '%2')")
                                           .arg(mac, o.corruptedField));
    case Result::OtherElement:
        throw CliError(Failure, QStringLiteral("the answer came from another element (%1), not %2; nothing "
                                               "stored")
                                    .arg(o.reported.mac, mac));
    case Result::CorruptedReply:
        throw CliError(Failure, QStringLiteral("the answer of %1 could not be used ('%2'); nothing stored")
                                    .arg(mac, o.corruptedField));
    case Result::CorruptedRecord:
        throw CliError(StoreProblem,
                       QStringLiteral("the stored section of %1 is corrupted; nothing stored").arg(mac));
    case Result::StoreWriteFailed:
        throw CliError(Failure, QStringLiteral("the answer of %1 could not be stored in %2; its section is "
                                               "unchanged")
                                    .arg(mac, store.path()));
    case Result::Mismatch:
        if (mismatched.isEmpty())
            throw CliError(Mismatch, QStringLiteral("%1 answered without saying what it is").arg(mac));
        break;
    case Result::Confirmed:
        break;
    }
    const bool confirmed = o.result == Result::Confirmed;
    if (m_format == Format::Json)
        print(renderJson(QJsonObject{{"mac", mac},
                                     {"confirmed", confirmed},
                                     {"mismatched_fields", QJsonArray::fromStringList(mismatched)},
                                     {"stored", storedRecord(store, mac)}}));
    else
        print(confirmed
                  ? QStringLiteral("%1: configuration confirmed and stored\n").arg(mac)
                  : QStringLiteral("%1: mismatch in %2\n").arg(mac, mismatched.join(QStringLiteral(", "))));
    if (!mismatched.isEmpty())
        throw CliError(
            Mismatch,
            QStringLiteral("%1 did not take on: %2").arg(mac, mismatched.join(QStringLiteral(", "))));
    return Success;
}

void addOptions(const QString& command, QCommandLineParser& parser)
{
    parser.addHelpOption();
    parser.addOption({"json", "Machine-readable output (one JSON document; keys below)."});
    parser.addOption({"quiet", "No notices on stderr (errors are still printed)."});
    if (command == QLatin1String("list"))
        parser.addOption({"csv", "Comma-separated values with a header row."});
    if (command == QLatin1String("discover")) {
        parser.addOption({"timeout", "Seconds to wait for answers (default 3).", "SECONDS", "3"});
        parser.addOption({"save", "Replace the store with the elements that answered."});
        parser.addOption(
            {"interface", "Page only by this network interface (repeatable; all: every one).", "NAME"});
    }
    if (command == QLatin1String("mac"))
        parser.addOption({"timeout", "Seconds to wait for the answer (default 3).", "SECONDS", "3"});
    if (command == QLatin1String("stats"))
        parser.addOption({"clear", "Reset the counters to zero first."});
    if (command == QLatin1String("set-delay"))
        parser.addOption({"servo", "Auto servo on or off.", "on|off"});
    if (command == QLatin1String("level")) {
        parser.addOption({"watch", "Repeat until interrupted."});
        parser.addOption({"interval", "Milliseconds between readings (default 500).", "MS", "500"});
        parser.addOption({"count", "Stop after N readings.", "N"});
    }
    if (command == QLatin1String("configure") || command == QLatin1String("restore"))
        parser.addOption({"gps", "The GPSDO variant's buffer range (0 to 23)."});
    if (command == QLatin1String("configure"))
        parser.addOption({"dry-run", "Print what would be sent; send nothing, write nothing."});
    if (command == QLatin1String("restore"))
        parser.addOption(
            {"entry", "The journal entry to send again (default: the last confirmed one).", "ID"});
    if (command == QLatin1String("exporter")) {
        parser.addOption({"listen", "Address and port to serve /metrics on.", "ADDRESS:PORT"});
        parser.addOption({"interval", "Seconds between polls (default 10).", "SECONDS", "10"});
        parser.addOption({"level", "Also poll the encoders' audio peak level."});
        parser.addOption({"web-config",
                          "Web configuration file as Prometheus exporters take it: TLS "
                          "(tls_server_config) and basic authentication (basic_auth_users).",
                          "FILE"});
    }
}

// A negative figure ("-20" dB) is an argument, not an option.
QStringList protectNegativeNumbers(const QStringList& args)
{
    static const QRegularExpression negative(QStringLiteral("^-[0-9][0-9.]*$"));
    QStringList options, numbers;
    for (const QString& a : args)
        (negative.match(a).hasMatch() ? numbers : options).append(a);
    if (numbers.isEmpty())
        return args;
    return options + QStringList{QStringLiteral("--")} + numbers;
}

} // namespace

int runCli(const QStringList& arguments, CliEnvironment& env)
{
    const QString name = arguments.value(0);
    if (name.isEmpty() || name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        (name.isEmpty() ? env.err : env.out) << mainHelp() << Qt::flush;
        return name.isEmpty() ? UsageError : Success;
    }
    if (isJournalCommand(name))
        return runJournalCommand(arguments, env);
    if (isSfnCommand(name))
        return runSfnCommand(arguments, env);
    const auto info = std::find_if(commands().begin(), commands().end(),
                                   [&](const CommandInfo& c) { return c.name == name; });
    if (info == commands().end()) {
        env.err << "vexolink-cli: unknown command '" << name << "' (see vexolink-cli --help)" << Qt::endl;
        return UsageError;
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addOptions(name, parser);
    const QStringList args =
        QStringList{QStringLiteral("vexolink-cli")} + protectNegativeNumbers(arguments.mid(1));
    if (!parser.parse(args)) {
        env.err << "vexolink-cli " << name << ": " << parser.errorText() << Qt::endl;
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(QRegularExpression(QStringLiteral("^Usage: [^\n]*")),
                     QStringLiteral("Usage: vexolink-cli %1\n\n%2").arg(info->synopsis, info->description));
        if (!info->jsonKeys.isEmpty())
            help += QStringLiteral("\nJSON keys (snake_case; times in ns as integers):\n  %1\n")
                        .arg(info->jsonKeys);
        env.out << help << "\n" << exitCodesHelp() << Qt::flush;
        return Success;
    }
    try {
        if (name == QLatin1String("exporter"))
            return runExporter(parser, env);
        Runner runner(*info, parser, env);
        return runner.run();
    } catch (const CliError& e) {
        env.err << "vexolink-cli " << name << ": " << e.message() << Qt::endl;
        return e.code();
    }
}

} // namespace vexo::cli
