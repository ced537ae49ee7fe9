#pragma once

namespace vexo {

class ConfigLink;
class ElementStore;
class MessageBoxes;
class SelectedElement;

// "Save changes": checks the configuration being edited, asks, and sends it whole to the
// selected element. The element's answer completes the save (ReplyHandler).
class ConfigSender
{
public:
    ConfigSender(ConfigLink& link, const ElementStore& store, MessageBoxes& boxes,
                 const SelectedElement& selection);

    void saveChanges();
    // True when the request left.
    bool sendConfiguration();

private:
    ConfigLink& m_link;
    const ElementStore& m_store;
    MessageBoxes& m_boxes;
    const SelectedElement& m_selection;
};

} // namespace vexo
