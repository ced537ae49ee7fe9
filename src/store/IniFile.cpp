#include "IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace vexo {

namespace {

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined keep their C1 code points, as
// the Windows conversion does.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

QByteArray toWindows1252(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += char(c);
            continue;
        }
        char byte = '?';
        for (int k = 0; k < 32; ++k) {
            if (kCp1252High[k] == c) {
                byte = char(0x80 + k);
                break;
            }
        }
        // A C1 character (a Latin-1 byte taken as it came) goes back to that byte.
        if (byte == '?' && c >= 0x80 && c <= 0x9F)
            byte = char(c);
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i; // one character, one '?'
        out += byte;
    }
    return out;
}

QString fromWindows1252(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes[i]);
        d[i] = (b >= 0x80 && b <= 0x9F) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return out;
}

namespace {

enum class Encoding
{
    Ansi,    // Windows-1252, no byte-order mark
    Utf8,    // with a byte-order mark
    Utf16Le, // with a byte-order mark
    Utf16Be, // with a byte-order mark
};

struct Line
{
    QByteArray text; // without its line end: Windows-1252 in an ANSI file, UTF-8 otherwise
    QByteArray end;  // "\r\n", "\n", "\r", or empty for a last line without one
    QByteArray wide; // in a UTF-16 file, the line's own bytes (with its end) while unchanged
};

struct Entry
{
    int line;
    QByteArray key; // as written (trimmed), compared without regard to case
    bool keyed;     // a line with "=": a line without one has no key
};

struct Section
{
    QByteArray name;            // as written between the brackets, trimmed
    int headerLine;             // -1 for the lines before the first section
    int lastLine;               // last line that belongs to the section
    std::vector<Entry> entries; // a key's first entry counts; a section holds a few dozen
};

struct Document
{
    Encoding encoding = Encoding::Ansi;
    QByteArray bom;
    QByteArray source; // the file as read: the texts of its lines point into it until changed
    std::vector<Line> lines;
    std::vector<Section> sections;       // sections[0] holds the lines before the first header
    QHash<QByteArray, int> firstSection; // upper-case name -> index into sections
    QByteArray newline = "\n";

    void index();
    QByteArray keyOf(QByteArrayView key) const;
    const Section* find(const QByteArray& name) const;
    QByteArray serialize() const;
    QByteArray encode(const QString& text) const;
    QString decode(const QByteArray& text) const;
};

using DocumentPtr = std::shared_ptr<const Document>;

QByteArray Document::encode(const QString& text) const
{
    QByteArray bytes = encoding == Encoding::Ansi ? toWindows1252(text) : text.toUtf8();
    // A value must stay on its own line: control characters would break the file apart.
    for (char& c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return bytes;
}

QString Document::decode(const QByteArray& text) const
{
    return encoding == Encoding::Ansi ? fromWindows1252(text) : QString::fromUtf8(text);
}

QByteArray toUtf16(const QByteArray& utf8, Encoding encoding)
{
    const QString text = QString::fromUtf8(utf8);
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        const char hi = char(u >> 8);
        const char lo = char(u & 0xFF);
        out[2 * i] = encoding == Encoding::Utf16Le ? lo : hi;
        out[2 * i + 1] = encoding == Encoding::Utf16Le ? hi : lo;
    }
    return out;
}

// Bytes of a line that stays unchanged, without a copy.
QByteArray rawBytes(QByteArrayView bytes)
{
    return QByteArray::fromRawData(bytes.data(), bytes.size());
}

// Keys match as upper-casing both would make them match.
bool sameKey(const QByteArray& written, const QByteArray& upper)
{
    if (written.size() != upper.size())
        return false;
    for (qsizetype i = 0; i < written.size(); ++i) {
        const char c = written[i];
        if ((c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c) != upper[i])
            return false;
    }
    return true;
}

// A section line: "[name]", blanks allowed around it and anything after the "]" ignored.
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    const QByteArrayView t = line.trimmed();
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']', 1);
    if (close < 0)
        return std::nullopt;
    return t.sliced(1, close - 1).trimmed();
}

