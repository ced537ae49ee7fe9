#pragma once

#include <QByteArray>
#include <QString>

#include <QStringList>

#include <functional>
#include <ostream>

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
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray hex(const char* spaced); // "0A 00 FF" -> bytes
QString fixturePath(const QString& name);
