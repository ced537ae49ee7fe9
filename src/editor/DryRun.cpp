#include "DryRun.h"

#include "ValueRules.h"

#include "link/ConfigCodec.h"

#include <map>

namespace vexo {

namespace {

// A stored key's text in a configuration, as the request carries it.
QString requestText(const ElementConfig& c, const QString& key)
{
    if (key == keys::name)
        return formatElementName(c.name).trimmed(); // as the element will show it
    if (key == keys::ip)
        return c.ip;
    if (key == keys::mask)
        return c.mask;
    if (key == keys::gw)
        return c.gateway;
    if (key == keys::remote || key == keys::multi)
        return c.remote;
    const std::map<QString, int> numbers = {
        {keys::input, c.audioSource}, {keys::type, c.audioType},  {keys::tx, c.txType},
        {keys::sfn, c.sfn},           {keys::buf, c.buffer},      {keys::sdm, c.silenceMode},
        {keys::sdl, c.silenceLevel},  {keys::sdt, c.silenceTime},
    };
    const auto it = numbers.find(key);
    return it == numbers.end() ? QString() : QString::number(it->second);
}

DryRun refused(const QString& key, const QString& why)
{
    DryRun r;
    r.refusedKey = key;
    r.refusal = why;
    return r;
}

} // namespace

DryRun dryRunConfiguration(const StoredElement& element, const QList<QPair<QString, QString>>& changes,
                           bool gpsdoVariant)
{
    ElementConfig draft = element.config();
    const bool decoder = element.role() == Role::Decoder;
    struct Range
    {
        int* field;
        int min, max;
        bool decoderOnly;
    };
    const std::map<QString, Range> numbers = {
        {keys::input, {&draft.audioSource, 0, 1, false}},
        {keys::type, {&draft.audioType, 0, 1, false}},
        {keys::tx, {&draft.txType, 0, 1, false}},
        {keys::sfn, {&draft.sfn, 0, 1, false}},
        {keys::buf, {&draft.buffer, kBufferMin, gpsdoVariant ? kBufferMaxGpsdo : kBufferMax, true}},
        {keys::sdm, {&draft.silenceMode, 0, 2, true}},
        {keys::sdl, {&draft.silenceLevel, kSilDetLevelMin, kSilDetLevelMax, true}},
        {keys::sdt, {&draft.silenceTime, kSilDetTimeMin, kSilDetTimeMax, true}},
    };
    const std::map<QString, QString*> addresses = {{keys::ip, &draft.ip},
                                                   {keys::mask, &draft.mask},
                                                   {keys::gw, &draft.gateway},
                                                   {keys::remote, &draft.remote},
                                                   {keys::multi, &draft.remote}};
    for (const auto& [rawKey, rawValue] : changes) {
        const QString key = rawKey.trimmed().toLower();
        const QString value = rawValue.trimmed();
        if (key == keys::name) {
            if (value.isEmpty() || value.size() > kNameMaxLength)
                return refused(key, QStringLiteral("name must be 1 to 16 characters"));
            draft.name = formatElementName(value);
        } else if (const auto a = addresses.find(key); a != addresses.end()) {
            if (!isValidIp(value))
                return refused(key, QStringLiteral("%1: malformed IP address '%2'").arg(key, value));
            *a->second = value;
        } else if (const auto n = numbers.find(key); n != numbers.end()) {
            if (n->second.decoderOnly && !decoder)
                return refused(key, QStringLiteral("%1 is for decoders only").arg(key));
            bool ok = false;
            const int v = value.toInt(&ok);
            if (!ok || v < n->second.min || v > n->second.max)
                return refused(key, QStringLiteral("%1 '%2' out of range: %3 to %4")
                                        .arg(key, value)
                                        .arg(n->second.min)
                                        .arg(n->second.max));
            *n->second.field = v;
        } else {
            return refused(key, QStringLiteral("unknown key '%1'").arg(key));
        }
    }
    DryRun run;
    // The remote address goes under the key the element's role and TX type now call for.
    QStringList fieldKeys = element.requestKeys();
    fieldKeys.replace(fieldKeys.indexOf(element.remoteKey()),
                      draft.remoteIsMulticast() ? keys::multi : keys::remote);
    for (const QString& key : fieldKeys)
        run.fields.append({key, element.field(key).text, requestText(draft, key)});
    run.request = buildConfigRequest(draft, element.role());
    run.config = draft;
    return run;
}

} // namespace vexo