// A key as written. One in the file's bytes is not copied: they stay as long as the document,
// whereas a line's own text goes when the line is changed.
QByteArray Document::keyOf(QByteArrayView key) const
{
    const char* from = source.constData();
    const bool inSource = !source.isEmpty() && key.data() >= from && key.data() < from + source.size();
    return inSource ? rawBytes(key) : key.toByteArray();
}

// Runs over every line of a store of a thousand elements at start-up: it looks at the lines
// in place and makes only the upper-case names and keys.
void Document::index()
{
    sections.clear();
    firstSection.clear();
    sections.push_back(Section{{}, -1, -1, {}});
    for (int i = 0; i < int(lines.size()); ++i) {
        const QByteArrayView text = lines[size_t(i)].text;
        if (auto name = sectionName(text)) {
            // Sections of a store are alike: room for as many entries as the one before, up to
            // what a station's section holds (a hand-made giant must not multiply).
            const size_t likely = std::min<size_t>(sections.back().entries.size(), 64);
            sections.push_back(Section{name->toByteArray(), i, i, {}});
            sections.back().entries.reserve(likely);
            QByteArray upper = name->toByteArray().toUpper();
            if (!firstSection.contains(upper))
                firstSection.insert(std::move(upper), int(sections.size()) - 1);
            continue;
        }
        Section& current = sections.back();
        current.lastLine = i;
        const QByteArrayView trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(';'))
            continue;
        const qsizetype eq = trimmed.indexOf('=');
        if (eq < 0)
            current.entries.push_back(Entry{i, {}, false});
        else
            current.entries.push_back(Entry{i, keyOf(trimmed.first(eq).trimmed()), true});
    }
}

const Section* Document::find(const QByteArray& name) const
{
    const auto it = firstSection.constFind(name.trimmed().toUpper());
    return it == firstSection.constEnd() ? nullptr : &sections[size_t(*it)];
}

QByteArray Document::serialize() const
{
    const bool wideFile = encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
    qsizetype total = bom.size();
    for (const Line& l : lines)
        total += wideFile ? std::max(l.wide.size(), 2 * (l.text.size() + l.end.size()))
                          : l.text.size() + l.end.size();
    if (!wideFile) {
        // Copied straight into place: tens of thousands of appends cost more than the write.
        QByteArray out(total, Qt::Uninitialized);
        char* at = std::copy(bom.begin(), bom.end(), out.data());
        for (const Line& l : lines) {
            at = std::copy(l.text.begin(), l.text.end(), at);
            at = std::copy(l.end.begin(), l.end.end(), at);
        }
        return out;
    }
    QByteArray out = bom;
    out.reserve(total);
    for (const Line& l : lines) {
        if (!l.wide.isEmpty()) {
            out += l.wide;
        } else {
            out += toUtf16(l.text + l.end, encoding);
        }
    }
    return out;
}

// Lines end at CR LF, LF or a lone CR. New lines follow the end of the file's first line.
// The lines' texts point into the document's source; the three line ends are shared.
void splitLines(Document& doc, qsizetype from)
{
    static const QByteArray crlf("\r\n"), lf("\n"), cr("\r");
    const char* data = doc.source.constData();
    const qsizetype size = doc.source.size();
    doc.lines.reserve(size_t(std::count(data + from, data + size, '\n')) + 1);
    // The next CR and the next LF, each looked for again only once passed (a file may have
    // only one kind).
    const auto next = [&](char c, qsizetype at) {
        const void* found = std::memchr(data + at, c, size_t(size - at));
        return found ? static_cast<const char*>(found) - data : size;
    };
    qsizetype nextCr = next('\r', from);
    qsizetype nextLf = next('\n', from);
    qsizetype start = from;
    while (start < size) {
        if (nextCr < start)
            nextCr = next('\r', start);
        if (nextLf < start)
            nextLf = next('\n', start);
        const qsizetype i = std::min(nextCr, nextLf);
        const QByteArray text = QByteArray::fromRawData(data + start, i - start);
        if (i == size) {
            doc.lines.push_back(Line{text, {}, {}});
            break;
        }
        const bool pair = data[i] == '\r' && i + 1 < size && data[i + 1] == '\n';
        doc.lines.push_back(Line{text, pair ? crlf : data[i] == '\n' ? lf : cr, {}});
        start = i + (pair ? 2 : 1);
    }
}

