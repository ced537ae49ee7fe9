#include "ElementStore.h"

#include "IniFile.h"
#include "platform/Numbers.h"

#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <algorithm>

namespace vexo {

QString storeDefault(const QString& key)
{
    static const QHash<QString, QString> defaults = {
        {keys::remote, QStringLiteral("192.168.1.91")},
        {keys::multi, QStringLiteral("239.255.255.239")},
        {keys::ver, QStringLiteral("2.00")},
        {keys::sfn, QStringLiteral("0")},
        {keys::buf, QStringLiteral("1")},
        {keys::att, QStringLiteral("0")},
        {keys::sdm, QStringLiteral("0")},
        {keys::sdl, QStringLiteral("37")},
        {keys::sdt, QStringLiteral("43")},
        {keys::bound, QStringLiteral("0")},
        {keys::dly, QStringLiteral("0")},
        {keys::srv, QStringLiteral("0")},
    };
    return defaults.value(key.toLower());
}

Role roleOf(int roleCode)
{
    switch (roleCode) {
    case int(Role::Encoder):
        return Role::Encoder;
    case int(Role::Decoder):
        return Role::Decoder;
    default:
        return Role::Unknown;
    }
}

QString roleCaption(Role role)
{
    switch (role) {
    case Role::Encoder:
        return QStringLiteral("ENCODER");
    case Role::Decoder:
        return QStringLiteral("DECODER");
    case Role::Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

QString roleCaption(int roleCode)
{
    return roleCaption(roleOf(roleCode));
}

bool isElementSection(const QString& section)
{
    const auto hexDigit = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
    };
    return section.size() == 12 && std::all_of(section.begin(), section.end(), hexDigit);
}

QString encodeMac(const QString& srcMAC)
{
    if (srcMAC.size() != 17)
        return QString();
    QString s = srcMAC;
    return s.remove(QLatin1Char(':')).toUpper();
}

QString decodeMac(const QString& section)
{
    if (section.size() != 12)
        return QString();
    // The usual section, twelve ASCII characters, without a list of pairs (the tree decodes a
    // thousand at start-up).
    if (std::all_of(section.begin(), section.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        QString text(17, QLatin1Char(':'));
        for (int i = 0; i < 12; ++i) {
            const char16_t c = section[i].unicode();
            text[i + i / 2] = QChar(c >= 'a' && c <= 'z' ? char16_t(c - 'a' + 'A') : c);
        }
        return text;
    }
    QStringList pairs;
    for (int i = 0; i < 12; i += 2)
        pairs << section.mid(i, 2).toUpper();
    return pairs.join(QLatin1Char(':'));
}

bool isValidIp(const QString& text)
{
    quint32 address = 0;
    return parseIPv4(text, address);
}

int storedInt(const QString& text, bool* ok)
{
    bool good = false;
    const int v = text.trimmed().toInt(&good);
    if (ok)
        *ok = good;
    return good ? v : 0;
}

bool ElementStore::exists() const
{
    return QFileInfo(m_path).isFile();
}

QString ElementStore::read(const QString& macText, const QString& key) const
{
    return readFromIni(encodeMac(macText), key, m_path, storeDefault(key));
}

QStringList ElementStore::read(const QString& macText, const QStringList& keys) const
{
    QStringList defaults;
    for (const QString& key : keys)
        defaults << storeDefault(key);
    return readKeysFromIni(encodeMac(macText), keys, m_path, defaults);
}

std::optional<QStringList> ElementStore::readKeys(const QString& macText, const QStringList& keys) const
{
    return readSectionKeys(encodeMac(macText), keys, m_path);
}

quint64 ElementStore::revision() const
{
    return iniRevision(m_path);
}

bool ElementStore::write(const QString& macText, const QString& key, const QString& value) const
{
    return writeToIni(encodeMac(macText), key, value, m_path);
}

bool ElementStore::writeKeys(const QString& macText, const QList<QPair<QString, QString>>& keyValues) const
{
    return writeKeysToIni(encodeMac(macText), keyValues, m_path);
}

bool ElementStore::clear() const
{
    return emptyIniFile(m_path);
}

QStringList ElementStore::elements() const
{
    QStringList macs;
    if (!exists())
        return macs;
    for (const QString& section : iniSections(m_path)) {
        if (isElementSection(section))
            macs.append(decodeMac(section));
    }
    return macs;
}

int ElementStore::lineCount(const QString& macText) const
{
    return sectionKeyCount(encodeMac(macText), m_path);
}

} // namespace vexo
