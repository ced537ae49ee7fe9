#pragma once

#include "ElementConfig.h"
#include "ElementStore.h"

#include <QObject>
#include <QString>

#include <optional>

namespace vexo {

// The element the operator works on in the window: its MAC text ("-" when none is selected), the
// role the window shows for it, and the configuration being edited for it. The window keeps it
// and names the element to the station's operations with it.
class SelectedElement : public QObject
{
    Q_OBJECT
public:
    static inline const QString kNone = QStringLiteral("-");

    explicit SelectedElement(QObject* parent = nullptr) : QObject(parent) {}

    QString mac() const { return m_mac; }
    bool isSelected() const { return m_mac != kNone; }

    // The role shown for it; none before one is known. Decides the size of a configuration
    // request and what the measurement windows show.
    std::optional<Role> role() const { return m_role; }
    void setRole(std::optional<Role> role);

    // The configuration as the operator has edited it so far.
    const ElementConfig& draft() const { return m_draft; }
    void setDraft(const ElementConfig& draft)
    {
        m_draft = draft;
        emit draftChanged();
    }

    // A new selection starts with an empty draft and keeps the role until one is set.
    void select(const QString& mac);
    void clear() { select(kNone); }

signals:
    void selectionChanged(const QString& mac);
    void roleChanged();
    void draftChanged();

private:
    QString m_mac = kNone;
    std::optional<Role> m_role;
    ElementConfig m_draft;
};

} // namespace vexo
