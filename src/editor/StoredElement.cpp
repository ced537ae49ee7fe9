#include "StoredElement.h"

#include "ValueRules.h"
#include "store/IniFile.h"

#include <QHash>

#include <limits>

namespace vexo {

namespace {

enum class Kind
{
    Text,
    Address,
    Number,
};

struct Rule
{
    const QString& key;
    Kind kind;
    int minimum = 0;
    int maximum = -1;
};

// Every key of an element section with the rule its value is held to. The lists have two
// entries (input, type, tx), the routing three (sdm); the bars' ranges are the panel's.
QList<Rule> rules(bool gpsdoVariant)
{
    constexpr int kNoLimit = std::numeric_limits<int>::max();
    return {
        {keys::name, Kind::Text},
        {keys::ip, Kind::Address},
        {keys::mask, Kind::Address},
        {keys::gw, Kind::Address},
        {keys::input, Kind::Number, 0, 1},
        {keys::type, Kind::Number, 0, 1},
        {keys::tx, Kind::Number, 0, 1},
        {keys::remote, Kind::Address},
        {keys::multi, Kind::Address},
        {keys::role, Kind::Number, std::numeric_limits<int>::min(), kNoLimit},
        {keys::sn, Kind::Number, std::numeric_limits<int>::min(), kNoLimit},
        {keys::ver, Kind::Text},
        {keys::sfn, Kind::Number, 0, 1},
        {keys::buf, Kind::Number, kBufferMin, gpsdoVariant ? kBufferMaxGpsdo : kBufferMax},
        {keys::att, Kind::Number, kAttenMin, kAttenMax},
        {keys::sdm, Kind::Number, 0, 2},
        {keys::sdl, Kind::Number, kSilDetLevelMin, kSilDetLevelMax},
        {keys::sdt, Kind::Number, kSilDetTimeMin, kSilDetTimeMax},
        {keys::bound, Kind::Number, 0, kNoLimit},
        {keys::dly, Kind::Number, 0, 25000},
        {keys::srv, Kind::Number, 0, 1},
    };
}

StoredField judge(const Rule& rule, const QString* stored)
{
    StoredField f;
    f.key = rule.key;
    f.stored = stored != nullptr;
    f.text = stored ? *stored : storeDefault(rule.key);
    f.minimum = rule.minimum;
    f.maximum = rule.maximum;
    const bool absent = f.text.trimmed().isEmpty();
    switch (rule.kind) {
    case Kind::Text:
        f.state = f.text.trimmed().isEmpty() ? FieldState::Missing : FieldState::Valid;
        break;
    case Kind::Address:
        f.state = absent              ? FieldState::Missing
                  : isValidIp(f.text) ? FieldState::Valid
                                      : FieldState::OutOfRange;
        break;
    case Kind::Number: {
        bool ok = false;
        f.value = storedInt(f.text, &ok);
        if (absent)
            f.state = FieldState::Missing;
        else if (!ok)
            f.state = FieldState::NotANumber;
        else if (f.value < f.minimum || f.value > f.maximum)
            f.state = FieldState::OutOfRange;
        break;
    }
    }
    return f;
}

} // namespace

QString StoredField::rule() const
{
    if (key == keys::name || key == keys::ver)
        return key == keys::name ? QStringLiteral("a name of 1 to 16 characters")
                                 : QStringLiteral("a version");
    if (!isNumber())
        return QStringLiteral("an IPv4 address");
    if (maximum == std::numeric_limits<int>::max())
        return minimum == std::numeric_limits<int>::min() ? QStringLiteral("a whole number")
                                                          : QStringLiteral("%1 or more").arg(minimum);
    return QStringLiteral("%1 to %2").arg(minimum).arg(maximum);
}

QString StoredField::problem() const
{
    switch (state) {
    case FieldState::Valid:
        return QString();
    case FieldState::Missing:
        return QStringLiteral("missing");
    case FieldState::NotANumber:
        return QStringLiteral("not a number (%1)").arg(rule());
    case FieldState::OutOfRange:
        return isNumber() ? QStringLiteral("out of range (%1)").arg(rule())
                          : QStringLiteral("not %1").arg(rule());
    }
    return QString();
}

StoredElement StoredElement::load(const ElementStore& store, const QString& mac, bool gpsdoVariant)
{
    StoredElement e;
    e.m_mac = mac;
    // Which keys the section holds, then their values as every read of the store gives them
    // (blanks and one pair of quotes removed, the first line of a key winning).
    QHash<QString, QString> stored;
    const QString section = encodeMac(mac);
    const QList<Rule> all = rules(gpsdoVariant);
    if (!section.isEmpty() && store.exists()) {
        const QStringList lines = readIniSection(section, store.path());
        e.m_lines = int(lines.size());
        e.m_exists = !lines.isEmpty() || iniSections(store.path()).contains(section, Qt::CaseInsensitive);
        QStringList keyList;
        for (const Rule& rule : all)
            keyList << rule.key;
        const QStringList values = readFromIni({section}, keyList, store.path()).value(0);
        for (const QString& line : lines) {
            const QString key = line.left(line.indexOf(QLatin1Char('='))).trimmed().toLower();
            const qsizetype at = keyList.indexOf(key);
            if (at >= 0)
                stored.insert(key, values.value(at));
        }
    }
    for (const Rule& rule : all) {
        const auto it = stored.constFind(rule.key);
        e.m_fields.append(judge(rule, it == stored.constEnd() ? nullptr : &it.value()));
    }
    const StoredField& role = e.field(keys::role);
    e.m_role = role.state == FieldState::Valid ? roleOf(role.value) : Role::Unknown;
    return e;
}

const StoredField& StoredElement::field(const QString& key) const
{
    static const StoredField none{QString(), QString(), false, FieldState::Missing};
    for (const StoredField& f : m_fields) {
        if (f.key == key)
            return f;
    }
    return none;
}

const QString& StoredElement::remoteKey() const
{
    // As the store writes it: a decoder and a multicast sender keep the remote under `multi`.
    const StoredField& tx = field(keys::tx);
    return (m_role == Role::Decoder || (tx.isValid() && tx.value > 0)) ? keys::multi : keys::remote;
}

ElementConfig StoredElement::config() const
{
    auto number = [this](const QString& key) { return field(key).value; };
    ElementConfig c;
    c.mac = m_mac;
    c.name = field(keys::name).text;
    c.ip = field(keys::ip).text;
    c.mask = field(keys::mask).text;
    c.gateway = field(keys::gw).text;
    c.audioSource = number(keys::input);
    c.audioType = number(keys::type);
    c.txType = number(keys::tx);
    c.role = number(keys::role);
    c.remote = field(remoteKey()).text;
    c.serial = number(keys::sn);
    const QStringList version = field(keys::ver).text.split(QLatin1Char('.'));
    c.versionMajor = storedInt(version.value(0));
    c.versionMinor = storedInt(version.value(1));
    c.sfn = number(keys::sfn);
    c.buffer = number(keys::buf);
    c.attenuation = number(keys::att);
    c.silenceMode = number(keys::sdm);
    c.silenceLevel = number(keys::sdl);
    c.silenceTime = number(keys::sdt);
    return c;
}

QStringList StoredElement::requestKeys() const
{
    QStringList list = {keys::ip,   keys::mask, keys::gw,  remoteKey(), keys::input,
                        keys::type, keys::tx,   keys::sfn, keys::name};
    if (m_role == Role::Decoder)
        list << keys::buf << keys::sdm << keys::sdl << keys::sdt;
    return list;
}

QList<StoredField> StoredElement::invalidRequestFields() const
{
    QList<StoredField> invalid;
    for (const QString& key : requestKeys()) {
        if (!field(key).isValid())
            invalid.append(field(key));
    }
    return invalid;
}

} // namespace vexo
