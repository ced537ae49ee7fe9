#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace vexo {

// The INI layer of the element store. Every call goes to the file itself: a parsed copy is kept
// per path only while the file's identity, size, modification and change times are unchanged,
// and its content is compared as well while those times could still repeat (just after a
// change, on two-second FAT times, on network mounts), so an edit made outside the station is
// seen by the next call. Reading never creates the file.
//
// File semantics:
//  - section and key names match without regard to case; the first occurrence wins;
//  - writes store new key names in upper case; a new section goes to the end of the file, a
//    new key to the end of its section; an existing key is changed where it stands;
//  - values are read without surrounding blanks and without one pair of enclosing quotes;
//  - a section line is "[name]", whatever follows the "]"; lines starting with ";" are
//    comments (a "#" line is an entry); a line ends at CR LF, LF or a lone CR;
//  - text is Windows-1252, or UTF-16 (either byte order) or UTF-8 when the file starts with
//    that byte-order mark; a file keeps its encoding and line ends, and untouched lines are kept
//    byte for byte;
//  - a file that exists but cannot be read reads as empty, and every write to it fails;
//  - every write replaces the whole file atomically (in place when its folder refuses new
//    files), keeps a symbolic link a link and the file's owner, group and mode, and reports
//    whether it succeeded.

QString readFromIni(const QString& section, const QString& key, const QString& path,
                    const QString& defaultValue = QString());
// Several keys of one section from one reading of the file, each as readFromIni would give it
// with its default (defaults[i] for keys[i]; empty where none is given).
QStringList readKeysFromIni(const QString& section, const QStringList& keys, const QString& path,
                            const QStringList& defaults);
// The same keys of several sections from one reading of the file: for each section, the values
// of the keys in the given order, each what readFromIni would give (empty where missing).
QList<QStringList> readFromIni(const QStringList& sections, const QStringList& keys, const QString& path);
// The keys of one section from one reading of the file, as readKeysFromIni gives them; nothing
// when the file holds no such section.
std::optional<QStringList> readSectionKeys(const QString& section, const QStringList& keys,
                                           const QString& path, const QStringList& defaults = {});
// The revision of the file's content as this process last read or wrote it: the same number as
// long as the file holds the same content, a new one after any change, by this process or
// another. 0 when the file is missing, cannot be read, or was changing while it was read.
quint64 iniRevision(const QString& path);
// False when the file could not be written; the file then keeps its previous content.
bool writeToIni(const QString& section, const QString& key, const QString& value, const QString& path);
// Several keys of one section, in the given order, with a single replacement of the file: the
// same result as writing them one by one, at the cost of one write.
bool writeKeysToIni(const QString& section, const QList<QPair<QString, QString>>& keyValues,
                    const QString& path);
// Keys of several sections with a single replacement of the file (sections in the given order).
bool writeSectionsToIni(const QList<QPair<QString, QList<QPair<QString, QString>>>>& sections,
                        const QString& path);
// Appends the section names, in file order, to the list (which is not cleared first).
void loadIniSectionsInto(QStringList& list, const QString& path);
// Number of entries of the section (lines that are neither blank nor comments); 0 if absent.
int sectionKeyCount(const QString& section, const QString& path);

QStringList iniSections(const QString& path);

// Replaces the store with an empty file through the same write as every other change.
bool emptyIniFile(const QString& path);

// Replaces the whole file with the given bytes, exactly, through the same atomic write as every
// other change (a store copy put back). False when it could not be written.
bool replaceIniFile(const QString& path, const QByteArray& bytes);

// The entries of a section as "key=value" lines, in file order.
QStringList readIniSection(const QString& section, const QString& path);

// The code page of stores without a byte-order mark, as the earlier station wrote them. A
// character it lacks becomes "?"; U+0080..U+009F go back to the byte of that value.
QByteArray toWindows1252(QStringView text);
QString fromWindows1252(QByteArrayView bytes);

} // namespace vexo
