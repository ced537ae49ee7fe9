#include "SelectedElement.h"

#include "ElementStore.h"

namespace vexo {

SelectedElement::SelectedElement(const ElementStore& store, QObject* parent) : QObject(parent), m_store(store)
{
}

QString SelectedElement::read(const QString& key) const
{
    return m_store.read(m_mac, key);
}

QString SelectedElement::ip() const
{
    return read(keys::ip);
}

void SelectedElement::setRoleCaption(const QString& caption)
{
    if (caption == m_roleCaption)
        return;
    m_roleCaption = caption;
    emit roleCaptionChanged(caption);
}

void SelectedElement::select(const QString& mac)
{
    m_draft = ElementConfig{};
    m_mac = mac;
    emit selectionChanged(mac);
}

} // namespace vexo
