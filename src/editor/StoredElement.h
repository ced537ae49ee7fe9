#pragma once

#include "store/ElementConfig.h"
#include "store/ElementStore.h"

#include <QList>
#include <QString>

namespace vexo {

// How a stored value stands against the rule of its field.
enum class FieldState
{
    Valid,      // a value the element can be sent as it is (a key's default counts when it is absent)
    Missing,    // absent, and the field has no default
    NotANumber, // a number field holding something else ("abc")
    OutOfRange, // a whole number outside the field's range, or an address that is no IPv4 address
};

// One field of a stored element: the stored text, what it stands for and the rule that decided.
struct StoredField
{
    QString key;
    QString text;        // as stored; the default when absent
    bool stored = false; // the section holds the key
    FieldState state = FieldState::Valid;
    int value = 0; // number fields: the number (when there is one)
    // Number fields: the accepted range. Address fields have minimum > maximum.
    int minimum = 0;
    int maximum = -1;

    bool isValid() const { return state == FieldState::Valid; }
    bool isNumber() const { return minimum <= maximum; }
    // "0 to 22", "an IPv4 address", "a name of 1 to 16 characters".
    QString rule() const;
    // "not a number", "missing", "out of range (0 to 22)": why the field is not valid.
    QString problem() const;
};

// An element as the store holds it, each field with its validity. Every face that starts from a
// stored element reads it through here: the properties panel shows invalid fields (no choice in
// a list, a bar at its nearest end), the command line refuses to send them.
class StoredElement
{
public:
    // Reads the element's section once. `gpsdoVariant` widens the decoder buffer's range.
    static StoredElement load(const ElementStore& store, const QString& mac, bool gpsdoVariant = false);

    const QString& mac() const { return m_mac; }
    bool exists() const { return m_exists; }
    // More lines than the station ever writes for an element: not to be used.
    bool corrupted() const { return m_lines >= kCorruptedSectionLines; }
    int lineCount() const { return m_lines; }
    Role role() const { return m_role; }
    // The key the remote address is kept under for this element (multi or remote).
    const QString& remoteKey() const;

    // The field of a store key (an unknown key gives an empty, missing field).
    const StoredField& field(const QString& key) const;
    const QList<StoredField>& fields() const { return m_fields; }

    // The configuration a send starts from: every field's value, whether valid or not.
    ElementConfig config() const;
    // The stored keys a configuration request for this element carries, in request order.
    QStringList requestKeys() const;
    // Those of them whose stored value is not valid.
    QList<StoredField> invalidRequestFields() const;

private:
    QString m_mac;
    bool m_exists = false;
    int m_lines = 0;
    Role m_role = Role::Unknown;
    QList<StoredField> m_fields;
};

} // namespace vexo
