#include "SelectedElement.h"

namespace vexo {

void SelectedElement::setRole(std::optional<Role> role)
{
    if (role == m_role)
        return;
    m_role = role;
    emit roleChanged();
}

void SelectedElement::select(const QString& mac)
{
    m_draft = ElementConfig{};
    m_mac = mac;
    emit selectionChanged(mac);
}

} // namespace vexo
