#pragma once

#include "link/EditorPort.h"

#include <QStringList>

// The editor as plain values: what the reply handler and the sender read and put.
class FakeEditor : public vexo::EditorPort
{
public:
    vexo::EditorValues values;
    QStringList calls;
    int attMin = 14, bufMax = 22;

    vexo::EditorValues editorValues() const override { return values; }
    void setElementType(const QString& caption) override
    {
        values.elementType = caption;
        calls << "type " + caption;
    }
    void setSerialNumber(const QString& text) override { calls << "sn " + text; }
    void setVersion(const QString& text) override { calls << "ver " + text; }
    vexo::ScrollRange attenuationRange() const override { return {attMin, 255}; }
    vexo::ScrollRange bufferRange() const override { return {0, bufMax}; }
    vexo::ScrollRange silenceLevelRange() const override { return {1, 154}; }
    vexo::ScrollRange silenceTimeRange() const override { return {1, 220}; }
    int silenceModeCount() const override { return 3; }
    void putAttenuation(int p) override { calls << QString("att %1").arg(p); }
    void putBuffer(int p) override
    {
        values.buffer = p;
        calls << QString("buf %1").arg(p);
    }
    void putSilenceMode(int i) override
    {
        values.silenceMode = i;
        calls << QString("sdm %1").arg(i);
    }
    void putSilenceLevel(int p) override
    {
        values.silenceLevel = p;
        calls << QString("sdl %1").arg(p);
    }
    void putSilenceTime(int p) override
    {
        values.silenceTime = p;
        calls << QString("sdt %1").arg(p);
    }
};
