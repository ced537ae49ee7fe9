#include "CliSupport.h"

#include "editor/ValueRules.h"
#include "link/ConfigCodec.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>

namespace vexo::cli {

QString exitCodesHelp()
{
    return QStringLiteral(
        "Exit codes:\n"
        "  0  success\n"
        "  1  failure (a send failed, the store could not be written)\n"
        "  2  usage error: unknown command, option or key, malformed or out-of-range value\n"
        "  3  element unknown\n"
        "  4  no answer from the element\n"
        "  5  mismatch: the element took on something else than was sent\n"
        "  6  port busy: UDP 2976/2978 (is vexolink-nms running here?) or the listen address\n"
        "  7  store missing or corrupted\n");
}

MsgAnswer ConsoleBoxes::show(const MessageBoxRequest& request)
{
    QString text = request.text;
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text = text.simplified();
    if (request.buttons == MsgButtons::YesNo)
        return m_yes ? MsgAnswer::Yes : MsgAnswer::No;
    // An error becomes the command's own one-line error (with its exit code); notices go to
    // stderr as they come.
    if (request.icon == MsgIcon::Critical)
        m_errors.append(text);
    else if (!m_quiet)
        m_err << text << Qt::endl;
    return MsgAnswer::Ok;
}

namespace {

const QRegularExpression kHexMac(QStringLiteral("^[0-9A-Fa-f]{12}$"));
const QRegularExpression kColonMac(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
const QRegularExpression kDotted(QStringLiteral("^[0-9. ]+$"));

void requireStore(const ElementStore& store)
{
    if (!store.exists())
        throw CliError(StoreProblem,
                       QStringLiteral("no element store at %1 (run 'vexolink-cli discover --save' first)")
                           .arg(store.path()));
    if (!QFileInfo(store.path()).isReadable())
        throw CliError(StoreProblem, QStringLiteral("the element store %1 cannot be read").arg(store.path()));
}

void requireSound(const ElementStore& store, const QString& mac)
{
    const int lines = store.lineCount(mac);
    if (lines >= kCorruptedSectionLines)
        throw CliError(StoreProblem,
                       QStringLiteral("the stored record of %1 is corrupted (%2 lines)").arg(mac).arg(lines));
}

} // namespace

QStringList storedElements(const ElementStore& store)
{
    requireStore(store);
    return store.elements();
}

QString resolveElement(const ElementStore& store, const QString& text)
{
    const QString t = text.trimmed();
    QString mac;
    if (kColonMac.match(t).hasMatch())
        mac = t.toUpper();
    else if (kHexMac.match(t).hasMatch())
        mac = decodeMac(t);
    else if (t.contains(QLatin1Char(':')))
        throw CliError(UsageError, QStringLiteral("malformed MAC address '%1'").arg(text));
    else if (kDotted.match(t).hasMatch() && !isValidIp(t))
        throw CliError(UsageError, QStringLiteral("malformed IP address '%1'").arg(text));

    const QStringList macs = storedElements(store);
    QStringList found;
    if (!mac.isEmpty()) {
        if (macs.contains(mac))
            found.append(mac);
    } else if (isValidIp(t)) {
        for (const QString& m : macs) {
            if (store.read(m, keys::ip).trimmed() == t)
                found.append(m);
        }
    } else {
        const QString name = formatElementName(t).trimmed();
        for (const QString& m : macs) {
            if (store.read(m, keys::name).trimmed().toUpper() == name)
                found.append(m);
        }
    }
    if (found.isEmpty())
        throw CliError(ElementUnknown, QStringLiteral("no stored element '%1'").arg(text));
    if (found.size() > 1)
        throw CliError(ElementUnknown,
                       QStringLiteral("'%1' names %2 stored elements (%3): give the MAC address")
                           .arg(text)
                           .arg(found.size())
                           .arg(found.join(QStringLiteral(", "))));
    requireSound(store, found.first());
    return found.first();
}

int attenuationPosition(const QString& level)
{
    const QString t = level.trimmed();
    if (t.compare(QStringLiteral("mute"), Qt::CaseInsensitive) == 0)
        return kAttenMin;
    bool ok = false;
    const double db = t.toDouble(&ok);
    const double halfSteps = std::abs(db) * 2;
    if (!ok || halfSteps > (kAttenMax - kAttenMin) || halfSteps != std::floor(halfSteps))
        throw CliError(
            UsageError,
            QStringLiteral("attenuation '%1' out of range: 0 to -120.5 dB in steps of 0.5, or mute")
                .arg(level));
    return kAttenMax - int(halfSteps);
}

QString renderTable(const QStringList& header, const QList<QStringList>& rows)
{
    QList<int> widths;
    for (const QString& h : header)
        widths.append(int(h.size()));
    for (const QStringList& row : rows) {
        for (int i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], int(row[i].size()));
    }
    QString out;
    auto line = [&](const QStringList& cells) {
        QString l;
        for (int i = 0; i < cells.size(); ++i)
            l += (i + 1 < cells.size() ? cells[i].leftJustified(widths[i] + 2) : cells[i]);
        out += l + QLatin1Char('\n');
    };
    line(header);
    for (const QStringList& row : rows)
        line(row);
    return out;
}

QString renderCsv(const QStringList& header, const QList<QStringList>& rows)
{
    auto field = [](QString f) {
        if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) || f.contains(QLatin1Char('\n'))) {
            f.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            f = QLatin1Char('"') + f + QLatin1Char('"');
        }
        return f;
    };
    QString out;
    for (const QStringList& cells : QList<QStringList>{header} + rows) {
        QStringList fields;
        for (const QString& c : cells)
            fields.append(field(c));
        out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out;
}

QString renderJson(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

QString renderJson(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

} // namespace vexo::cli
