#include "ElementConfig.h"

#include "ElementStore.h"

#include <QStringList>

namespace vexo {

QString ElementConfig::version() const
{
    return QStringLiteral("%1.%2").arg(versionMajor).arg(versionMinor);
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