void splitWideLines(Document& doc, const QByteArray& bytes)
{
    const qsizetype units = (bytes.size() - 2) / 2;
    QString text(units, Qt::Uninitialized);
    const bool le = doc.encoding == Encoding::Utf16Le;
    for (qsizetype i = 0; i < units; ++i) {
        const uchar a = uchar(bytes[2 + 2 * i]);
        const uchar b = uchar(bytes[2 + 2 * i + 1]);
        text[i] = QChar(char16_t(le ? (b << 8 | a) : (a << 8 | b)));
    }
    qsizetype start = 0;
    while (start < units) {
        qsizetype i = start;
        while (i < units && text[i] != u'\n' && text[i] != u'\r')
            ++i;
        qsizetype endLength = 0;
        if (i < units)
            endLength = (text[i] == u'\r' && i + 1 < units && text[i + 1] == u'\n') ? 2 : 1;
        Line line{QStringView(text).mid(start, i - start).toUtf8(),
                  QStringView(text).mid(i, endLength).toUtf8(),
                  bytes.mid(2 + 2 * start, 2 * (i - start + endLength))};
        doc.lines.push_back(std::move(line));
        start = i + endLength;
    }
    // An odd last byte stays with the last line.
    if (bytes.size() % 2 != 0) {
        if (doc.lines.empty())
            doc.lines.push_back(Line{});
        doc.lines.back().wide += bytes.right(1);
    }
}

Document parse(const QByteArray& bytes)
{
    Document doc;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        doc.encoding = bytes.startsWith("\xFF\xFE") ? Encoding::Utf16Le : Encoding::Utf16Be;
        doc.bom = bytes.left(2);
        splitWideLines(doc, bytes);
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        doc.encoding = Encoding::Utf8;
        doc.bom = bytes.left(3);
        doc.source = bytes;
        splitLines(doc, 3);
    } else {
        doc.source = bytes;
        splitLines(doc, 0);
    }
    for (const Line& l : doc.lines) {
        if (!l.end.isEmpty()) {
            doc.newline = l.end;
            break;
        }
    }
    doc.index();
    return doc;
}

struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0; // set by the kernel at every change; no tool can set it back
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& st)
{
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    s.ctimeNs = qint64(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return s;
}

qint64 nowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// How long after a change the file's times may still repeat for a second change: the stamp
// alone proves nothing within that time. Negative: never rely on the stamp alone (network
// mounts, whose times come from another clock and whose attributes may be cached, and file
// systems we do not know).
qint64 stampDoubtNs(const QByteArray& nativePath)
{
    struct statfs fs
    {
    };
    if (::statfs(nativePath.constData(), &fs) != 0)
        return -1;
    switch (quint32(fs.f_type)) {
    case 0xEF53:                // ext2, ext3, ext4
    case 0x58465342:            // xfs
    case 0x9123683E:            // btrfs
    case 0x01021994:            // tmpfs
    case 0x794C7630:            // overlayfs
    case 0xF2F52010:            // f2fs
    case 0x2FC12FC1:            // zfs
    case 0x7366746E:            // ntfs3
        return 20'000'000LL;    // timestamps follow the kernel's clock tick (10 ms at most)
    case 0x4D44:                // FAT
    case 0x2011BAB0:            // exFAT
        return 2'000'000'000LL; // two-second modification times
    default:
        return -1;
    }
}

// Each parsed copy that the cache keeps is a revision of its file: a caller that keeps what
// it read with the revision knows, from the revision alone, whether it is still what the file holds.
quint64 nextRevision()
{
    static quint64 last = 0;
    return ++last;
}

struct Cached
{
    FileStamp stamp;
    DocumentPtr doc;
    QByteArray bytes;        // the content the document was made from
    qint64 verifiedAtNs = 0; // the file was known to hold `bytes` from this time on
    qint64 doubtNs = -1;     // see stampDoubtNs()
    quint64 revision = nextRevision();

    bool stampSuffices() const
    {
        // Times in whole seconds (old ext3 inodes, some servers): a second may repeat.
        const qint64 doubt =
            stamp.ctimeNs % 1'000'000'000LL == 0 ? std::max<qint64>(doubtNs, 1'000'000'000LL) : doubtNs;
        return doubtNs >= 0 && verifiedAtNs - stamp.ctimeNs > doubt;
    }
};

