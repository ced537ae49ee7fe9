#include "TestUtil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        // Yield the core for a moment instead of spinning; events still wake us at once.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray hex(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QString fixturePath(const QString& name)
{
    QString folder = qEnvironmentVariable("VEXO_FIXTURES");
    if (folder.isEmpty())
        folder = QStringLiteral(VEXO_FIXTURES_DIR);
    return folder + QLatin1Char('/') + name;
}
