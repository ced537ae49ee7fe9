#include "Recorders.h"

#include "Journal.h"

#include "editor/StoredElement.h"
#include "link/ConfigCodec.h"

#include <QHash>

#include <functional>

namespace vexo {

namespace {

QString refusalText(const Refusal& r)
{
    switch (r.reason) {
    case Refusal::Reason::None:
        return QString();
    case Refusal::Reason::NoElement:
        return QStringLiteral("no element");
    case Refusal::Reason::AudioFields:
        return QStringLiteral("audio input, audio type or TX type not chosen");
    case Refusal::Reason::Name:
        return QStringLiteral("empty name");
    case Refusal::Reason::Addresses:
        return QStringLiteral("an address is no IPv4 address");
    case Refusal::Reason::StoreMissing:
        return QStringLiteral("no store");
    case Refusal::Reason::InvalidStored:
        return QStringLiteral("%1 '%2' is not %3").arg(r.field, r.value, r.rule);
    }
    return QString();
}

// The identity of the element as it was stored before the operation.
JournalEntry entryFor(JournalOperation operation, const StoredElement& before)
{
    JournalEntry e;
    e.operation = operation;
    e.mac = before.mac();
    e.name = before.field(keys::name).text.trimmed();
    e.ip = before.field(keys::ip).text.trimmed();
    return e;
}

// The stored keys a request for this configuration carries, in request order.
QStringList requestKeys(const ElementConfig& c)
{
    QStringList list = {keys::ip,    keys::mask, keys::gw, c.remoteIsMulticast() ? keys::multi : keys::remote,
                        keys::input, keys::type, keys::tx, keys::sfn,
                        keys::name};
    if (c.isDecoder())
        list << keys::buf << keys::sdm << keys::sdl << keys::sdt;
    return list;
}

bool answered(ConfigureOutcome::Result r)
{
    using R = ConfigureOutcome::Result;
    return r == R::Confirmed || r == R::Mismatch || r == R::StoreWriteFailed;
}

QString sendOutcome(const SendProblem& problem, const QString& otherwise, QString& detail)
{
    if (!problem)
        return otherwise;
    detail = problem.cause;
    return QStringLiteral("send-failed");
}

} // namespace

QString configFieldText(const ElementConfig& c, const QString& key)
{
    static const QHash<QString, std::function<QString(const ElementConfig&)>> fields = {
        {keys::name, [](const ElementConfig& c) { return c.name; }},
        {keys::ip, [](const ElementConfig& c) { return c.ip; }},
        {keys::mask, [](const ElementConfig& c) { return c.mask; }},
        {keys::gw, [](const ElementConfig& c) { return c.gateway; }},
        {keys::remote, [](const ElementConfig& c) { return c.remote; }},
        {keys::multi, [](const ElementConfig& c) { return c.remote; }},
        {keys::input, [](const ElementConfig& c) { return QString::number(c.audioSource); }},
        {keys::type, [](const ElementConfig& c) { return QString::number(c.audioType); }},
        {keys::tx, [](const ElementConfig& c) { return QString::number(c.txType); }},
        {keys::role, [](const ElementConfig& c) { return QString::number(c.role); }},
        {keys::sn, [](const ElementConfig& c) { return QString::number(c.serial); }},
        {keys::ver, [](const ElementConfig& c) { return c.version(); }},
        {keys::sfn, [](const ElementConfig& c) { return QString::number(c.sfn); }},
        {keys::buf, [](const ElementConfig& c) { return QString::number(c.buffer); }},
        {keys::att, [](const ElementConfig& c) { return QString::number(c.attenuation); }},
        {keys::sdm, [](const ElementConfig& c) { return QString::number(c.silenceMode); }},
        {keys::sdl, [](const ElementConfig& c) { return QString::number(c.silenceLevel); }},
        {keys::sdt, [](const ElementConfig& c) { return QString::number(c.silenceTime); }},
    };
    const auto it = fields.constFind(key);
    return it == fields.constEnd() ? QString() : (*it)(c);
}

QString outcomeName(ConfigureOutcome::Result result)
{
    using R = ConfigureOutcome::Result;
    switch (result) {
    case R::Confirmed:
        return QStringLiteral("confirmed");
    case R::Mismatch:
        return QStringLiteral("mismatch");
    case R::NoAnswer:
        return QStringLiteral("no-answer");
    case R::SendFailed:
        return QStringLiteral("send-failed");
    case R::Refused:
        return QStringLiteral("refused");
    case R::OtherElement:
        return QStringLiteral("other-element");
    case R::CorruptedRecord:
        return QStringLiteral("corrupted-record");
    case R::StoreWriteFailed:
        return QStringLiteral("store-write-failed");
    case R::CorruptedReply:
        return QStringLiteral("corrupted-reply");
    }
    return QString();
}

JournalEntry configureEntry(const ConfigureOutcome& outcome, const StoredElement& before)
{
    using R = ConfigureOutcome::Result;
    JournalEntry e = entryFor(JournalOperation::Configure, before);
    if (e.mac.isEmpty())
        e.mac = outcome.mac;
    e.outcome = outcomeName(outcome.result);
    switch (outcome.result) {
    case R::SendFailed:
        e.detail = outcome.problem.cause;
        break;
    case R::Refused:
        e.detail = refusalText(outcome.refusal);
        break;
    case R::NoAnswer:
    case R::CorruptedReply:
        if (!outcome.corruptedField.isEmpty())
            e.detail = QStringLiteral("invalid reply: %1").arg(outcome.corruptedField);
        break;
    case R::OtherElement:
        e.detail = QStringLiteral("answered by %1").arg(outcome.reported.mac);
        break;
    case R::Mismatch:
        if (outcome.unknownRole)
            e.detail = QStringLiteral("the element did not say what it is");
        break;
    default:
        break;
    }
    // A refusal made before the configuration was put together carries no fields.
    if (outcome.sent.ip.isEmpty() && outcome.sent.name.isEmpty())
        return e;
    const bool hasAnswer = answered(outcome.result);
    for (const QString& key : requestKeys(outcome.sent)) {
        // A name leaves upper case and padded to its 16 characters, and comes back padded: both
        // are kept as the element shows them, so that only a real difference counts.
        const bool name = key == keys::name;
        const QString sent =
            name ? formatElementName(outcome.sent.name).trimmed() : configFieldText(outcome.sent, key);
        e.sentConfig.append({key, sent});
        const QString stored = before.field(key).text;
        QString reported;
        if (hasAnswer)
            reported = configFieldText(outcome.reported, key);
        // The element's own words where it disagreed.
        for (const FieldDifference& d : outcome.differences) {
            if (d.key == key)
                reported = d.reported;
        }
        if (name)
            reported = reported.trimmed();
        if (sent != stored || (hasAnswer && reported != sent))
            e.changes.append({key, stored, sent, reported});
    }
    return e;
}

QString changesText(const QList<JournalChange>& changes)
{
    QStringList parts;
    for (const JournalChange& c : changes) {
        QString part = QStringLiteral("%1: %2 -> %3").arg(c.field, c.before, c.sent);
        if (!c.reported.isEmpty() && c.reported != c.sent)
            part += QStringLiteral(" (reported %1)").arg(c.reported);
        parts.append(part);
    }
    return parts.join(QStringLiteral("; "));
}

JournalEntry attenuationEntry(const StoredElement& before, int position, const SendProblem& problem)
{
    JournalEntry e = entryFor(JournalOperation::Attenuation, before);
    e.outcome = sendOutcome(problem, QStringLiteral("sent"), e.detail);
    e.changes.append({keys::att, before.field(keys::att).text, QString::number(position), QString()});
    return e;
}

JournalEntry delayEntry(JournalOperation operation, const StoredElement& before, const DelaySetting& sent,
                        const std::optional<DelaySetting>& reported, const SendProblem& problem)
{
    JournalEntry e = entryFor(operation, before);
    const bool matched = reported && reported->delay == sent.delay && reported->servo == sent.servo;
    e.outcome = sendOutcome(problem,
                            !reported ? QStringLiteral("no-answer")
                                      : (matched ? QStringLiteral("confirmed") : QStringLiteral("mismatch")),
                            e.detail);
    e.changes.append({keys::dly, before.field(keys::dly).text, QString::number(sent.delay),
                      reported ? QString::number(reported->delay) : QString()});
    e.changes.append({keys::srv, before.field(keys::srv).text, QString::number(int(sent.servo)),
                      reported ? QString::number(int(reported->servo)) : QString()});
    return e;
}

JournalEntry countersClearedEntry(const StoredElement& before, bool answered, const SendProblem& problem)
{
    JournalEntry e = entryFor(JournalOperation::CountersCleared, before);
    e.outcome =
        sendOutcome(problem, answered ? QStringLiteral("confirmed") : QStringLiteral("no-answer"), e.detail);
    return e;
}

JournalEntry discoveryEntry(int answered, qint64 storeCopy)
{
    JournalEntry e;
    e.operation = JournalOperation::Discovery;
    e.outcome = QStringLiteral("finished");
    e.elements = answered;
    e.storeCopy = storeCopy;
    return e;
}

std::optional<qint64> recordConfigure(Journal& journal, const ConfigureOutcome& outcome,
                                      const StoredElement& before)
{
    return journal.record(configureEntry(outcome, before));
}

std::optional<qint64> recordAttenuation(Journal& journal, const StoredElement& before, int position,
                                        const SendProblem& problem)
{
    return journal.record(attenuationEntry(before, position, problem));
}

std::optional<qint64> recordDelay(Journal& journal, JournalOperation operation, const StoredElement& before,
                                  const DelaySetting& sent, const std::optional<DelaySetting>& reported,
                                  const SendProblem& problem)
{
    return journal.record(delayEntry(operation, before, sent, reported, problem));
}

std::optional<qint64> recordCountersCleared(Journal& journal, const StoredElement& before, bool answered,
                                            const SendProblem& problem)
{
    return journal.record(countersClearedEntry(before, answered, problem));
}

std::optional<qint64> recordDiscovery(Journal& journal, int answered, qint64 storeCopy)
{
    return journal.record(discoveryEntry(answered, storeCopy));
}

} // namespace vexo
