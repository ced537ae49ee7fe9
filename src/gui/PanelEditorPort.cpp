#include "PanelEditorPort.h"

#include "gui/PropertiesPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

namespace vexo {

namespace {
ScrollRange rangeOf(const QScrollBar* bar)
{
    return ScrollRange{bar->minimum(), bar->maximum()};
}
} // namespace

EditorValues PanelEditorPort::editorValues() const
{
    EditorValues v;
    v.selectedMac = m_panel.selectedMac();
    v.elementType = m_panel.elementType();
    v.name = m_panel.txtElementName->text();
    v.ip = m_panel.txtElementIP->text();
    v.mask = m_panel.txtElementMask->text();
    v.gateway = m_panel.txtElementGW->text();
    v.remote = m_panel.txtRemoteIP->text();
    v.audioInput = m_panel.cmbAudioInput->currentIndex();
    v.audioType = m_panel.cmbAudioType->currentIndex();
    v.audioTx = m_panel.cmbAudioTX->currentIndex();
    v.sfn = m_panel.chkSFNEnabled->isChecked();
    v.buffer = m_panel.scrlBuffer->value();
    v.silenceMode = m_panel.cmbSilDetMode->currentIndex();
    v.silenceLevel = m_panel.scrlSilDetLevel->value();
    v.silenceTime = m_panel.scrlSilDetTime->value();
    return v;
}

void PanelEditorPort::setElementType(const QString& caption)
{
    m_panel.setElementType(caption);
}

void PanelEditorPort::setSerialNumber(const QString& text)
{
    m_panel.lblSerialNumber->setText(text);
}

void PanelEditorPort::setVersion(const QString& text)
{
    m_panel.lblVersion->setText(text);
}

ScrollRange PanelEditorPort::attenuationRange() const
{
    return rangeOf(m_panel.scrlAtten);
}

ScrollRange PanelEditorPort::bufferRange() const
{
    return rangeOf(m_panel.scrlBuffer);
}

ScrollRange PanelEditorPort::silenceLevelRange() const
{
    return rangeOf(m_panel.scrlSilDetLevel);
}

ScrollRange PanelEditorPort::silenceTimeRange() const
{
    return rangeOf(m_panel.scrlSilDetTime);
}

int PanelEditorPort::silenceModeCount() const
{
    return m_panel.cmbSilDetMode->count();
}

void PanelEditorPort::putAttenuation(int position)
{
    m_panel.scrlAtten->setValue(position);
}

void PanelEditorPort::putBuffer(int position)
{
    m_panel.scrlBuffer->setValue(position);
}

void PanelEditorPort::putSilenceMode(int index)
{
    m_panel.cmbSilDetMode->setCurrentIndex(index);
}

void PanelEditorPort::putSilenceLevel(int position)
{
    m_panel.scrlSilDetLevel->setValue(position);
}

void PanelEditorPort::putSilenceTime(int position)
{
    m_panel.scrlSilDetTime->setValue(position);
}

} // namespace vexo
