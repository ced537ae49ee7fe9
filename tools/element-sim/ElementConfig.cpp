#include "ElementConfig.h"

#include "store/ElementStore.h"

#include <QJsonValue>

#include <bit>
#include <functional>
#include <limits>

namespace vexo::sim {

ElementConfig::ElementConfig()
{
    role = 1;
    name = QStringLiteral("ELEMENT");
    serial = 1;
    versionMajor = 3;
    versionMinor = 1;
    ip = QStringLiteral("127.0.0.2");
    mask = QStringLiteral("255.255.255.0");
    gateway = QStringLiteral("0.0.0.0");
    remote = QStringLiteral("0.0.0.0");
    buffer = 4;
    attenuation = 30;
    silenceLevel = 10;
    silenceTime = 30;
}

namespace {

enum class Kind
{
    Int,
    String,
    Address,
    Bool,
    Double,
    Version
};

struct Key
{
    const char* name;
    Kind kind;
    const char* help;
    qint64 min = 0;
    qint64 max = 255;
    // Reads the value (already checked) into the config.
    std::function<void(ElementConfig&, const QJsonValue&)> set;
    // Writes the value; an undefined value means "not set" and is left out of the dump.
    std::function<QJsonValue(const ElementConfig&)> get;
};

constexpr qint64 kI32Min = std::numeric_limits<qint32>::min();
constexpr qint64 kI32Max = std::numeric_limits<qint32>::max();

template <typename T> QJsonValue optValue(const std::optional<T>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Undefined);
}

#define VX_INT(key, field, lo, hi, text)                                                                     \
    Key                                                                                                      \
    {                                                                                                        \
        key, Kind::Int, text, lo, hi,                                                                        \
            [](ElementConfig& c, const QJsonValue& v) { c.field = v.toInteger(); },                          \
            [](const ElementConfig& c) { return QJsonValue(qint64(c.field)); }                               \
    }
#define VX_OPT_INT(key, field, lo, hi, text)                                                                 \
    Key                                                                                                      \
    {                                                                                                        \
        key, Kind::Int, text, lo, hi,                                                                        \
            [](ElementConfig& c, const QJsonValue& v) {                                                      \
                c.field = decltype(c.field)::value_type(v.toInteger());                                      \
            },                                                                                               \
            [](const ElementConfig& c) {                                                                     \
                return c.field ? QJsonValue(qint64(*c.field)) : QJsonValue(QJsonValue::Undefined);           \
            }                                                                                                \
    }
#define VX_TEXT(key, kind, field, text)                                                                      \
    Key                                                                                                      \
    {                                                                                                        \
        key, kind, text, 0, 0, [](ElementConfig& c, const QJsonValue& v) { c.field = v.toString(); },        \
            [](const ElementConfig& c) { return QJsonValue(c.field); }                                       \
    }
#define VX_BOOL(key, field, text)                                                                            \
    Key                                                                                                      \
    {                                                                                                        \
        key, Kind::Bool, text, 0, 0, [](ElementConfig& c, const QJsonValue& v) { c.field = v.toBool(); },    \
            [](const ElementConfig& c) { return QJsonValue(c.field); }                                       \
    }

const QList<Key>& keys()
{
    static const QList<Key> table = {
        VX_INT("role", role, 0, 255, "role code: 1 encoder, 2 decoder"),
        VX_TEXT("name", Kind::String, name, "element name (sent as 16 characters)"),
        VX_INT("serial", serial, kI32Min, kI32Max, "serial number"),
        Key{"version", Kind::Version, "DSP version MAJOR.MINOR", 0, 0,
            [](ElementConfig& c, const QJsonValue& v) {
                const QStringList parts = v.toString().split(QLatin1Char('.'));
                c.versionMajor = parts.value(0).toInt();
                c.versionMinor = parts.value(1).toInt();
            },
            [](const ElementConfig& c) {
                return QJsonValue(QStringLiteral("%1.%2").arg(c.versionMajor).arg(c.versionMinor));
            }},
        VX_TEXT("ip", Kind::Address, ip, "element IPv4 address"),
        VX_TEXT("mask", Kind::Address, mask, "network mask"),
        VX_TEXT("gw", Kind::Address, gateway, "gateway"),
        VX_TEXT("remote", Kind::Address, remote, "remote or multicast address"),
        VX_INT("input", audioSource, 0, 255, "audio source: 0 digital, 1 analog"),
        VX_INT("type", audioType, 0, 255, "audio type: 0 left/right, 1 MPX"),
        VX_INT("tx", txType, 0, 255, "TX type: 0 unicast, 1 multicast"),
        VX_INT("sfn", sfn, 0, 255, "SFN option: 0 off, 1 on"),
        VX_INT("buffer", buffer, 0, 255, "buffer size"),
        VX_INT("att", attenuation, 0, 255, "attenuation"),
        VX_INT("sdm", silenceMode, 0, 255, "silence detector mode"),
        VX_INT("sdl", silenceLevel, 0, 255, "silence detector threshold"),
        VX_INT("sdt", silenceTime, 0, 255, "silence detector time-out"),
        Key{"level-dbfs", Kind::Double, "positive peak of the tone in dBFS (below -150: silence)", 0, 0,
            [](ElementConfig& c, const QJsonValue& v) { c.levelDbfs = v.toDouble(); },
            [](const ElementConfig& c) { return QJsonValue(c.levelDbfs); }},
        VX_BOOL("level-moving", levelMoving, "programme-like envelope below the peak"),
        VX_INT("latency-ns", latencyNs, 0, kI32Max, "mean network path delay in ns"),
        VX_INT("jitter-ns", jitterNs, 0, kI32Max / 4, "path delay jitter in ns (either way)"),
        VX_INT("servo-target-ns", servoTargetNs, kI32Min / 2, kI32Max / 2,
               "total delay the auto servo aims at"),
        VX_INT("error-ppm", errorPpm, 0, 1000000, "frame errors per million frames"),
        VX_BOOL("silent", silent, "fault: answer nothing"),
        VX_INT("delay-ms", delayMs, 0, 600000, "fault: every answer leaves this many ms late"),
        VX_INT("config-reply-length", configReplyLength, -1, 65507,
               "fault: ConfigReply cut/padded to N bytes"),
        VX_INT("level-reply-length", levelReplyLength, -1, 65507, "fault: LevelReply cut/padded to N bytes"),
        VX_INT("measure-reply-length", measureReplyLength, -1, 65507,
               "fault: MeasurementRecord cut/padded to N bytes"),
        VX_OPT_INT("force-role", forceRole, 0, 255, "fault: role byte stated in replies"),
        VX_OPT_INT("force-input", forceInput, 0, 255, "fault: audio source byte stated"),
        VX_OPT_INT("force-type", forceType, 0, 255, "fault: audio type byte stated"),
        VX_OPT_INT("force-tx", forceTx, 0, 255, "fault: TX type byte stated"),
        VX_OPT_INT("force-sfn", forceSfn, 0, 255, "fault: SFN byte stated"),
        VX_OPT_INT("force-buffer", forceBuffer, 0, 255, "fault: buffer byte stated"),
        VX_OPT_INT("force-att", forceAtt, 0, 255, "fault: attenuation byte stated"),
        VX_OPT_INT("force-serial", forceSerial, kI32Min, kI32Max, "fault: serial number stated"),
        Key{"force-name", Kind::String, "fault: name stated (16 characters, case kept)", 0, 0,
            [](ElementConfig& c, const QJsonValue& v) { c.forceName = v.toString(); },
            [](const ElementConfig& c) { return optValue(c.forceName); }},
        Key{"force-ip", Kind::Address, "fault: IP address stated in replies", 0, 0,
            [](ElementConfig& c, const QJsonValue& v) { c.forceIp = v.toString(); },
            [](const ElementConfig& c) { return optValue(c.forceIp); }},
        VX_BOOL("stale-reply", staleReply, "fault: ignore a ConfigRequest, answer with the previous config"),
        VX_BOOL("keep-delay", keepDelay, "fault: ignore a SetDelayRequest, keep the delay and servo it has"),
        VX_TEXT("readdress", Kind::String, readdress,
                "move (default): a new IP is taken on after the reply; keep: stay at the old address"),
        VX_TEXT("interface", Kind::String, interfaceName, "interface holding the address (found when empty)"),
    };
    return table;
}

const Key* findKey(const QString& name)
{
    for (const Key& k : keys())
        if (name == QLatin1String(k.name))
            return &k;
    return nullptr;
}

// Checks a JSON value against the key's kind; numbers given as text (from the command line) are
// accepted and converted.
std::optional<QJsonValue> checkValue(const Key& key, const QJsonValue& value, QString* error)
{
    const QString name = QString::fromLatin1(key.name);
    auto fail = [&](const QString& why) -> std::optional<QJsonValue> {
        if (error)
            *error = QStringLiteral("%1: %2").arg(name, why);
        return std::nullopt;
    };
    switch (key.kind) {
    case Kind::Int: {
        qint64 n = 0;
        bool ok = false;
        if (value.isDouble()) {
            const double d = value.toDouble();
            ok = d == double(qint64(d));
            n = qint64(d);
        } else if (value.isString()) {
            n = value.toString().trimmed().toLongLong(&ok, 0);
        }
        if (!ok)
            return fail(QStringLiteral("whole number expected"));
        if (n < key.min || n > key.max)
            return fail(QStringLiteral("out of range %1..%2").arg(key.min).arg(key.max));
        return QJsonValue(n);
    }
    case Kind::Double: {
        if (value.isDouble())
            return value;
        bool ok = false;
        const double d = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            return fail(QStringLiteral("number expected"));
        return QJsonValue(d);
    }
    case Kind::Bool: {
        if (value.isBool())
            return value;
        const QString t = value.toString().trimmed().toLower();
        if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes"))
            return QJsonValue(true);
        if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no"))
            return QJsonValue(false);
        return fail(QStringLiteral("true or false expected"));
    }
    case Kind::Address:
        if (!value.isString() || !isValidIp(value.toString()))
            return fail(QStringLiteral("dotted IPv4 address expected"));
        return QJsonValue(value.toString().trimmed());
    case Kind::Version: {
        const QStringList parts = value.toString().split(QLatin1Char('.'));
        bool ok1 = false, ok2 = false;
        const int a = parts.value(0).toInt(&ok1), b = parts.value(1).toInt(&ok2);
        if (parts.size() != 2 || !ok1 || !ok2 || a < 0 || a > 255 || b < 0 || b > 255)
            return fail(QStringLiteral("MAJOR.MINOR with numbers 0..255 expected"));
        return value;
    }
    case Kind::String:
        if (!value.isString())
            return fail(QStringLiteral("text expected"));
        if (name == QLatin1String("readdress") && value.toString() != QLatin1String("move") &&
            value.toString() != QLatin1String("keep"))
            return fail(QStringLiteral("move or keep expected"));
        return value;
    }
    return fail(QStringLiteral("unknown kind"));
}

} // namespace

