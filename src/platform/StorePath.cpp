#include "StorePath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace vexo {

bool isFolderWritable(const QString& folder)
{
    QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable())
        return false;
    // The permission bits may say yes on a read-only mount; a real file settles it.
    QTemporaryFile probe(folder + QStringLiteral("/.vexolink-probe-XXXXXX"));
    return probe.open();
}

QString resolveStorePath(const QString& programFolder)
{
    const QString forced = qEnvironmentVariable("VEXOLINK_NMS_STORE");
    if (!forced.isEmpty())
        return forced;
    if (isFolderWritable(programFolder))
        return QDir(programFolder).filePath(QStringLiteral("nms.ini"));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return QDir(data).filePath(QStringLiteral("nms.ini"));
}

QString resolveJournalPath(const QString& storePath)
{
    const QString forced = qEnvironmentVariable("VEXOLINK_NMS_JOURNAL");
    if (!forced.isEmpty())
        return forced;
    const QFileInfo store(storePath);
    return store.dir().filePath(store.completeBaseName() + QStringLiteral("-journal.db"));
}

} // namespace vexo
