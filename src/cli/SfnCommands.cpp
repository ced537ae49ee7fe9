#include "SfnCommands.h"

#include "CliSupport.h"
#include "Commands.h"
#include "ConfigureSupport.h"

#include "core/SfnOverview.h"
#include "core/Station.h"
#include "journal/Journal.h"
#include "platform/StorePath.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

namespace vexo::cli {

namespace {

const QString kTableSynopsis = QStringLiteral("sfn [--json|--csv]");
const QString kAlignSynopsis = QStringLiteral("sfn align [--target NS] [--apply] [--json]");

QJsonValue optionalNs(const std::optional<qint64>& v)
{
    return v ? QJsonValue(double(*v)) : QJsonValue(QJsonValue::Null);
}

QString timeText(const std::optional<qint64>& v)
{
    return v ? formatNanoseconds(*v) : QStringLiteral("-");
}

// The JSON name of a state text: "no answer" -> "no_answer".
QString jsonState(const QString& text)
{
    return QString(text).replace(QLatin1Char(' '), QLatin1Char('_'));
}

class SfnRunner
{
public:
    SfnRunner(QCommandLineParser& parser, CliEnvironment& env)
        : m_parser(parser), m_env(env), m_boxes(env.err),
          m_station(StationServices{m_boxes, env.settings, m_end, env.arp, env.icmp, env.storePath,
                                    env.bindAddress}),
          m_overview(m_station), m_journal(resolveJournalPath(env.storePath), QStringLiteral("command-line"))
    {
    }
    ~SfnRunner()
    {
        if (m_holding)
            m_station.measurePort().release();
    }

    int table();
    int align();

private:
    void print(const QString& text) { m_env.out << text << Qt::flush; }
    bool json() const { return m_parser.isSet(QStringLiteral("json")); }
    // Every SFN decoder of the store asked once.
    void pollOnce();

