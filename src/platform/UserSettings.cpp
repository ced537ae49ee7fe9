#include "UserSettings.h"

#include <QSettings>

namespace vexo {

namespace {
QString groupKey(const QString& key)
{
    return QStringLiteral("Vexolink/") + key;
}
} // namespace

QString QtUserSettings::value(const QString& key, const QString& defaultValue) const
{
    QSettings settings(QStringLiteral("Korvanta"), QStringLiteral("Korvanta"));
    return settings.value(groupKey(key), defaultValue).toString();
}

void QtUserSettings::setValue(const QString& key, const QString& value)
{
    QSettings settings(QStringLiteral("Korvanta"), QStringLiteral("Korvanta"));
    settings.setValue(groupKey(key), value);
    settings.sync();
}

} // namespace vexo
