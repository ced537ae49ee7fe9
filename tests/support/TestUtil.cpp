#include "TestUtil.h"

QString fixturePath(const QString& name)
{
    const QString folder = qEnvironmentVariable("VEXO_FIXTURES");
    return (folder.isEmpty() ? QStringLiteral(VEXO_FIXTURES_DIR) : folder) + QLatin1Char('/') + name;
}
