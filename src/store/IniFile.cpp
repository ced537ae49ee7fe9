#include "IniFile.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>

#include <sys/stat.h>

#include <optional>
#include <vector>

namespace vexo {

namespace {

struct Line
{
    QByteArray text; // without its line end
    QByteArray end;  // "\n", "\r\n" or empty for a last line without one
};

struct Entry
{
    int line;
    QByteArray keyUpper;
};

struct Section
{
    QByteArray name; // as written between the brackets, trimmed
    int headerLine;  // -1 for the lines before the first section
    int lastLine;    // last line that belongs to the section
    std::vector<Entry> entries;
    QHash<QByteArray, int> firstEntry; // upper-case key -> index into entries
};

struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    qint64 mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

struct Document
{
    std::vector<Line> lines;
    std::vector<Section> sections;       // sections[0] holds the lines before the first header
    QHash<QByteArray, int> firstSection; // upper-case name -> index into sections
    QByteArray newline = "\n";

    void index();
    const Section* find(const QByteArray& name) const;
    QByteArray serialize() const;
};

bool isBlankOrComment(const QByteArray& trimmed)
{
    return trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#');
}

// A section line: "[name]" with blanks allowed around it.
std::optional<QByteArray> sectionName(const QByteArray& line)
{
    const QByteArray t = line.trimmed();
    if (t.size() < 2 || !t.startsWith('[') || !t.endsWith(']'))
        return std::nullopt;
    return t.mid(1, t.size() - 2).trimmed();
}

void Document::index()
{
    sections.clear();
    firstSection.clear();
    sections.push_back(Section{{}, -1, -1, {}, {}});
    for (int i = 0; i < int(lines.size()); ++i) {
        const QByteArray& text = lines[size_t(i)].text;
        if (auto name = sectionName(text)) {
            sections.push_back(Section{*name, i, i, {}, {}});
            const QByteArray upper = name->toUpper();
            if (!firstSection.contains(upper))
                firstSection.insert(upper, int(sections.size()) - 1);
            continue;
        }
        Section& current = sections.back();
        current.lastLine = i;
        const QByteArray trimmed = text.trimmed();
        if (isBlankOrComment(trimmed))
            continue;
        const int eq = trimmed.indexOf('=');
        const QByteArray key = (eq < 0 ? trimmed : trimmed.left(eq)).trimmed().toUpper();
        current.entries.push_back(Entry{i, eq < 0 ? QByteArray() : key});
        if (eq >= 0 && !current.firstEntry.contains(key))
            current.firstEntry.insert(key, int(current.entries.size()) - 1);
    }
}

const Section* Document::find(const QByteArray& name) const
{
    const auto it = firstSection.constFind(name.trimmed().toUpper());
    return it == firstSection.constEnd() ? nullptr : &sections[size_t(*it)];
}

QByteArray Document::serialize() const
{
    QByteArray out;
    qsizetype total = 0;
    for (const Line& l : lines)
        total += l.text.size() + l.end.size();
    out.reserve(total);
    for (const Line& l : lines) {
        out += l.text;
        out += l.end;
    }
    return out;
}

Document parse(const QByteArray& bytes)
{
    Document doc;
    qsizetype start = 0;
    bool sawCrlf = false;
    bool sawLf = false;
    while (start < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', start);
        if (nl < 0) {
            doc.lines.push_back(Line{bytes.mid(start), {}});
            break;
        }
        if (nl > start && bytes[nl - 1] == '\r') {
            doc.lines.push_back(Line{bytes.mid(start, nl - 1 - start), "\r\n"});
            sawCrlf = true;
        } else {
            doc.lines.push_back(Line{bytes.mid(start, nl - start), "\n"});
            sawLf = true;
        }
        start = nl + 1;
    }
    // New lines follow the style the file already has.
    if (sawCrlf && !sawLf)
        doc.newline = "\r\n";
    else if (sawCrlf && sawLf && !doc.lines.empty() && doc.lines.front().end == "\r\n")
        doc.newline = "\r\n";
    doc.index();
    return doc;
}

std::optional<FileStamp> stampOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

struct Cached
{
    FileStamp stamp;
    Document doc;
};

QHash<QString, Cached>& cache()
{
    static QHash<QString, Cached> c;
    return c;
}

// The file's current content, parsed; an empty document when it is missing or unreadable.
const Document& load(const QString& path)
{
    static const Document empty = [] {
        Document d;
        d.index();
        return d;
    }();
    const auto stamp = stampOf(path);
    if (!stamp) {
        cache().remove(path);
        return empty;
    }
    auto it = cache().find(path);
    if (it != cache().end() && it->stamp == *stamp)
        return it->doc;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        cache().remove(path);
        return empty;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    // Stamp again after reading: a writer racing with us must not leave a stale copy behind.
    const auto after = stampOf(path);
    Cached entry{after.value_or(*stamp), parse(bytes)};
    if (!after || !(*after == *stamp)) {
        static Document uncached;
        uncached = std::move(entry.doc);
        cache().remove(path);
        return uncached;
    }
    return cache().insert(path, std::move(entry))->doc;
}

// The file's content for a change: the parsed copy is taken over rather than copied. Until the
// changed file is stored the cache holds nothing for the path, so a write that fails leaves the
// next call to read the file as it is.
Document loadForWrite(const QString& path)
{
    load(path);
    auto it = cache().find(path);
    if (it == cache().end()) {
        Document doc = load(path); // missing, unreadable or changing under us: no cached copy
        return doc;
    }
    Document doc = std::move(it->doc);
    cache().erase(it);
    return doc;
}

bool store(const QString& path, Document doc)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = doc.serialize();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    if (const auto stamp = stampOf(path))
        cache().insert(path, Cached{*stamp, std::move(doc)});
    else
        cache().remove(path);
    return true;
}

QByteArray toBytes(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    // A value must stay on its own line: control characters would break the file apart.
    for (char& c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return bytes;
}

QString valueOf(const QByteArray& line)
{
    const int eq = line.indexOf('=');
    QByteArray v = line.mid(eq + 1).trimmed();
    if (v.size() >= 2 && ((v.startsWith('"') && v.endsWith('"')) || (v.startsWith('\'') && v.endsWith('\''))))
        v = v.mid(1, v.size() - 2);
    return QString::fromLatin1(v);
}

std::optional<int> entryLine(const Section& section, const QByteArray& keyUpper)
{
    const auto it = section.firstEntry.constFind(keyUpper);
    if (it == section.firstEntry.constEnd())
        return std::nullopt;
    return section.entries[size_t(*it)].line;
}

} // namespace

QString ReadFromINI(const QString& section, const QString& key, const QString& path,
                    const QString& defaultValue)
{
    const Document& doc = load(path);
    const Section* s = doc.find(toBytes(section));
    if (!s || s->headerLine < 0)
        return defaultValue;
    const auto line = entryLine(*s, toBytes(key).trimmed().toUpper());
    if (!line)
        return defaultValue;
    return valueOf(doc.lines[size_t(*line)].text);
}

namespace {

// Puts one key into the parsed file, as a write of that key alone would.
bool applyWrite(Document& doc, const QString& section, const QString& key, const QString& value)
{
    const QByteArray sectionBytes = toBytes(section).trimmed();
    const QByteArray keyBytes = toBytes(key).trimmed().toUpper();
    if (sectionBytes.isEmpty() || keyBytes.isEmpty() || keyBytes.contains('=') || sectionBytes.contains(']'))
        return false;
    // Blanks at the end of a value are not kept (they would be dropped on reading anyway).
    QByteArray valueBytes = toBytes(value);
    while (valueBytes.endsWith(' ') || valueBytes.endsWith('\t'))
        valueBytes.chop(1);
    const QByteArray newLine = keyBytes + '=' + valueBytes;

    const Section* s = doc.find(sectionBytes);
    if (s && s->headerLine >= 0) {
        if (const auto line = entryLine(*s, keyBytes)) {
            // Keep the key's own spelling; change only what follows "=".
            QByteArray& text = doc.lines[size_t(*line)].text;
            text = text.left(text.indexOf('=') + 1) + valueBytes;
            return true;
        }
        // After the section's last entry, so blank lines between sections stay put.
        const size_t si = size_t(s - doc.sections.data());
        const int after = s->entries.empty() ? s->headerLine : s->entries.back().line;
        if (doc.lines[size_t(after)].end.isEmpty())
            doc.lines[size_t(after)].end = doc.newline;
        const int at = after + 1;
        doc.lines.insert(doc.lines.begin() + at, Line{newLine, doc.newline});
        // The index follows the insertion instead of being rebuilt: a store of a thousand
        // elements has tens of thousands of lines.
        Section& target = doc.sections[si];
        target.lastLine += 1;
        target.entries.push_back(Entry{at, keyBytes});
        target.firstEntry.insert(keyBytes, int(target.entries.size()) - 1);
        for (size_t i = si + 1; i < doc.sections.size(); ++i) {
            Section& later = doc.sections[i];
            later.headerLine += 1;
            later.lastLine += 1;
            for (Entry& e : later.entries)
                e.line += 1;
        }
        return true;
    }
    if (!doc.lines.empty() && doc.lines.back().end.isEmpty())
        doc.lines.back().end = doc.newline;
    const int header = int(doc.lines.size());
    doc.lines.push_back(Line{'[' + sectionBytes + ']', doc.newline});
    doc.lines.push_back(Line{newLine, doc.newline});
    Section added{sectionBytes, header, header + 1, {Entry{header + 1, keyBytes}}, {}};
    added.firstEntry.insert(keyBytes, 0);
    doc.sections.push_back(std::move(added));
    // find() said no section of this name exists.
    doc.firstSection.insert(sectionBytes.toUpper(), int(doc.sections.size()) - 1);
    return true;
}

} // namespace

bool WriteToINI(const QString& section, const QString& key, const QString& value, const QString& path)
{
    Document doc = loadForWrite(path);
    return applyWrite(doc, section, key, value) && store(path, std::move(doc));
}

bool WriteKeysToINI(const QString& section, const QList<QPair<QString, QString>>& keyValues,
                    const QString& path)
{
    Document doc = loadForWrite(path);
    for (const auto& [key, value] : keyValues) {
        if (!applyWrite(doc, section, key, value))
            return false;
    }
    return store(path, std::move(doc));
}

bool WriteSectionsToINI(const QList<QPair<QString, QList<QPair<QString, QString>>>>& sections,
                        const QString& path)
{
    Document doc = loadForWrite(path);
    for (const auto& [section, keyValues] : sections) {
        for (const auto& [key, value] : keyValues) {
            if (!applyWrite(doc, section, key, value))
                return false;
        }
    }
    return store(path, std::move(doc));
}

void LoadIniSectionsLB(QStringList& list, const QString& path)
{
    list += LoadIniSectionsArray(path);
}

QStringList LoadIniSectionsArray(const QString& path)
{
    const Document& doc = load(path);
    QStringList names;
    names.reserve(qsizetype(doc.sections.size()));
    for (size_t i = 1; i < doc.sections.size(); ++i) {
        const Section& s = doc.sections[i];
        // A name that appears twice is listed once, where it first stands.
        if (doc.firstSection.value(s.name.toUpper()) == int(i))
            names << QString::fromLatin1(s.name);
    }
    return names;
}

int GetSectionKeyCount(const QString& section, const QString& path)
{
    const Document& doc = load(path);
    const Section* s = doc.find(toBytes(section));
    return (s && s->headerLine >= 0) ? int(s->entries.size()) : 0;
}

QStringList ReadIniSection(const QString& section, const QString& path)
{
    const Document& doc = load(path);
    QStringList lines;
    const Section* s = doc.find(toBytes(section));
    if (!s || s->headerLine < 0)
        return lines;
    for (const Entry& e : s->entries)
        lines << QString::fromLatin1(doc.lines[size_t(e.line)].text.trimmed());
    return lines;
}

bool DeleteIniSection(const QString& section, const QString& path)
{
    Document doc = loadForWrite(path);
    const Section* s = doc.find(toBytes(section));
    if (!s || s->headerLine < 0)
        return true;
    doc.lines.erase(doc.lines.begin() + s->headerLine, doc.lines.begin() + s->lastLine + 1);
    doc.index();
    return store(path, std::move(doc));
}

bool DeleteIniKey(const QString& section, const QString& key, const QString& path)
{
    Document doc = loadForWrite(path);
    const Section* s = doc.find(toBytes(section));
    if (!s || s->headerLine < 0)
        return true;
    const auto line = entryLine(*s, toBytes(key).trimmed().toUpper());
    if (!line)
        return true;
    doc.lines.erase(doc.lines.begin() + *line);
    doc.index();
    return store(path, std::move(doc));
}

bool CheckIfIniKeyExists(const QString& section, const QString& key, const QString& path)
{
    return ReadFromINI(section, key, path, QStringLiteral("A")) ==
           ReadFromINI(section, key, path, QStringLiteral("B"));
}

bool CheckIfIniSectionExists(const QString& section, const QString& path)
{
    return GetSectionKeyCount(section, path) > 0;
}

qint32 GetLongFromINI(const QString& section, const QString& key, const QString& path, qint32 defaultValue)
{
    const QString text = ReadFromINI(section, key, path, QString());
    if (text.isEmpty())
        return defaultValue;
    // Like the platform call: the leading digits count, anything else gives 0.
    qint64 value = 0;
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    for (; i < text.size() && text[i].isDigit() && value <= 0x7fffffffLL; ++i)
        value = value * 10 + text[i].digitValue();
    value = std::min<qint64>(value, 0x7fffffffLL);
    return qint32(negative ? -value : value);
}

bool RenameIniKey(const QString& section, const QString& oldKey, const QString& newKey, const QString& path)
{
    if (!CheckIfIniKeyExists(section, oldKey, path))
        return true;
    if (oldKey.compare(newKey, Qt::CaseInsensitive) == 0)
        return false;
    const QString value = ReadFromINI(section, oldKey, path);
    return WriteToINI(section, newKey, value, path) && DeleteIniKey(section, oldKey, path);
}

bool RenameIniSection(const QString& oldSection, const QString& newSection, const QString& path)
{
    const QStringList lines = ReadIniSection(oldSection, path);
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() < 2)
            continue;
        if (!WriteToINI(newSection, parts[0].trimmed(), parts[1], path))
            return false;
    }
    return DeleteIniSection(oldSection, path);
}

void LoadIniSectionKeysLB(const QString& section, QStringList& list, const QString& path)
{
    for (const QString& line : ReadIniSection(section, path))
        list << line.section(QLatin1Char('='), 0, 0);
}

} // namespace vexo
