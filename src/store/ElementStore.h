#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace vexo {

// Store keys of an element section.
namespace keys {
inline const QString name = QStringLiteral("name");
inline const QString ip = QStringLiteral("ip");
inline const QString mask = QStringLiteral("mask");
inline const QString gw = QStringLiteral("gw");
inline const QString input = QStringLiteral("input");
inline const QString type = QStringLiteral("type");
inline const QString tx = QStringLiteral("tx");
inline const QString remote = QStringLiteral("remote");
inline const QString multi = QStringLiteral("multi");
inline const QString role = QStringLiteral("role");
inline const QString sn = QStringLiteral("sn");
inline const QString ver = QStringLiteral("ver");
inline const QString sfn = QStringLiteral("sfn");
inline const QString buf = QStringLiteral("buf");
inline const QString att = QStringLiteral("att");
inline const QString sdm = QStringLiteral("sdm");
inline const QString sdl = QStringLiteral("sdl");
inline const QString sdt = QStringLiteral("sdt");
inline const QString bound = QStringLiteral("bound");
inline const QString dly = QStringLiteral("dly");
inline const QString srv = QStringLiteral("srv");
} // namespace keys

// The value a reader gets for a key that the section does not hold.
QString storeDefault(const QString& key);

// A section of this many lines or more was not written by the station: it is refused.
constexpr int kCorruptedSectionLines = 21;

enum class Role
{
    Unknown = 0,
    Encoder = 1,
    Decoder = 2
};
// 1 encoder, 2 decoder; every other code (0, 3, ...) is an element that does not say what it is.
Role roleOf(int roleCode);
// "ENCODER", "DECODER", "UNKNOWN": only for showing a role.
QString roleCaption(Role role);
QString roleCaption(int roleCode);

// A section names an element when it is exactly 12 hexadecimal digits, as the station writes a
// MAC address; anything else in the file (a hand-added [GLOBALCONFIG]) is no element.
bool isElementSection(const QString& section);

// "00:50:C2:A1:B2:C3" -> "0050C2A1B2C3"; any text not 17 characters long gives "".
QString encodeMac(const QString& srcMAC);
// "0050c2a1b2c3" -> "00:50:C2:A1:B2:C3"; any text not 12 characters long gives "".
QString decodeMac(const QString& section);
// Four dot-separated whole numbers 0..255 (blanks around a part allowed).
bool isValidIp(const QString& text);
// A stored whole number; ok is false for an empty or non-numeric text.
int storedInt(const QString& text, bool* ok = nullptr);

// The element store file and reads with the schema's defaults.
class ElementStore
{
public:
    explicit ElementStore(QString path) : m_path(std::move(path)) {}
    const QString& path() const { return m_path; }
    bool exists() const;

    // Reads a key of the element whose MAC text (with colons) is given, with the key's default.
    QString read(const QString& macText, const QString& key) const;
    // Several keys of the element from one reading of the file, each with its default.
    QStringList read(const QString& macText, const QStringList& keys) const;
    // Several keys of the element from one reading of the file (empty where missing); nothing
    // when the store holds no section for it.
    std::optional<QStringList> readKeys(const QString& macText, const QStringList& keys) const;
    // The revision of the store's content: what was read under one revision still holds while
    // the revision is the same (0: the store cannot be read, so nothing read from it holds).
    quint64 revision() const;
    bool write(const QString& macText, const QString& key, const QString& value) const;
    // Several keys of the element with one replacement of the file: all of them or none.
    bool writeKeys(const QString& macText, const QList<QPair<QString, QString>>& keyValues) const;
    int lineCount(const QString& macText) const;
    // The MAC texts of every element section, in store order (empty when there is no store).
    QStringList elements() const;
    // Empties the store (discovery starts from an empty one); false when it could not be written.
    bool clear() const;

private:
    QString m_path;
};

} // namespace vexo
