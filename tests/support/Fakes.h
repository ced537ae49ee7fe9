#pragma once

#include "platform/MessageBoxes.h"
#include "platform/ProgramEnd.h"
#include "platform/UserSettings.h"

#include <QList>
#include <QMap>
#include <QStringList>

#include <functional>

// Records every box and answers from a queue; an empty queue gives the box's default button.
class FakeMessageBoxes : public vexo::MessageBoxes
{
public:
    vexo::MsgAnswer show(const vexo::MessageBoxRequest& request) override;

    QList<vexo::MessageBoxRequest> shown;
    QList<vexo::MsgAnswer> answers;
    // Runs while a box is "open", e.g. to let events through as a real modal box does.
    std::function<void(const vexo::MessageBoxRequest&)> onShow;

    QStringList texts() const;
    void clear() { shown.clear(); }
};

class FakeSettings : public vexo::UserSettings
{
public:
    QString value(const QString& key, const QString& defaultValue) const override
    {
        return values.value(key, defaultValue);
    }
    void setValue(const QString& key, const QString& value) override
    {
        values[key] = value;
        ++writes;
    }
    QMap<QString, QString> values;
    int writes = 0;
};

class FakeProgramEnd : public vexo::ProgramEnd
{
public:
    void end(int exitCode) override { codes << exitCode; }
    QList<int> codes;
};
