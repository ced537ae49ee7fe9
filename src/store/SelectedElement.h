#pragma once

#include "ElementConfig.h"

#include <QObject>
#include <QString>

namespace vexo {

class ElementStore;

// The element the operator works on: its MAC text ("-" when none is selected), the role caption
// the station shows for it, and the configuration being edited for it. The window keeps it; the
// configuration operations take the MAC from it, and the measurement windows and the level
// monitor read their element from it.
class SelectedElement : public QObject
{
    Q_OBJECT
public:
    static inline const QString kNone = QStringLiteral("-");

    explicit SelectedElement(const ElementStore& store, QObject* parent = nullptr);

    QString mac() const { return m_mac; }
    bool isSelected() const { return m_mac != kNone; }
    // A stored key of the selected element, with the key's default.
    QString read(const QString& key) const;
    // The stored address the element is talked to at.
    QString ip() const;

    // "ENCODER", "DECODER", "UNKNOWN" (or "-" before any is known). Decides the size of a
    // configuration request and what the measurement windows show.
    QString roleCaption() const { return m_roleCaption; }
    void setRoleCaption(const QString& caption);

    // The configuration as the operator has edited it so far.
    const ElementConfig& draft() const { return m_draft; }
    void setDraft(const ElementConfig& draft)
    {
        m_draft = draft;
        emit draftChanged();
    }

    // A new selection starts with an empty draft and no role caption.
    void select(const QString& mac);
    void clear() { select(kNone); }

signals:
    void selectionChanged(const QString& mac);
    void roleCaptionChanged(const QString& caption);
    void draftChanged();

private:
    const ElementStore& m_store;
    QString m_mac = kNone;
    QString m_roleCaption = kNone;
    ElementConfig m_draft;
};

} // namespace vexo
