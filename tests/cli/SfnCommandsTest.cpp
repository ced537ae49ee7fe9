// vexolink-cli sfn and sfn align in this process, against two stand-in SFN decoders on loopback:
// the table and the plan against hand values, what the dry run and --apply send, the store
// afterwards, and the exit codes.
#include "../measure/MeasureFixture.h"

#include "cli/CliSupport.h"
#include "cli/Commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

using namespace vexo;

namespace {

struct SfnCommands : TwoSfnDecoders
{
    int run(const QStringList& args)
    {
        out.clear(), err.clear();
        element.received.clear(), second.received.clear();
        QTextStream o(&out), e(&err);
        cli::CliEnvironment env{o, e, settings, arp, icmp, path, QHostAddress::LocalHost};
        return cli::runCli(args, env);
    }
    QJsonValue json() const { return QJsonDocument::fromJson(out.toUtf8()).object()["decoders"]; }

    FakeArp arp;
    FakeIcmp icmp;
    QString out, err;
};

} // namespace

TEST_F(SfnCommands, TheTableSumsEachDecoderAsTheSfnWindowDoes)
{
    ASSERT_EQ(run({"sfn", "--json"}), cli::Success) << err.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(rows.size(), 2);
    // network = field + A + V (V only with the servo on); summary = network + 396,098
    const QJsonObject a = rows[0].toObject(), b = rows[1].toObject();
    const struct
    {
        const char* key;
        QJsonValue a, b;
    } cells[] = {
        {"mac", kMac, kMacB},
        {"name", "STUDIO A", "STUDIO B"},
        {"ip", "127.0.0.2", "127.0.0.3"},
        {"network_latency_avg_ns", 1003800, 800000},
        {"network_latency_min_ns", 993800, 790000},
        {"network_latency_max_ns", 1013800, 810000},
        {"latency_summary_avg_ns", 1399898, 1196098},
        {"latency_summary_min_ns", 1389898, 1186098},
        {"latency_summary_max_ns", 1409898, 1206098},
        {"additional_delay_ns", 5000, 0},
        {"auto_servo", true, false},
        {"servo_correction_ns", -1200, 0},
        {"state", "answering", "answering"},
    };
    for (const auto& c : cells) {
        EXPECT_EQ(a[c.key], c.a) << c.key;
        EXPECT_EQ(b[c.key], c.b) << c.key;
    }
    // AND the CSV gives the same in ns, the text table in the SFN window's time text (--quiet and
    // single-dash words are accepted as by every command)
    ASSERT_EQ(run({"sfn", "-csv", "--quiet"}), cli::Success) << err.toStdString();
    EXPECT_TRUE(
        out.contains("\nSTUDIO A,00:50:C2:A1:B2:C3,127.0.0.2,1003800,993800,1013800,5000,on (-1200 nS),"
                     "1399898,1389898,1409898,answering,"))
        << out.toStdString();
    ASSERT_EQ(run({"sfn"}), cli::Success);
    EXPECT_TRUE(out.contains("1 mS, 399 uS, 898 nS")) << out.toStdString();
    for (const QByteArray& request : element.received + second.received)
        EXPECT_EQ(request, "GetDel");
}

