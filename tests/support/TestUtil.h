#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QStringList>

#include <csignal>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

#include <sys/resource.h>

// Readable gtest output for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{' << l.join(QStringLiteral("|")).toStdString() << '}';
}
inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << "bytes[" << b.size() << "] " << b.left(120).toHex(' ').toStdString();
}

// Runs the event loop until the condition holds or the deadline passes; true if it held.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    for (QDeadlineTimer deadline(timeoutMs); !condition();) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5); // rather than spinning
    }
    return true;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
// Files of this process cannot grow beyond the given size while it lives (the disk is "full").
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limit{bytes, saved.rlim_max};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            throw std::runtime_error("the file size limit could not be set");
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    rlimit saved{};
};
inline QByteArray hex(const char* spaced) // "0A 00 FF" -> bytes
{
    return QByteArray::fromHex(spaced);
}
QString fixturePath(const QString& name);

// A window's control, found by its object name as the window names it (the controls are private
// to their windows). A missing one fails the test at once rather than crashing it.
template <typename T> T* child(const QObject& parent, const char* name)
{
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        throw std::runtime_error(std::string("no child named ") + name);
    return found;
}
