#pragma once

namespace vexo {

class ConfigLink;
class EditorPort;
class ElementStore;
class MessageBoxes;

// "Save changes": checks the panel, asks, and sends the whole configuration to the selected
// element. The element's answer completes the save (ReplyHandler).
class ConfigSender
{
public:
    ConfigSender(ConfigLink& link, const ElementStore& store, MessageBoxes& boxes, EditorPort& editor);

    void saveChanges();
    // True when the request left.
    bool sendConfiguration();

private:
    ConfigLink& m_link;
    const ElementStore& m_store;
    MessageBoxes& m_boxes;
    EditorPort& m_editor;
};

} // namespace vexo