QHash<QString, Cached>& cache()
{
    static QHash<QString, Cached> c;
    return c;
}

DocumentPtr emptyDocument()
{
    static const DocumentPtr empty = [] {
        auto d = std::make_shared<Document>();
        d->index();
        return d;
    }();
    return empty;
}

enum class FileState
{
    Missing,
    Readable,
    Unreadable, // exists but could not be read, or is not a regular file
};

struct Loaded
{
    FileState state = FileState::Missing;
    DocumentPtr doc;      // empty document unless Readable
    QByteArray bytes;     // the content read
    quint64 revision = 0; // 0: a content the cache does not keep (see iniRevision())
};

std::optional<QByteArray> readAll(int fd)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        bytes.append(buffer, n);
    }
}

// The file name as the system takes it, for the path last asked for: the store asks for its own
// path over and over, twenty times a second while a level is monitored.
QByteArray nativeName(const QString& path)
{
    static QString lastPath;
    static QByteArray lastNative;
    if (path != lastPath) {
        lastNative = QFile::encodeName(path);
        lastPath = path;
    }
    return lastNative;
}

// The file's current content, parsed. Each caller gets its own reference to an immutable
// document, which nothing later invalidates.
Loaded load(const QString& path)
{
    const QByteArray native = nativeName(path);
    struct stat st
    {
    };
    if (::stat(native.constData(), &st) != 0) {
        cache().remove(path);
        return {errno == ENOENT ? FileState::Missing : FileState::Unreadable, emptyDocument(), {}};
    }
    if (!S_ISREG(st.st_mode)) {
        // A folder, a pipe or a device in the store's place: never opened (a pipe would block).
        cache().remove(path);
        return {FileState::Unreadable, emptyDocument(), {}};
    }
    auto it = cache().find(path);
    if (it != cache().end() && it->stamp == stampOf(st) && it->stampSuffices())
        return {FileState::Readable, it->doc, it->bytes, it->revision};

    const qint64 readAt = nowNs();
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const bool missing = errno == ENOENT;
        cache().remove(path);
        return {missing ? FileState::Missing : FileState::Unreadable, emptyDocument(), {}};
    }
    struct stat before
    {
    };
    struct stat after
    {
    };
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &before) == 0 && S_ISREG(before.st_mode))
        bytes = readAll(fd);
    const bool steady = bytes && ::fstat(fd, &after) == 0 && stampOf(before) == stampOf(after);
    const qint64 doubt = bytes ? stampDoubtNs(native) : -1;
    ::close(fd);
    it = cache().find(path);
    if (!bytes) {
        cache().remove(path);
        return {FileState::Unreadable, emptyDocument(), {}};
    }
    if (!steady) {
        // Written while we read: use what we got, keep no copy.
        cache().remove(path);
        return {FileState::Readable, std::make_shared<Document>(parse(*bytes)), *bytes};
    }
    const FileStamp stamp = stampOf(after);
    if (it != cache().end() && it->stamp == stamp && it->bytes == *bytes) {
        it->verifiedAtNs = readAt; // same content as the parsed copy: no need to parse again
        return {FileState::Readable, it->doc, it->bytes, it->revision};
    }
    Cached entry{stamp, std::make_shared<Document>(parse(*bytes)), *bytes, readAt, doubt};
    const auto kept = cache().insert(path, std::move(entry));
    return {FileState::Readable, kept->doc, *bytes, kept->revision};
}

struct Edit
{
    Document doc;
    QByteArray original; // the file's content before the change
};

