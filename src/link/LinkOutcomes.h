#pragma once

#include "platform/SendProblem.h"
#include "store/ElementConfig.h"
#include "store/ElementStore.h"

#include <QList>
#include <QMetaType>
#include <QString>

namespace vexo {

// A configuration a check refused before anything was sent: which field, which rule.
struct Refusal
{
    enum class Reason
    {
        None,
        NoElement,     // no element named (the window: none selected)
        AudioFields,   // audio input, audio type or TX type has no choice
        Name,          // empty name
        Addresses,     // an address field is no IPv4 address
        StoreMissing,  // the store file does not exist
        InvalidStored, // a stored value the request would carry is not valid (see field)
    };
    Reason reason = Reason::None;
    QString field; // the store key, for InvalidStored
    QString value; // the stored text, for InvalidStored
    QString rule;  // what the field accepts, for InvalidStored
    explicit operator bool() const { return reason != Reason::None; }
};

// One field of a confirmation that the element did not take on as sent.
struct FieldDifference
{
    QString field; // as the operator knows it: "Element Name", "Audio Input", "Multicast IP"
    QString key;   // the store key it would have been written to
    QString sent;
    QString reported;
    bool operator==(const FieldDifference&) const = default;
};

// How a configuration send ended.
struct ConfigureOutcome
{
    enum class Result
    {
        Confirmed,        // every field matched and reached the store
        Mismatch,         // the element answered with something else (differences; or an unknown role)
        NoAnswer,         // no answer within the reply time-out (corruptedField: an invalid reply came)
        SendFailed,       // the request did not leave (problem)
        Refused,          // a check refused it before sending (refusal)
        OtherElement,     // the answer came from another element than the one configured
        CorruptedRecord,  // the store's section of the element is corrupted: nothing stored
        StoreWriteFailed, // the answer was compared but could not be stored: the section is unchanged
        CorruptedReply,   // the answer could not be used: corruptedField names why ("Element MAC")
    };
    Result result = Result::NoAnswer;
    QString mac;            // the element configured
    ElementConfig sent;     // what the request carried
    ElementConfig reported; // the element's answer (when there was one)
    // In the order they were compared (Mismatch, and StoreWriteFailed when some also differed).
    QList<FieldDifference> differences;
    QString corruptedField;   // "Element Mask", "Element MAC": the reply field at fault
    ElementConfig shown;      // the answer within the panel's ranges (what it shows)
    bool unknownRole = false; // the answer did not say what the element is
    SendProblem problem;
    Refusal refusal;
};

} // namespace vexo

Q_DECLARE_METATYPE(vexo::ConfigureOutcome)
