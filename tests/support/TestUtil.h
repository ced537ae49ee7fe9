#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Runs the event loop until the condition holds or the deadline passes; true if it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray hex(const char* spaced); // "0A 00 FF" -> bytes
QString fixturePath(const QString& name);