// The file's content for a change, or nothing when the file exists but cannot be read: a
// change made to an empty stand-in would replace the whole store. The parsed copy is taken
// over rather than copied when no one else holds it; until the changed file is stored the
// cache holds nothing for the path, so a write that fails leaves the next call to read the
// file as it is.
std::optional<Edit> loadForWrite(const QString& path)
{
    Loaded loaded = load(path);
    if (loaded.state == FileState::Unreadable)
        return std::nullopt;
    cache().remove(path);
    Edit edit{{}, loaded.bytes};
    if (loaded.doc.use_count() == 1) {
        // Made by load() with make_shared<Document>, so the object itself is not const.
        edit.doc = std::move(const_cast<Document&>(*loaded.doc));
    } else {
        edit.doc = *loaded.doc;
    }
    return edit;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The store's folder refuses new files but the store itself may be written: it is rewritten
// in place, as Windows does. The space is reserved first, so a full disk fails before anything
// changes; a failed write puts the old content back. What is lost is atomicity: a crash or a
// power cut in the middle of the write, or a reader at that moment, can see old and new mixed.
bool writeInPlace(const QString& target, const QByteArray& bytes, const QByteArray& original)
{
    const int fd =
        ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st
    {
    };
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == original.size();
    if (ok && bytes.size() > st.st_size)
        ok = ::posix_fallocate(fd, 0, off_t(bytes.size())) == 0;
    if (ok) {
        ok = writeAll(fd, bytes) && ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fsync(fd) == 0;
        if (!ok && writeAll(fd, original))
            (void)::ftruncate(fd, off_t(original.size()));
    }
    ::close(fd);
    return ok;
}

bool folderRefusesNewFiles(const QString& target)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
    return ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// Replaces the file's content with the bytes. A symbolic link stays a link (its target is
// written); the file keeps its owner and group where the writer may set them, and its mode.
bool replaceContent(const QString& path, const QByteArray& bytes, const QByteArray& original)
{
    struct stat existing
    {
    };
    const bool exists = ::stat(QFile::encodeName(path).constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return false;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        if (exists) {
            const int fd = file.handle();
            if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
                if (::fchown(fd, existing.st_uid, existing.st_gid) != 0)
                    (void)::fchown(fd, uid_t(-1), existing.st_gid);
            }
            (void)::fchmod(fd, existing.st_mode & 07777);
        }
        // Written past Qt's buffer: a write the disk cuts short (a full disk, a file-size limit)
        // is reported by the buffer's flush as a success when part of it went through.
        if (!writeAll(file.handle(), bytes)) {
            file.cancelWriting();
            return false;
        }
        if (!file.commit())
            return false;
    } else {
        const QString target = QFileInfo(path).canonicalFilePath();
        if (!exists || target.isEmpty() || !folderRefusesNewFiles(target) ||
            !writeInPlace(target, bytes, original))
            return false;
    }
    return true;
}

bool store(const QString& path, Document doc, const QByteArray& original)
{
    const QByteArray bytes = doc.serialize();
    const qint64 writtenAt = nowNs();
    if (!replaceContent(path, bytes, original))
        return false;
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        cache().remove(path);
        return true;
    }
    // Checked against the content by the next call until the file's times have moved on.
    cache().insert(path, Cached{stampOf(st), std::make_shared<Document>(std::move(doc)), bytes, writtenAt,
                                stampDoubtNs(QFile::encodeName(path))});
    return true;
}

QString valueOf(const Document& doc, const QByteArray& line)
{
    const int eq = line.indexOf('=');
    QByteArray v = line.mid(eq + 1).trimmed();
    if (v.size() >= 2 && ((v.startsWith('"') && v.endsWith('"')) || (v.startsWith('\'') && v.endsWith('\''))))
        v = v.mid(1, v.size() - 2);
    return doc.decode(v);
}

std::optional<int> entryLine(const Section& section, const QByteArray& keyUpper)
{
    for (const Entry& e : section.entries) {
        if (e.keyed && sameKey(e.key, keyUpper))
            return e.line;
    }
    return std::nullopt;
}

const Section* findSection(const Document& doc, const QString& section)
{
    const Section* s = doc.find(doc.encode(section));
    return (s && s->headerLine >= 0) ? s : nullptr;
}

} // namespace

