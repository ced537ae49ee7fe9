#include "FleetFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

namespace vexo::sim {

namespace {

bool readJson(const QString& path, QJsonDocument& doc, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    QJsonParseError pe;
    doc = QJsonDocument::fromJson(f.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1: no JSON object (%2)").arg(path, pe.errorString());
        return false;
    }
    return true;
}

} // namespace

bool parseCommandLine(const QStringList& arguments, SimSetup& setup, QString* error)
{
    QString dummy;
    if (!error)
        error = &dummy;
    QStringList rest;
    QJsonObject flags;
    if (!argsToJson(arguments, flags, &rest, error))
        return false;

    QString fleetPath, configPath, bind;
    for (int i = 0; i < rest.size(); ++i) {
        const QString a = rest[i];
        auto value = [&](QString& target) {
            if (i + 1 >= rest.size()) {
                *error = QStringLiteral("%1: value missing").arg(a);
                return false;
            }
            target = rest[++i];
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            setup.help = true;
        else if (a == QLatin1String("--verbose") || a == QLatin1String("-v"))
            setup.verbose = true;
        else if (a == QLatin1String("--fleet")) {
            if (!value(fleetPath))
                return false;
        } else if (a == QLatin1String("--config")) {
            if (!value(configPath))
                return false;
        } else if (a == QLatin1String("--state-file")) {
            if (!value(setup.stateFile))
                return false;
        } else if (a == QLatin1String("--bind")) {
            if (!value(bind))
                return false;
            if (bind != QLatin1String("any") && bind != QLatin1String("own")) {
                *error = QStringLiteral("--bind: any or own expected");
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option \"%1\" (see --help)").arg(a);
            return false;
        }
    }
    if (setup.help)
        return true;
    if (!fleetPath.isEmpty() && !configPath.isEmpty()) {
        *error = QStringLiteral("--fleet and --config exclude each other");
        return false;
    }

    ElementConfig base;
    QJsonArray members;
    QString fileBind;
    if (!configPath.isEmpty()) {
        QJsonDocument doc;
        if (!readJson(configPath, doc, error))
            return false;
        if (!applyJson(doc.object(), base, error)) {
            *error = configPath + QStringLiteral(": ") + *error;
            return false;
        }
    } else if (!fleetPath.isEmpty()) {
        QJsonDocument doc;
        if (!readJson(fleetPath, doc, error))
            return false;
        const QJsonObject root = doc.object();
        for (auto it = root.begin(); it != root.end(); ++it) {
            if (it.key() != QLatin1String("bind") && it.key() != QLatin1String("defaults") &&
                it.key() != QLatin1String("elements")) {
                *error = QStringLiteral("%1: unknown key \"%2\"").arg(fleetPath, it.key());
                return false;
            }
        }
        fileBind = root.value(QStringLiteral("bind")).toString();
        if (!applyJson(root.value(QStringLiteral("defaults")).toObject(), base, error)) {
            *error = fleetPath + QStringLiteral(": defaults: ") + *error;
            return false;
        }
        members = root.value(QStringLiteral("elements")).toArray();
        if (members.isEmpty()) {
            *error = fleetPath + QStringLiteral(": no elements");
            return false;
        }
    }
    if (!applyJson(flags, base, error))
        return false;

    setup.elements.clear();
    if (members.isEmpty()) {
        setup.elements.append(base);
    } else {
        for (qsizetype i = 0; i < members.size(); ++i) {
            ElementConfig c = base;
            QJsonObject member = members[i].toObject();
            // "args": options as on the command line, for scripts that write no JSON values.
            const QJsonValue args = member.take(QStringLiteral("args"));
            QJsonObject fromArgs;
            bool ok = members[i].isObject() && (args.isUndefined() || args.isString());
            ok = ok && argsToJson(QProcess::splitCommand(args.toString()), fromArgs, nullptr, error);
            for (auto it = fromArgs.begin(); ok && it != fromArgs.end(); ++it)
                member.insert(it.key(), it.value());
            if (!ok || !applyJson(member, c, error)) {
                *error = QStringLiteral("%1: element %2: %3").arg(fleetPath).arg(i).arg(*error);
                return false;
            }
            setup.elements.append(c);
        }
    }
    const QString chosen = !bind.isEmpty() ? bind : fileBind;
    setup.bindAny = chosen.isEmpty() ? !members.isEmpty() : chosen == QLatin1String("any");
    return true;
}

QString usage()
{
    return QStringLiteral(
               "Usage: vexolink-element [options] [element options]\n"
               "Behaves like Vexolink encoders and decoders: answers the paging request (UDP 1901),\n"
               "ConfigRequest (2976), AttenuationMessage and VOL (2977), GetStats/GetDel/RstStats and\n"
               "SetDelayRequest (2978).\n\n"
               "Options:\n"
               "  --config FILE              one element's JSON object (keys as the element options)\n"
               "  --fleet FILE               "
               "{\"bind\":\"any|own\",\"defaults\":{..},\"elements\":[{..},..]}\n"
               "  --bind any|own             any: shared sockets on 0.0.0.0 (default for a fleet);\n"
               "                             own: each element binds its own address (default for one),\n"
               "                             plus 0.0.0.0:1901 (shared) for the paging broadcast\n"
               "  --state-file PATH          JSON state rewritten at start and after every change;\n"
               "                             SIGUSR1 rewrites it (or prints the state without a file)\n"
               "  --verbose                  one log line per datagram on stderr\n"
               "  --help\n\n"
               "Element options (also the JSON keys):\n") +
           keysHelp() +
           QStringLiteral(
               "\nAn element whose ConfigRequest changes its IP answers from its old address, then\n"
               "moves: with readdress \"move\" it adds the new address to its interface and drops the\n"
               "old one (or rebinds to a new loopback address); with \"keep\" it stays where it is and\n"
               "reports the new address.\n\n"
               "Environment:\n"
               "  none                       everything is given on the command line or in the files\n\n"
               "Exit codes:\n"
               "  0  ended by SIGTERM or SIGINT\n"
               "  1  an element could not bind its sockets or address, or the state file cannot be written\n"
               "  2  usage error: unknown option, malformed value or file\n");
}

} // namespace vexo::sim