    QCommandLineParser& m_parser;
    CliEnvironment& m_env;
    ConsoleBoxes m_boxes;
    CommandEnd m_end;
    Station m_station;
    SfnOverview m_overview;
    Journal m_journal;
    bool m_holding = false;
};

void SfnRunner::pollOnce()
{
    if (!m_station.store().exists())
        throw CliError(StoreProblem, QStringLiteral("no store at %1").arg(m_station.store().path()));
    // Held for the whole command, so that a window on this host is told at once, not per decoder.
    if (!m_station.measurePort().acquire())
        throw CliError(PortBusy,
                       QStringLiteral("UDP port 2978 is in use on this host: vexolink-nms (its "
                                      "statistics or SFN window) holds it; close it and try again"));
    m_holding = true;
    m_overview.reload();
    QEventLoop loop;
    QObject::connect(&m_overview, &SfnOverview::pollFinished, &loop, &QEventLoop::quit);
    m_overview.pollNow();
    if (m_overview.isPolling())
        loop.exec();
}

int SfnRunner::table()
{
    pollOnce();
    const QStringList header = {"NAME",        "MAC",        "IP",         "NETWORK AVG", "NETWORK MIN",
                                "NETWORK MAX", "ADDITIONAL", "SERVO",      "SUMMARY AVG", "SUMMARY MIN",
                                "SUMMARY MAX", "STATE",      "LAST UPDATE"};
    QList<QStringList> rows;
    QJsonArray array;
    constexpr qint64 fixed = qint64(FixedLatencyMacNs) + FixedLatencyAudioNs;
    for (const SfnDecoderStatus& d : m_overview.decoders()) {
        const std::optional<LatencyReading>& r = d.reading;
        auto network = [&](const std::optional<LatencyRow> LatencyReading::*row) {
            return r && (*r.*row) ? std::optional<qint64>((*r.*row)->networkNs) : std::nullopt;
        };
        auto summary = [&](const std::optional<LatencyRow> LatencyReading::*row) {
            const auto n = network(row);
            return n ? std::optional<qint64>(*n + fixed) : std::nullopt;
        };
        const auto avg = &LatencyReading::average, min = &LatencyReading::minimum,
                   max = &LatencyReading::maximum;
        const QString updated =
            d.readingTime.isValid() ? d.readingTime.toUTC().toString(Qt::ISODateWithMs) : QString();
        array.append(QJsonObject{
            {"mac", d.mac},
            {"name", d.name},
            {"ip", d.ip},
            {"network_latency_avg_ns", optionalNs(network(avg))},
            {"network_latency_min_ns", optionalNs(network(min))},
            {"network_latency_max_ns", optionalNs(network(max))},
            {"additional_delay_ns", r ? QJsonValue(r->additionalDelayNs) : QJsonValue(QJsonValue::Null)},
            {"auto_servo", r ? QJsonValue(r->autoServo) : QJsonValue(QJsonValue::Null)},
            {"servo_correction_ns", r ? QJsonValue(r->servoCorrectionNs) : QJsonValue(QJsonValue::Null)},
            {"latency_summary_avg_ns", optionalNs(summary(avg))},
            {"latency_summary_min_ns", optionalNs(summary(min))},
            {"latency_summary_max_ns", optionalNs(summary(max))},
            {"state", sfnStateName(d.state)},
            {"updated", updated.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(updated)}});
        const bool csv = m_parser.isSet(QStringLiteral("csv"));
        auto cell = [&](const std::optional<qint64>& v) {
            return csv ? (v ? QString::number(*v) : QString()) : timeText(v);
        };
        rows.append({d.name, d.mac, d.ip, cell(network(avg)), cell(network(min)), cell(network(max)),
                     r ? cell(r->additionalDelayNs) : cell({}), r ? sfnServoText(*r) : QStringLiteral("-"),
                     cell(summary(avg)), cell(summary(min)), cell(summary(max)), sfnStateText(d),
                     d.readingTime.isValid()
                         ? d.readingTime.toLocalTime().toString(QStringLiteral("HH:mm:ss"))
                         : QStringLiteral("-")});
        if (csv)
            rows.last()[12] = updated;
    }
    if (json())
        print(renderJson(array));
    else if (m_parser.isSet(QStringLiteral("csv")))
        print(renderCsv(header, rows));
    else
        print(renderTable(header, rows));
    return Success;
}

int SfnRunner::align()
{
    std::optional<qint64> wanted;
    if (m_parser.isSet(QStringLiteral("target"))) {
        bool ok = false;
        wanted = m_parser.value(QStringLiteral("target")).toLongLong(&ok);
        if (!ok)
            throw CliError(UsageError, QStringLiteral("--target takes nanoseconds, not '%1'")
                                           .arg(m_parser.value(QStringLiteral("target"))));
    }
    const bool apply = m_parser.isSet(QStringLiteral("apply"));
    pollOnce();
    const QList<SfnDecoderReading> readings = m_overview.planReadings();
    const std::optional<qint64> lowest = defaultSfnTargetNs(readings);
    // The target may only be raised: below the default some decoder could not reach it.
    if (wanted && lowest && *wanted < *lowest)
        throw CliError(UsageError,
                       QStringLiteral("--target %1 is below the highest decoder's base latency: at "
                                      "least %2 ns")
                           .arg(*wanted)
                           .arg(*lowest));
    const SfnPlan plan = planSfnAlignment(readings, wanted.value_or(lowest.value_or(0)));

    QList<SfnApplyRow> applied;
    bool storeWritten = true;
    if (apply && lowest) {
        journalChanges(m_station, m_journal, m_env.err);
        SfnAlignment alignment(m_station, plan);
        QEventLoop loop;
        QObject::connect(&alignment, &SfnAlignment::finished, &loop, &QEventLoop::quit);
        alignment.start();
        if (!alignment.isFinished())
            loop.exec();
        applied = alignment.rows();
        storeWritten = alignment.storeWritten();
    }

    bool silent = !lowest, differs = false;
    QList<QStringList> rows;
    QJsonArray array;
    for (int i = 0; i < plan.rows.size(); ++i) {
        const SfnPlanRow& p = plan.rows[i];
        const SfnDecoderStatus& d = m_overview.decoders()[i];
        QString state = sfnPlanStatusText(p.status);
        if (const auto a = std::find_if(applied.cbegin(), applied.cend(),
                                        [&](const SfnApplyRow& row) { return row.mac == p.mac; });
            a != applied.cend()) {
            state = sfnApplyResultText(a->result);
            differs |= a->result == SfnApplyRow::Result::Mismatch;
            silent |= a->result == SfnApplyRow::Result::NoAnswer || a->result == SfnApplyRow::Result::Failed;
        }
        silent |= p.status == SfnPlanRow::Status::NoAnswer;
        // A decoder the target is out of reach for keeps a delay that does not align it.
        differs |= apply && p.status == SfnPlanRow::Status::OutOfRange;
        const bool answered = p.status != SfnPlanRow::Status::NoAnswer;
        const bool planned = p.status == SfnPlanRow::Status::Planned;
        array.append(QJsonObject{
            {"mac", p.mac},
            {"name", d.name},
            {"base_ns", answered ? QJsonValue(double(p.baseNs)) : QJsonValue(QJsonValue::Null)},
            {"additional_delay_ns", answered ? QJsonValue(p.currentDelayNs) : QJsonValue(QJsonValue::Null)},
            {"planned_additional_delay_ns",
             planned ? QJsonValue(p.plannedDelayNs) : QJsonValue(QJsonValue::Null)},
            {"position", planned ? QJsonValue(p.position) : QJsonValue(QJsonValue::Null)},
            {"expected_latency_summary_ns",
             planned ? QJsonValue(double(p.expectedSummaryNs)) : QJsonValue(QJsonValue::Null)},
            {"state", jsonState(state)}});
        rows.append(
            {d.name, p.mac, answered ? formatNanoseconds(p.baseNs) : QStringLiteral("-"),
             answered ? formatNanoseconds(p.currentDelayNs) : QStringLiteral("-"),
             planned ? formatNanoseconds(p.plannedDelayNs) : QStringLiteral("-"),
             planned ? formatNanoseconds(qint64(p.plannedDelayNs) - p.currentDelayNs) : QStringLiteral("-"),
             planned ? formatNanoseconds(p.expectedSummaryNs) : QStringLiteral("-"), state});
    }
    if (json()) {
        print(renderJson(QJsonObject{{"target_ns", lowest ? QJsonValue(double(plan.targetNs)) : QJsonValue()},
                                     {"applied", apply && lowest.has_value()},
                                     {"decoders", array}}));
    } else {
        print((lowest ? QStringLiteral("Target latency summary: %1 (%2 ns)\n")
                            .arg(formatNanoseconds(plan.targetNs))
                            .arg(plan.targetNs)
                      : QStringLiteral("No SFN decoder answered: nothing to align.\n")) +
              renderTable(
                  {"NAME", "MAC", "BASE", "ADDITIONAL", "PLANNED", "CHANGE", "EXPECTED SUMMARY", "STATE"},
                  rows));
    }
    if (!apply)
        return Success;
    if (!storeWritten)
        throw CliError(Failure, QStringLiteral("the store could not be written: dly and srv are unchanged"));
    return differs ? Mismatch : silent ? NoAnswer : Success;
}

} // namespace

bool isSfnCommand(const QString& name)
{
    return name == QLatin1String("sfn");
}

QString sfnCommandsHelp()
{
    return QStringLiteral("  %1\n  %2\n").arg(kTableSynopsis, kAlignSynopsis);
}

int runSfnCommand(const QStringList& arguments, CliEnvironment& env)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addOption({"json", "Machine-readable output (one JSON document; keys below)."});
    parser.addOption({"quiet", "Accepted as by every command."});
    parser.addOption({"csv", "sfn: comma-separated values with a header row (times in ns)."});
    parser.addOption({"target",
                      "align: the total latency to align to, in ns (default: the highest base "
                      "latency rounded up to 100 ns; it may only be raised).",
                      "NS"});
    parser.addOption({"apply", "align: send the plan to the decoders and check that they took it on."});
    if (!parser.parse(QStringList{QStringLiteral("vexolink-cli")} + arguments.mid(1))) {
        env.err << "vexolink-cli sfn: " << parser.errorText() << Qt::endl;
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(
            QRegularExpression(QStringLiteral("^Usage: [^\n]*")),
            QStringLiteral("Usage: vexolink-cli %1\n       vexolink-cli %2\n\n"
                           "Every SFN decoder of the store (role decoder, sfn 1) side by side, and the "
                           "additional delay\nthat brings each one's latency summary to a common "
                           "target. Without --apply only \"GetDel\"\nis sent. --apply exits 4 when "
                           "some SFN decoder did not answer and 5 when some did not\ntake on its "
                           "delay (5 wins).")
                .arg(kTableSynopsis, kAlignSynopsis));
        env.out
            << help
            << "\nJSON keys:\n  sfn: array of {mac, name, ip, network_latency_{avg,min,max}_ns,\n"
               "    additional_delay_ns, auto_servo, servo_correction_ns, latency_summary_{avg,min,max}_ns,\n"
               "    state (answering, no_answer, record_refused), updated}\n"
               "  sfn align: {target_ns, applied, decoders: [{mac, name, base_ns, additional_delay_ns,\n"
               "    planned_additional_delay_ns, position, expected_latency_summary_ns, state (planned,\n"
               "    out_of_range, no_answer, confirmed, mismatch, failed)}]}\n\n"
            << exitCodesHelp() << Qt::flush;
        return Success;
    }
    const QStringList positional = parser.positionalArguments();
    try {
        const bool align = positional.value(0) == QLatin1String("align");
        if (positional.size() > (align ? 1 : 0))
            throw CliError(UsageError,
                           QStringLiteral("unexpected argument '%1'").arg(positional.value(align ? 1 : 0)));
        if (!align && (parser.isSet(QStringLiteral("target")) || parser.isSet(QStringLiteral("apply"))))
            throw CliError(UsageError, QStringLiteral("--target and --apply belong to sfn align"));
        if (parser.isSet(QStringLiteral("csv")) && (align || parser.isSet(QStringLiteral("json"))))
            throw CliError(UsageError, QStringLiteral("--csv is for the table alone"));
        SfnRunner runner(parser, env);
        return align ? runner.align() : runner.table();
    } catch (const CliError& e) {
        env.err << "vexolink-cli sfn: " << e.message() << Qt::endl;
        return e.code();
    }
}

} // namespace vexo::cli