QString readFromIni(const QString& section, const QString& key, const QString& path,
                    const QString& defaultValue)
{
    const DocumentPtr doc = load(path).doc;
    const Section* s = findSection(*doc, section);
    if (!s)
        return defaultValue;
    const auto line = entryLine(*s, doc->encode(key).trimmed().toUpper());
    if (!line)
        return defaultValue;
    return valueOf(*doc, doc->lines[size_t(*line)].text);
}

std::optional<QStringList> readSectionKeys(const QString& section, const QStringList& keys,
                                           const QString& path, const QStringList& defaults)
{
    const DocumentPtr doc = load(path).doc;
    const Section* s = findSection(*doc, section);
    if (!s)
        return std::nullopt;
    QStringList values;
    values.reserve(keys.size());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const auto line = entryLine(*s, doc->encode(keys[i]).trimmed().toUpper());
        values << (line ? valueOf(*doc, doc->lines[size_t(*line)].text) : defaults.value(i));
    }
    return values;
}

QStringList readKeysFromIni(const QString& section, const QStringList& keys, const QString& path,
                            const QStringList& defaults)
{
    if (std::optional<QStringList> values = readSectionKeys(section, keys, path, defaults))
        return *values;
    QStringList values;
    for (qsizetype i = 0; i < keys.size(); ++i)
        values << defaults.value(i);
    return values;
}

quint64 iniRevision(const QString& path)
{
    return load(path).revision;
}

QList<QStringList> readFromIni(const QStringList& sections, const QStringList& keys, const QString& path)
{
    const DocumentPtr doc = load(path).doc;
    QList<QByteArray> keysUpper;
    for (const QString& key : keys)
        keysUpper << doc->encode(key).trimmed().toUpper();
    QList<QStringList> values;
    values.reserve(sections.size());
    for (const QString& section : sections) {
        const Section* s = findSection(*doc, section);
        QStringList sectionValues;
        for (const QByteArray& key : keysUpper) {
            const auto line = s ? entryLine(*s, key) : std::nullopt;
            sectionValues << (line ? valueOf(*doc, doc->lines[size_t(*line)].text) : QString());
        }
        values << sectionValues;
    }
    return values;
}

namespace {

// Puts one key into the parsed file, as a write of that key alone would.
bool applyWrite(Document& doc, const QString& section, const QString& key, const QString& value)
{
    const QByteArray sectionBytes = doc.encode(section).trimmed();
    const QByteArray keyBytes = doc.encode(key).trimmed().toUpper();
    if (sectionBytes.isEmpty() || keyBytes.isEmpty() || keyBytes.contains('=') || sectionBytes.contains(']'))
        return false;
    // Blanks at the end of a value are not kept (they would be dropped on reading anyway).
    QByteArray valueBytes = doc.encode(value);
    while (valueBytes.endsWith(' ') || valueBytes.endsWith('\t'))
        valueBytes.chop(1);
    const QByteArray newLine = keyBytes + '=' + valueBytes;

    const Section* s = doc.find(sectionBytes);
    if (s && s->headerLine >= 0) {
        if (const auto line = entryLine(*s, keyBytes)) {
            // Keep the key's own spelling; change only what follows "=".
            Line& changed = doc.lines[size_t(*line)];
            changed.text = changed.text.left(changed.text.indexOf('=') + 1) + valueBytes;
            changed.wide.clear();
            return true;
        }
        // After the section's last entry, so blank lines between sections stay put.
        const size_t si = size_t(s - doc.sections.data());
        const int after = s->entries.empty() ? s->headerLine : s->entries.back().line;
        if (doc.lines[size_t(after)].end.isEmpty()) {
            doc.lines[size_t(after)].end = doc.newline;
            doc.lines[size_t(after)].wide.clear();
        }
        const int at = after + 1;
        doc.lines.insert(doc.lines.begin() + at, Line{newLine, doc.newline, {}});
        // The index follows the insertion instead of being rebuilt: a store of a thousand
        // elements has tens of thousands of lines.
        Section& target = doc.sections[si];
        target.lastLine += 1;
        target.entries.push_back(Entry{at, keyBytes, true});
        for (size_t i = si + 1; i < doc.sections.size(); ++i) {
            Section& later = doc.sections[i];
            later.headerLine += 1;
            later.lastLine += 1;
            for (Entry& e : later.entries)
                e.line += 1;
        }
        return true;
    }
    if (!doc.lines.empty() && doc.lines.back().end.isEmpty()) {
        doc.lines.back().end = doc.newline;
        doc.lines.back().wide.clear();
    }
    const int header = int(doc.lines.size());
    doc.lines.push_back(Line{'[' + sectionBytes + ']', doc.newline, {}});
    doc.lines.push_back(Line{newLine, doc.newline, {}});
    doc.sections.push_back(Section{sectionBytes, header, header + 1, {Entry{header + 1, keyBytes, true}}});
    // find() said no section of this name exists.
    doc.firstSection.insert(sectionBytes.toUpper(), int(doc.sections.size()) - 1);
    return true;
}

} // namespace

