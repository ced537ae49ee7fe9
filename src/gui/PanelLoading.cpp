// Loading the selected element from the store into the panel.
#include "PropertiesPanel.h"

#include "Accessibility.h"
#include "PanelTexts.h"
#include "TextColours.h"
#include "editor/StoredElement.h"
#include "editor/ValueRules.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace vexo {

using namespace panel;

void PropertiesPanel::showStoredText(QLineEdit* edit, const QString& value)
{
    // An address longer than its field cannot be a valid one, and cutting it could turn it into
    // a different, valid-looking address: such a field stays empty. A name is cut to its 16
    // characters, as the element itself keeps it.
    if (edit != txtElementName && value.size() > edit->maxLength())
        edit->setText(QString());
    else
        edit->setText(value);
}

void PropertiesPanel::loadIndex(QComboBox* list, const StoredField& field)
{
    // Absent, not a whole number, or no such entry: the list shows no selection rather than a
    // choice the element never reported.
    list->setCurrentIndex(field.isValid() && field.value < list->count() ? field.value : -1);
}

void PropertiesPanel::loadPosition(QScrollBar* bar, const StoredField& field)
{
    // Not a whole number: the key's default; out of range: the nearest end of the bar.
    const int position = field.state == FieldState::NotANumber || field.state == FieldState::Missing
                             ? storedInt(storeDefault(field.key))
                             : field.value;
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    showBarValue(bar);
}

void PropertiesPanel::showBarValue(QScrollBar* bar)
{
    // The bar's own change signal does not come when the loaded position equals the one shown
    // before, but the label must follow the loaded value all the same.
    const int p = bar->value();
    if (bar == scrlAtten)
        lblAttenDB->setText(attenuationText(p));
    else if (bar == scrlBuffer)
        lblLatency->setText(latencyText(p, m_gpsdoVariant, chkSFNEnabled->isChecked()));
    else if (bar == scrlSilDetLevel)
        lblSilDetLevel->setText(thresholdText(p));
    else if (bar == scrlSilDetTime)
        lblSilDetTime->setText(timeoutText(p));
}

void PropertiesPanel::loadDecoderAttenuation(const QString& mac, const StoredField& att)
{
    const bool number = att.state == FieldState::Valid || att.state == FieldState::OutOfRange;
    int position = att.value;
    // An attenuation below the bar's range (0 when none was stored) is raised to "Mute" in the
    // store as well, so that the store and the bar agree.
    if (number && position < kAttenMin)
        m_store.write(mac, keys::att, QString::number(kAttenMin));
    // A text that is not a whole number is left in the store as it is and shown as "Mute"; a
    // number above the range shows the loudest position. Neither is written: nothing was sent.
    scrlAtten->setValue(number ? std::clamp(position, kAttenMin, kAttenMax) : kAttenMin);
    showBarValue(scrlAtten);
}

void PropertiesPanel::loadElement(const QString& nodeText, const QString& key)
{
    // 1. The diagnostics belong to the element that was shown before.
    setButtonColour(m_peers.cmdPing, kUntestedPingColour);
    enableAction(m_peers.startMonitoring, false);
    enableAction(m_peers.stopMonitoring, false);
    if (m_peers.chkGetVolume)
        m_peers.chkGetVolume->setChecked(false);

    // 2. A node without text is no element. So is a key that is not a MAC text: it names no
    //    section, and loading it would let later writes go to a section without a name.
    const QString section = encodeMac(key);
    if (nodeText.isEmpty() || section.isEmpty()) {
        if (m_peers.cmdGetStats)
            m_peers.cmdGetStats->setEnabled(false);
        return;
    }

    // 3., 4. A section longer than the station ever writes is damaged.
    const StoredElement stored = StoredElement::load(m_store, key, m_gpsdoVariant);
    if (stored.corrupted()) {
        m_boxes.critical(kAppTitle, QStringLiteral("The data stored in your computer about this element, is "
                                                   "corrupted (1).\rCannot load this element info."));
        return;
    }

    m_loading = true;

    // 5.
    auto setText = [&](QLineEdit* edit, const QString& key) { showStoredText(edit, stored.field(key).text); };
    setText(txtElementName, keys::name);
    setText(txtElementIP, keys::ip);
    setText(txtElementMask, keys::mask);
    setText(txtElementGW, keys::gw);
    loadIndex(cmbAudioInput, stored.field(keys::input));
    loadIndex(cmbAudioType, stored.field(keys::type));
    loadIndex(cmbAudioTX, stored.field(keys::tx));
    lblVersion->setText(stored.field(keys::ver).text);
    const StoredField& bound = stored.field(keys::bound);
    cmbEncoders->setCurrentIndex(bound.isValid() && bound.value < cmbEncoders->count() ? bound.value : 0);

    // 6.
    if (m_peers.cmdGetStats)
        m_peers.cmdGetStats->setEnabled(true);

    // 7. A role that is not a number is no known role.
    setElementType(roleCaption(stored.role()));
    if (elementType() == kEncoder) {
        enableAction(m_peers.startMonitoring, true);
        const bool multicast = cmbAudioTX->currentIndex() >= 1;
        a11y::relabel(Label7, txtRemoteIP, multicast ? kMulticastCaption : kRemoteCaption);
        setText(txtRemoteIP, multicast ? keys::multi : keys::remote);
    } else if (elementType() == kDecoder) {
        a11y::relabel(Label7, txtRemoteIP, kMulticastCaption);
        setText(txtRemoteIP, keys::multi);
        loadDecoderAttenuation(key, stored.field(keys::att));
        loadPosition(scrlBuffer, stored.field(keys::buf));
        loadPosition(scrlSilDetLevel, stored.field(keys::sdl));
        loadPosition(scrlSilDetTime, stored.field(keys::sdt));
        loadIndex(cmbSilDetMode, stored.field(keys::sdm));
    }

    // 8. The selection record.
    m_selection.select(key);

    // 9. Only "1" switches SFN on; anything else is the default, off.
    lblSerialNumber->setText(stored.field(keys::sn).text);
    chkSFNEnabled->setChecked(stored.field(keys::sfn).isValid() && stored.field(keys::sfn).value == 1);

    // 10.
    cmdAdjust->setEnabled(chkSFNEnabled->isChecked() && elementType() == kDecoder);

    // 11. Last, so that the latency label sees the loaded SFN state.
    applyRoleLayout();
    applyAudioRouting();

    // 12.
    if (m_peers.cmdPing)
        m_peers.cmdPing->setText(kPingUntested);

    m_loading = false;
    pushEdits();
}

} // namespace vexo
