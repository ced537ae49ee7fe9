#pragma once

#include <QString>

namespace vexo {

// What the configuration exchange reads from the element editor at the moment it needs it.
struct EditorValues
{
    QString selectedMac; // caption of lblElementMAC, "-" when no element is selected
    QString elementType; // caption of lblElementType
    QString name;
    QString ip;
    QString mask;
    QString gateway;
    QString remote;
    int audioInput = -1; // list positions, -1 without a selection
    int audioType = -1;
    int audioTx = -1;
    bool sfn = false;
    int buffer = 0; // scroll-bar positions
    int silenceMode = -1;
    int silenceLevel = 0;
    int silenceTime = 0;
};

struct ScrollRange
{
    int minimum = 0;
    int maximum = 0;
    int clamp(int v) const { return v < minimum ? minimum : (v > maximum ? maximum : v); }
};

// The element editor as the configuration exchange sees it. The main window implements it over
// the properties panel; the reply handler and the sender stay free of widgets.
class EditorPort
{
public:
    virtual ~EditorPort() = default;
    virtual EditorValues editorValues() const = 0;

    // Changes the type caption; the panel lays itself out for the role.
    virtual void setElementType(const QString& caption) = 0;
    virtual void setSerialNumber(const QString& text) = 0;
    virtual void setVersion(const QString& text) = 0;

    virtual ScrollRange attenuationRange() const = 0;
    virtual ScrollRange bufferRange() const = 0;
    virtual ScrollRange silenceLevelRange() const = 0;
    virtual ScrollRange silenceTimeRange() const = 0;
    virtual int silenceModeCount() const = 0;

    // Values put here are the element's: they update the labels beside the controls and are
    // never sent back by themselves.
    virtual void putAttenuation(int position) = 0;
    virtual void putBuffer(int position) = 0;
    virtual void putSilenceMode(int index) = 0;
    virtual void putSilenceLevel(int position) = 0;
    virtual void putSilenceTime(int position) = 0;
};

} // namespace vexo