bool writeToIni(const QString& section, const QString& key, const QString& value, const QString& path)
{
    auto edit = loadForWrite(path);
    return edit && applyWrite(edit->doc, section, key, value) &&
           store(path, std::move(edit->doc), edit->original);
}

bool writeKeysToIni(const QString& section, const QList<QPair<QString, QString>>& keyValues,
                    const QString& path)
{
    auto edit = loadForWrite(path);
    if (!edit)
        return false;
    for (const auto& [key, value] : keyValues) {
        if (!applyWrite(edit->doc, section, key, value))
            return false;
    }
    return store(path, std::move(edit->doc), edit->original);
}

bool writeSectionsToIni(const QList<QPair<QString, QList<QPair<QString, QString>>>>& sections,
                        const QString& path)
{
    auto edit = loadForWrite(path);
    if (!edit)
        return false;
    for (const auto& [section, keyValues] : sections) {
        for (const auto& [key, value] : keyValues) {
            if (!applyWrite(edit->doc, section, key, value))
                return false;
        }
    }
    return store(path, std::move(edit->doc), edit->original);
}

namespace {

// The bytes of the file as it is (none when it is no regular file), only for putting them back
// if an in-place write fails; no parsed copy is kept, the next call reads the file anew.
QByteArray bytesBeforeReplacing(const QString& path)
{
    cache().remove(path);
    struct stat st
    {
    };
    QByteArray original;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
        original = load(path).bytes;
    cache().remove(path);
    return original;
}

} // namespace

bool emptyIniFile(const QString& path)
{
    // The old content is not needed: an unreadable store may be emptied too.
    Document empty;
    empty.index();
    const QByteArray original = bytesBeforeReplacing(path);
    return store(path, std::move(empty), original);
}

bool replaceIniFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray original = bytesBeforeReplacing(path);
    return replaceContent(path, bytes, original);
}

void loadIniSectionsInto(QStringList& list, const QString& path)
{
    list += iniSections(path);
}

QStringList iniSections(const QString& path)
{
    const DocumentPtr doc = load(path).doc;
    QStringList names;
    names.reserve(qsizetype(doc->sections.size()));
    for (size_t i = 1; i < doc->sections.size(); ++i) {
        const Section& s = doc->sections[i];
        // A name that appears twice is listed once, where it first stands.
        if (doc->firstSection.value(s.name.toUpper()) == int(i))
            names << doc->decode(s.name);
    }
    return names;
}

int sectionKeyCount(const QString& section, const QString& path)
{
    const DocumentPtr doc = load(path).doc;
    const Section* s = findSection(*doc, section);
    return s ? int(s->entries.size()) : 0;
}

QStringList readIniSection(const QString& section, const QString& path)
{
    const DocumentPtr doc = load(path).doc;
    QStringList lines;
    const Section* s = findSection(*doc, section);
    if (!s)
        return lines;
    for (const Entry& e : s->entries)
        lines << doc->decode(doc->lines[size_t(e.line)].text.trimmed());
    return lines;
}

} // namespace vexo
