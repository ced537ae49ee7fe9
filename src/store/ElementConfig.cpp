#include "ElementConfig.h"

#include "ElementStore.h"

#include <QStringList>

namespace vexo {

QString ElementConfig::version() const
{
    return QStringLiteral("%1.%2").arg(versionMajor).arg(versionMinor);
}

ElementConfig storedConfig(const ElementStore& store, const QString& macText)
{
    auto number = [&](const QString& key) { return storedInt(store.read(macText, key)); };
    ElementConfig c;
    c.mac = macText;
    c.name = store.read(macText, keys::name);
    c.ip = store.read(macText, keys::ip);
    c.mask = store.read(macText, keys::mask);
    c.gateway = store.read(macText, keys::gw);
    c.audioSource = number(keys::input);
    c.audioType = number(keys::type);
    c.txType = number(keys::tx);
    c.role = number(keys::role);
    c.remote = store.read(macText, c.remoteIsMulticast() ? keys::multi : keys::remote);
    c.serial = number(keys::sn);
    const QStringList version = store.read(macText, keys::ver).split(QLatin1Char('.'));
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

QList<QPair<QString, QString>> discoveredSectionValues(const ElementConfig& c)
{
    QList<QPair<QString, QString>> values = {
        {keys::name, c.name},
        {keys::ip, c.ip},
        {keys::mask, c.mask},
        {keys::gw, c.gateway},
        {keys::input, QString::number(c.audioSource)},
        {keys::type, QString::number(c.audioType)},
        {keys::tx, QString::number(c.txType)},
        {c.remoteIsMulticast() ? keys::multi : keys::remote, c.remote},
        {keys::role, QString::number(c.role)},
        {keys::sn, QString::number(c.serial)},
        {keys::ver, c.version()},
        {keys::sfn, QString::number(c.sfn)},
        {keys::buf, QString::number(c.buffer)},
    };
    if (c.isDecoder()) {
        values.append({keys::att, QString::number(c.attenuation)});
        values.append({keys::sdm, QString::number(c.silenceMode)});
        values.append({keys::sdl, QString::number(c.silenceLevel)});
        values.append({keys::sdt, QString::number(c.silenceTime)});
    }
    return values;
}

} // namespace vexo
