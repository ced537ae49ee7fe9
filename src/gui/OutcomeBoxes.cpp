#include "OutcomeBoxes.h"

#include "discovery/Discovery.h"

#include "link/ReplyHandler.h"
#include "platform/MessageBoxes.h"

namespace vexo {

namespace {

const QString kCannotSaveInfo = QStringLiteral("\rCannot save this element info.");

QString savingText(const QString& field)
{
    return QStringLiteral("An error occured while saving '%1':\rFeedback is corrupted.").arg(field);
}

bool isRemoteField(const FieldDifference& d)
{
    return d.key == keys::remote || d.key == keys::multi;
}

} // namespace

void OutcomeBoxes::showRefusal(const Refusal& refusal)
{
    using Reason = Refusal::Reason;
    QString first;
    switch (refusal.reason) {
    case Reason::None:
        return;
    case Reason::NoElement:
        first = QStringLiteral("No Network Element selected!");
        break;
    case Reason::AudioFields:
        first = QStringLiteral("Please verify that all audio fields are correct!");
        break;
    case Reason::Name:
        first = QStringLiteral("Please verify that the name field is correct!");
        break;
    case Reason::Addresses:
        first = QStringLiteral("Please verify that all IP fields are correct!");
        break;
    case Reason::StoreMissing:
        first = QStringLiteral("The local database in your computer, is corrupted!");
        break;
    case Reason::InvalidStored:
        first = QStringLiteral("The stored %1 '%2' is not valid (%3).")
                    .arg(refusal.field, refusal.value, refusal.rule);
        break;
    }
    m_boxes.critical(QStringLiteral("Error!"), first + QStringLiteral("\rCannot save."));
}

bool OutcomeBoxes::askSendConfiguration()
{
    return m_boxes.askYesNo(
        QStringLiteral("Send configuration"),
        QStringLiteral("This configuration will be sent to selected Network Element and\rwill also be "
                       "saved to local database in your computer. \rAre you sure?"));
}

bool OutcomeBoxes::askDiscovery()
{
    return m_boxes.askYesNo(
        QStringLiteral("Auto Discovery"),
        QStringLiteral("Performing an 'Auto Discovery' will delete the local database in your computer\rand "
                       "create a new one, based on the Network Elements found (if any). \rAre you sure?"));
}

void OutcomeBoxes::showConfigure(const ConfigureOutcome& o, const PanelHooks& panel)
{
    using Result = ConfigureOutcome::Result;
    switch (o.result) {
    case Result::Refused:
        showRefusal(o.refusal);
        return;
    case Result::SendFailed:
        showSendProblem(o.problem);
        return;
    case Result::NoAnswer:
        m_boxes.critical(
            QStringLiteral("Error!"),
            QStringLiteral("Waiting for a response from Network Element has timed out!\rCannot save."));
        return;
    case Result::OtherElement:
        m_boxes.critical(kAppTitle,
                         QStringLiteral("The response received does not match the selected element.") +
                             kCannotSaveInfo);
        return;
    case Result::CorruptedRecord:
        m_boxes.critical(
            kAppTitle, QStringLiteral("The data stored in your computer about this element, is corrupted.") +
                           kCannotSaveInfo);
        return;
    case Result::CorruptedReply:
        showInvalidReply(o.corruptedField);
        return;
    case Result::Confirmed:
    case Result::Mismatch:
    case Result::StoreWriteFailed:
        break;
    }
    // The fields in the order they were compared; the remote address is judged after the role
    // has arranged the panel.
    for (const FieldDifference& d : o.differences) {
        if (!isRemoteField(d))
            m_boxes.critical(kAppTitle, savingText(d.field));
    }
    if (panel.showRole)
        panel.showRole(roleOf(o.reported.role));
    for (const FieldDifference& d : o.differences) {
        if (isRemoteField(d))
            m_boxes.critical(kAppTitle, savingText(d.field));
    }
    if (panel.showValues)
        panel.showValues(o.shown);
    if (o.result == Result::StoreWriteFailed)
        m_boxes.critical(kAppTitle, storeWriteFailedText());
    else if (o.result == Result::Confirmed)
        m_boxes.information(QStringLiteral("Configuration changed"),
                            QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
}

void OutcomeBoxes::showInvalidReply(const QString& field)
{
    m_boxes.critical(
        kAppTitle,
        QStringLiteral("An error occured while retrieving '%1':\rFeedback is corrupted.").arg(field));
}

void OutcomeBoxes::showInvalidRepliesDropped(int count, const QList<QPair<QString, int>>& byField)
{
    QStringList parts;
    for (const auto& p : byField)
        parts << QStringLiteral("%1: %2").arg(p.first).arg(p.second);
    m_boxes.critical(kAppTitle, QStringLiteral("%1 more invalid replies were dropped (%2).")
                                    .arg(count)
                                    .arg(parts.join(QStringLiteral(", "))));
}

void OutcomeBoxes::showSendProblem(const SendProblem& problem)
{
    if (problem && problem.failure != SendFailure::PortBusy)
        m_boxes.critical(kAppTitle, problem.cause);
}

void OutcomeBoxes::showDiscoveryProblem(const Discovery& discovery, DiscoveryProblem problem,
                                        const SendProblem& paging)
{
    switch (problem) {
    case DiscoveryProblem::NoInterface:
        m_boxes.critical(kAppTitle, discovery.noInterfaceText());
        break;
    case DiscoveryProblem::StoreNotCreated:
        m_boxes.critical(kAppTitle, QStringLiteral("The local database in your computer could not be "
                                                   "created.\rNo element can be stored."));
        break;
    case DiscoveryProblem::StoreWriteFailed:
        m_boxes.critical(kAppTitle, storeWriteFailedText());
        break;
    case DiscoveryProblem::PagingNotSent:
        showSendProblem(paging);
        break;
    }
}

void OutcomeBoxes::showDiscoveryEnd(const Discovery& discovery, int stored)
{
    // Which cards were paged is what the operator needs to know when nothing answered: the
    // elements may sit behind another card.
    if (stored == 0 && !discovery.result().noInterface)
        m_boxes.information(kAppTitle, discovery.nothingAnsweredText());
}

} // namespace vexo
