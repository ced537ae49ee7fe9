#pragma once

#include <QString>

namespace vexo {

// Per-user settings of the station: application "Korvanta", section "Vexolink".
class UserSettings
{
public:
    virtual ~UserSettings() = default;
    virtual QString value(const QString& key, const QString& defaultValue) const = 0;
    virtual void setValue(const QString& key, const QString& value) = 0;
};

// Kept by QSettings in the user's configuration folder (~/.config/Korvanta/Korvanta.conf).
class QtUserSettings : public UserSettings
{
public:
    QString value(const QString& key, const QString& defaultValue) const override;
    void setValue(const QString& key, const QString& value) override;
};

} // namespace vexo
