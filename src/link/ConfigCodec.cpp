#include "ConfigCodec.h"

#include "platform/Numbers.h"
#include "store/IniFile.h"

namespace vexo {

namespace {

quint8 byteAt(const QByteArray& d, int offset)
{
    return quint8(d[offset]);
}

// Names travel as the Windows station sent them: one Windows-1252 byte per character.
QString nameText(const QByteArray& d, int offset, int length)
{
    return fromWindows1252(QByteArrayView(d.constData() + offset, length));
}

void putName(QByteArray& d, int offset, const QString& text, int length)
{
    const QByteArray bytes = toWindows1252(text);
    for (int i = 0; i < length; ++i)
        d[offset + i] = i < bytes.size() ? bytes[i] : ' ';
}

} // namespace

QString addressText(const QByteArray& datagram, int offset)
{
    // Built in place: a burst of replies is decoded on the GUI thread.
    char text[16];
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        const int value = byteAt(datagram, offset + i);
        if (i > 0)
            text[n++] = '.';
        if (value >= 100)
            text[n++] = char('0' + value / 100);
        if (value >= 10)
            text[n++] = char('0' + value / 10 % 10);
        text[n++] = char('0' + value % 10);
    }
    return QString::fromLatin1(text, n);
}

void putAddress(QByteArray& datagram, int offset, const QString& dotted)
{
    quint32 address = 0;
    if (!parseIPv4(dotted, address))
        address = 0; // only checked addresses are sent; anything else goes out as 0.0.0.0
    for (int i = 0; i < 4; ++i)
        datagram[offset + i] = char(address >> (24 - 8 * i));
}

QString formatElementName(const QString& name)
{
    // Upper case one character at a time: converting the whole text may lengthen it (the sharp
    // s becomes "SS"), and the name is exactly 16 characters on the wire and in the store. A
    // Latin-1 letter whose capital lies outside Latin-1 (y with diaeresis, micro sign) keeps
    // its form: its capital would not survive the one byte per character of the message.
    QString text = name.leftJustified(16, QLatin1Char(' '), true);
    for (QChar& c : text) {
        const QChar upper = c.toUpper();
        if (c.unicode() > 0xFF || upper.unicode() <= 0xFF)
            c = upper;
    }
    return text;
}

QByteArray buildConfigRequest(const ElementConfig& f, Role role)
{
    const bool decoder = role == Role::Decoder;
    QByteArray d(decoder ? 40 : 36, '\0');
    putAddress(d, 0, f.ip);
    putAddress(d, 4, f.mask);
    putAddress(d, 8, f.gateway);
    putAddress(d, 12, f.remote);
    d[16] = char(f.audioSource);
    d[17] = char(f.audioType);
    d[18] = char(f.txType);
    d[19] = char(f.sfn);
    putName(d, 20, formatElementName(f.name), 16);
    if (decoder) {
        d[36] = char(f.buffer);
        d[37] = char(f.silenceMode);
        d[38] = char(f.silenceLevel);
        d[39] = char(f.silenceTime);
    }
    return d;
}

bool parseConfigRequest(const QByteArray& d, ElementConfig& f)
{
    if (d.size() != 36 && d.size() != 40)
        return false;
    f.ip = addressText(d, 0);
    f.mask = addressText(d, 4);
    f.gateway = addressText(d, 8);
    f.remote = addressText(d, 12);
    f.audioSource = byteAt(d, 16);
    f.audioType = byteAt(d, 17);
    f.txType = byteAt(d, 18);
    f.sfn = byteAt(d, 19);
    f.name = nameText(d, 20, 16);
    if (d.size() == 40) {
        f.buffer = byteAt(d, 36);
        f.silenceMode = byteAt(d, 37);
        f.silenceLevel = byteAt(d, 38);
        f.silenceTime = byteAt(d, 39);
    }
    return true;
}

QByteArray buildAttenuationMessage(quint8 value)
{
    QByteArray d(2, '\0');
    d[0] = char(value);
    return d;
}

bool decodeConfigReply(const QByteArray& d, ElementConfig& r)
{
    const int length = int(d.size());
    if (length < kMinConfigReplySize)
        return false;
    r.ip = addressText(d, 0);
    r.mask = addressText(d, 4);
    r.gateway = addressText(d, 8);
    r.remote = addressText(d, 12);
    r.audioSource = byteAt(d, 16);
    r.audioType = byteAt(d, 17);
    r.txType = byteAt(d, 18);
    r.name = nameText(d, 19, 16);
    r.role = byteAt(d, 35);
    r.serial = qint32((quint32(byteAt(d, 36)) << 24) | (quint32(byteAt(d, 37)) << 16) |
                      (quint32(byteAt(d, 38)) << 8) | quint32(byteAt(d, 39)));
    // A field is taken when its condition holds and the datagram holds its byte.
    auto field = [&](int offset, bool condition, quint8 absent) {
        return (condition && offset < length) ? byteAt(d, offset) : absent;
    };
    if (r.role != 2) {
        const bool present = length > 41;
        r.versionMajor = field(40, present, 2);
        r.versionMinor = field(41, present, 0);
        r.sfn = field(42, present, 0);
        r.buffer = field(43, present, 0);
    } else {
        const bool present = length > 40;
        r.attenuation = field(40, present, 255);
        r.versionMajor = field(41, present, 2);
        r.versionMinor = field(42, present, 0);
        r.sfn = field(43, present, 0);
        r.buffer = field(44, present, 1);
        if (length > 45) {
            r.silenceMode = field(45, true, r.silenceMode);
            r.silenceLevel = field(46, true, r.silenceLevel);
            r.silenceTime = field(47, true, r.silenceTime);
        }
    }
    return true;
}

QByteArray buildConfigReply(const ElementConfig& r)
{
    const bool decoder = r.role == 2;
    QByteArray d(decoder ? 48 : 44, '\0');
    putAddress(d, 0, r.ip);
    putAddress(d, 4, r.mask);
    putAddress(d, 8, r.gateway);
    putAddress(d, 12, r.remote);
    d[16] = char(r.audioSource);
    d[17] = char(r.audioType);
    d[18] = char(r.txType);
    putName(d, 19, r.name, 16);
    d[35] = char(r.role);
    const quint32 sn = quint32(r.serial);
    d[36] = char(sn >> 24);
    d[37] = char(sn >> 16);
    d[38] = char(sn >> 8);
    d[39] = char(sn);
    if (decoder) {
        d[40] = char(r.attenuation);
        d[41] = char(r.versionMajor);
        d[42] = char(r.versionMinor);
        d[43] = char(r.sfn);
        d[44] = char(r.buffer);
        d[45] = char(r.silenceMode);
        d[46] = char(r.silenceLevel);
        d[47] = char(r.silenceTime);
    } else {
        d[40] = char(r.versionMajor);
        d[41] = char(r.versionMinor);
        d[42] = char(r.sfn);
        d[43] = char(r.buffer);
    }
    return d;
}

} // namespace vexo