bool applyJson(const QJsonObject& object, ElementConfig& config, QString* error)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Key* key = findKey(it.key());
        if (!key) {
            if (error)
                *error = QStringLiteral("unknown element key \"%1\"").arg(it.key());
            return false;
        }
        const std::optional<QJsonValue> value = checkValue(*key, it.value(), error);
        if (!value)
            return false;
        key->set(config, *value);
    }
    return true;
}

QJsonObject toJson(const ElementConfig& config)
{
    QJsonObject o;
    for (const Key& k : keys()) {
        const QJsonValue v = k.get(config);
        if (!v.isUndefined())
            o.insert(QString::fromLatin1(k.name), v);
    }
    return o;
}

bool argsToJson(const QStringList& args, QJsonObject& out, QStringList* rest, QString* error)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(QLatin1String("--"))) {
            if (rest) {
                rest->append(arg);
                continue;
            }
            if (error)
                *error = QStringLiteral("unexpected argument \"%1\"").arg(arg);
            return false;
        }
        QString name = arg.mid(2);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            inlineValue = name.mid(eq + 1);
            name = name.left(eq);
        }
        const Key* key = findKey(name);
        if (!key) {
            if (rest) {
                rest->append(arg);
                continue;
            }
            if (error)
                *error = QStringLiteral("unknown option \"%1\"").arg(arg);
            return false;
        }
        QJsonValue raw;
        if (inlineValue)
            raw = *inlineValue;
        else if (key->kind == Kind::Bool)
            raw = true;
        else if (i + 1 < args.size())
            raw = args[++i];
        else {
            if (error)
                *error = QStringLiteral("%1: value missing").arg(arg);
            return false;
        }
        const std::optional<QJsonValue> value = checkValue(*key, raw, error);
        if (!value)
            return false;
        out.insert(name, *value);
    }
    return true;
}

QString keysHelp()
{
    QString text;
    for (const Key& k : keys()) {
        const QString flag =
            QStringLiteral("  --%1%2")
                .arg(QLatin1String(k.name), k.kind == Kind::Bool ? QString() : QStringLiteral(" V"));
        text += flag.leftJustified(28) + QLatin1String(k.help) + QLatin1Char('\n');
    }
    return text;
}

int prefixLength(const QString& mask)
{
    const QStringList parts = mask.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return -1;
    quint32 m = 0;
    for (const QString& p : parts)
        m = (m << 8) | (quint32(p.trimmed().toInt()) & 0xFF);
    const int bits = std::popcount(m);
    const quint32 expected = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
    return m == expected ? bits : -1;
}

} // namespace vexo::sim
