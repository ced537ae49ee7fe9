#pragma once

#include "platform/MessageBoxes.h"

class QWidget;

namespace vexo {

// Real message boxes, parented to the station's window.
class QtMessageBoxes : public MessageBoxes
{
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    MsgAnswer show(const MessageBoxRequest& request) override;

private:
    QWidget* m_parent;
};

} // namespace vexo
