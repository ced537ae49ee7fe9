#include "ConfigSender.h"

#include "ConfigCodec.h"
#include "ConfigLink.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

namespace vexo {

ConfigSender::ConfigSender(ConfigLink& link, const ElementStore& store, MessageBoxes& boxes,
                           const SelectedElement& selection)
    : m_link(link), m_store(store), m_boxes(boxes), m_selection(selection)
{
}

void ConfigSender::saveChanges()
{
    const ElementConfig& ev = m_selection.draft();
    const char* problem = nullptr;
    if (!m_selection.isSelected())
        problem = "No Network Element selected!";
    else if (ev.audioSource < 0 || ev.audioType < 0 || ev.txType < 0)
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
    ElementConfig request = m_selection.draft();
    request.sfn = request.sfn ? 1 : 0;
    // A decoder always has a routing selected after loading; without one, automatic detection
    // is the one safe choice to send.
    if (request.silenceMode < 0)
        request.silenceMode = 0;
    return m_link.sendToSelected(buildConfigRequest(request, m_selection.roleCaption()), kConfigPort);
}

} // namespace vexo
