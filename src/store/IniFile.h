#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace vexo {

// The INI layer of the element store. Every call goes to the file itself: a parsed copy is kept
// per path only while the file's identity, size and modification time are unchanged, so an
// edit made outside the station is seen by the next call. Reading never creates the file.
//
// File semantics:
//  - section and key names match without regard to case; the first occurrence wins;
//  - writes store new key names in upper case; a new section goes to the end of the file, a
//    new key to the end of its section; an existing key is changed where it stands;
//  - values are read without surrounding blanks and without one pair of enclosing quotes;
//  - lines are kept byte for byte (LF or CRLF, Latin-1, comments, blank and unknown lines);
//  - every write replaces the whole file atomically and reports whether it succeeded.

QString ReadFromINI(const QString& section, const QString& key, const QString& path,
                    const QString& defaultValue = QString());
// False when the file could not be written; the file then keeps its previous content.
bool WriteToINI(const QString& section, const QString& key, const QString& value, const QString& path);
// Several keys of one section, in the given order, with a single replacement of the file: the
// same result as writing them one by one, at the cost of one write.
bool WriteKeysToINI(const QString& section, const QList<QPair<QString, QString>>& keyValues,
                    const QString& path);
// Keys of several sections with a single replacement of the file (sections in the given order).
bool WriteSectionsToINI(const QList<QPair<QString, QList<QPair<QString, QString>>>>& sections,
                        const QString& path);
// Appends the section names, in file order, to the list (which is not cleared first).
void LoadIniSectionsLB(QStringList& list, const QString& path);
// Number of entries of the section (lines that are neither blank nor comments); 0 if absent.
int GetSectionKeyCount(const QString& section, const QString& path);

bool DeleteIniSection(const QString& section, const QString& path);
bool DeleteIniKey(const QString& section, const QString& key, const QString& path);
bool CheckIfIniKeyExists(const QString& section, const QString& key, const QString& path);
bool CheckIfIniSectionExists(const QString& section, const QString& path);
qint32 GetLongFromINI(const QString& section, const QString& key, const QString& path,
                      qint32 defaultValue = 0);
bool RenameIniKey(const QString& section, const QString& oldKey, const QString& newKey, const QString& path);
bool RenameIniSection(const QString& oldSection, const QString& newSection, const QString& path);
void LoadIniSectionKeysLB(const QString& section, QStringList& list, const QString& path);
QStringList LoadIniSectionsArray(const QString& path);

// The entries of a section as "key=value" lines, in file order.
QStringList ReadIniSection(const QString& section, const QString& path);

} // namespace vexo
