#pragma once

#include "link/EditorPort.h"

namespace vexo {

class PropertiesPanel;

// The properties panel as the configuration exchange sees it.
class PanelEditorPort : public EditorPort
{
public:
    explicit PanelEditorPort(PropertiesPanel& panel) : m_panel(panel) {}

    EditorValues editorValues() const override;
    void setElementType(const QString& caption) override;
    void setSerialNumber(const QString& text) override;
    void setVersion(const QString& text) override;
    ScrollRange attenuationRange() const override;
    ScrollRange bufferRange() const override;
    ScrollRange silenceLevelRange() const override;
    ScrollRange silenceTimeRange() const override;
    int silenceModeCount() const override;
    void putAttenuation(int position) override;
    void putBuffer(int position) override;
    void putSilenceMode(int index) override;
    void putSilenceLevel(int position) override;
    void putSilenceTime(int position) override;

private:
    PropertiesPanel& m_panel;
};

} // namespace vexo
