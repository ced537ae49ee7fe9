#include "ConfigSender.h"

#include "ConfigCodec.h"
#include "ConfigLink.h"
#include "EditorPort.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"

namespace vexo {

ConfigSender::ConfigSender(ConfigLink& link, const ElementStore& store, MessageBoxes& boxes,
                           EditorPort& editor)
    : m_link(link), m_store(store), m_boxes(boxes), m_editor(editor)
{
}

void ConfigSender::saveChanges()
{
    const EditorValues ev = m_editor.editorValues();
    const char* problem = nullptr;
    if (ev.selectedMac == QLatin1String("-"))
        problem = "No Network Element selected!";
    else if (ev.audioInput < 0 || ev.audioType < 0 || ev.audioTx < 0)
        problem = "Please verify that all audio fields are correct!";
    else if (ev.name.isEmpty())
        problem = "Please verify that the name field is correct!";
    else if (!isValidIp(ev.ip) || !isValidIp(ev.mask) || !isValidIp(ev.gateway) || !isValidIp(ev.remote))
        problem = "Please verify that all IP fields are correct!";
    else if (!m_store.exists())
        problem = "The local database in your computer, is corrupted!";
    if (problem) {
        m_boxes.critical(QStringLiteral("Error!"),
                         QString::fromLatin1(problem) + QStringLiteral("\rCannot save."));
        return;
    }
    if (m_boxes.askYesNo(
            QStringLiteral("Send configuration"),
            QStringLiteral("This configuration will be sent to selected Network Element and\rwill also be "
                           "saved to local database in your computer. \rAre you sure?")))
        sendConfiguration();
}

bool ConfigSender::sendConfiguration()
{
    const EditorValues ev = m_editor.editorValues();
    ConfigRequestFields f;
    f.ip = ev.ip;
    f.mask = ev.mask;
    f.gateway = ev.gateway;
    f.remote = ev.remote;
    f.audioSource = quint8(ev.audioInput);
    f.audioType = quint8(ev.audioType);
    f.txType = quint8(ev.audioTx);
    f.sfn = ev.sfn ? 1 : 0;
    f.name = ev.name;
    f.buffer = quint8(ev.buffer);
    // A decoder panel always has a routing selected after loading; without one, automatic
    // detection is the one safe choice to send.
    f.silenceMode = quint8(ev.silenceMode < 0 ? 0 : ev.silenceMode);
    f.silenceLevel = quint8(ev.silenceLevel);
    f.silenceTime = quint8(ev.silenceTime);
    return m_link.sendToSelected(buildConfigRequest(f, ev.elementType), kConfigPort);
}

} // namespace vexo