TEST_F(SfnCommands, TheDryRunOnlyReadsAndApplyEndsWithTheWorstOutcome)
{
    // base A = 1,000,000 - 1,200 + 396,098 = 1,394,898; B = 800,000 + 396,098 = 1,196,098;
    // target: 1,394,900; A: 0.02 steps -> 0; B: 1988.02 steps -> 1988
    ASSERT_EQ(run({"sfn", "align", "--json"}), cli::Success) << err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(out.toUtf8()).object()["target_ns"], 1394900);
    EXPECT_EQ(QJsonDocument::fromJson(out.toUtf8()).object()["applied"], false);
    const QJsonArray rows = json().toArray();
    ASSERT_EQ(rows.size(), 2);
    const struct
    {
        qint64 base, current, planned, position, expected;
    } hand[] = {{1394898, 5000, 0, 0, 1394898}, {1196098, 0, 198800, 1988, 1394898}};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject r = rows[i].toObject();
        EXPECT_EQ(r["state"], "planned");
        EXPECT_EQ(r["base_ns"].toInteger(), hand[i].base);
        EXPECT_EQ(r["additional_delay_ns"].toInteger(), hand[i].current);
        EXPECT_EQ(r["planned_additional_delay_ns"].toInteger(), hand[i].planned);
        EXPECT_EQ(r["position"].toInteger(), hand[i].position);
        EXPECT_EQ(r["expected_latency_summary_ns"].toInteger(), hand[i].expected);
    }
    // AND the dry run sent nothing but "GetDel", and the table shows the change in time text
    EXPECT_EQ(element.received + second.received, (QList<QByteArray>{"GetDel", "GetDel"}));
    ASSERT_EQ(run({"sfn", "align", "--target", "1395000"}), cli::Success);
    EXPECT_TRUE(out.contains("Target latency summary: 1 mS, 395 uS, 0 nS (1395000 ns)")) << out.toStdString();
    EXPECT_TRUE(out.contains("-4 uS, 900 nS")) << out.toStdString();

    // WHEN applied, THEN each gets its delay with the servo flag it reported, and the store both
    const QByteArray before = readFile(path);
    ASSERT_EQ(run({"sfn", "align", "--apply", "--json"}), cli::Success) << out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(out.toUtf8()).object()["applied"], true);
    EXPECT_EQ(element.received.value(1), QByteArray::fromHex("530000000001"));
    EXPECT_EQ(second.received.value(1), QByteArray::fromHex("530003089000"));
    EXPECT_EQ(readFile(path), QByteArray(before).replace("SFN=1\nROLE=2\n", "SFN=1\nROLE=2\nDLY=0\nSRV=1\n") +
                                  "DLY=1988\nSRV=0\n");

    // AND the exit code says the worst: one silent -> 4; one keeping its delay -> 5, also beside a silent one
    const struct
    {
        bool bAnswers, aTakes;
        int bAnswersLeft; // B falls silent after the poll
        int code;
    } cases[] = {{false, true, -1, cli::NoAnswer},
                 {true, false, -1, cli::Mismatch},
                 {false, false, -1, cli::Mismatch},
                 {true, true, 1, cli::NoAnswer}};
    for (const auto& c : cases) {
        second.answer = c.bAnswers, element.takeDelay = c.aTakes, second.answersLeft = c.bAnswersLeft;
        second.record.additionalDelay = 0;     // so that B has something to change
        element.record.additionalDelay = 5000; // so that A has something to change
        EXPECT_EQ(run({"sfn", "align", "--apply"}), c.code) << out.toStdString();
    }
    // AND a decoder that a raised target puts out of reach (B: 25,001 steps) keeps a delay that
    // does not align it: 5, while A takes its own
    second.answer = element.takeDelay = true, second.answersLeft = -1;
    EXPECT_EQ(run({"sfn", "align", "--apply", "--target", "3696200"}), cli::Mismatch) << out.toStdString();
    EXPECT_TRUE(out.contains("out of range") && out.contains("confirmed")) << out.toStdString();
    // AND when no decoder answers there is nothing to align or write: 4, as for any silent one
    element.answer = second.answer = false;
    EXPECT_EQ(run({"sfn", "align", "--apply"}), cli::NoAnswer) << err.toStdString();
    EXPECT_TRUE(out.startsWith("No SFN decoder answered: nothing to align.\n")) << out.toStdString();
    EXPECT_EQ(run({"sfn", "align", "--apply", "--json"}), cli::NoAnswer);
    EXPECT_EQ(QJsonDocument::fromJson(out.toUtf8()).object()["applied"], false);
    element.answer = true;

    // AND when the store cannot take the confirmed delays (a disk full at its size), that is a
    // failure, and the store is as it was
    second.answer = true;
    second.record.additionalDelay = 0;
    ASSERT_TRUE(store.write(kMac, "dly", "0"));
    ASSERT_TRUE(store.write(kMacB, "dly", "7")); // the confirmed 1988 needs three bytes more
    const QByteArray stored = readFile(path);
    {
        const FileSizeLimit full(rlim_t(stored.size()));
        EXPECT_EQ(run({"sfn", "align", "--apply"}), cli::Failure) << out.toStdString();
    }
    EXPECT_TRUE(err.contains("the store could not be written: dly and srv are unchanged"))
        << err.toStdString();
    EXPECT_EQ(second.received.value(1), QByteArray::fromHex("530003089000"));
    EXPECT_EQ(readFile(path), stored);

    // AND a target below what the slowest decoder needs, or options out of place, are usage errors
    second.answer = true, second.answersLeft = -1;
    const std::pair<QStringList, const char*> usage[] = {
        {{"sfn", "align", "--target", "1394800"}, "at least 1394900 ns"},
        {{"sfn", "align", "--target", "soon"}, "not 'soon'"},
        {{"sfn", "--apply"}, "belong to sfn align"},
        {{"sfn", "align", "--csv"}, "for the table alone"},
        {{"sfn", "later"}, "unexpected argument 'later'"},
        {{"sfn", "align", "now"}, "unexpected argument 'now'"},
    };
    for (const auto& [args, says] : usage) {
        EXPECT_EQ(run(args), cli::UsageError) << args.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("vexolink-cli sfn: ") && err.contains(says)) << err.toStdString();
    }
}
