#pragma once

#include "core/Outcomes.h"
#include "discovery/Discovery.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace vexo {

class Discovery;

class MessageBoxes;

// Turns the station's outcomes into the operator's message boxes: their icons, captions, texts
// and order. The window asks its questions here too.
class OutcomeBoxes
{
public:
    explicit OutcomeBoxes(MessageBoxes& boxes) : m_boxes(boxes) {}

    // "Save changes": the refusal of a check, and the question before sending (true for Yes).
    void showRefusal(const Refusal& refusal);
    bool askSendConfiguration();
    bool askDiscovery();

    // What the panel shows of a confirmation, told in the order the boxes need it: the role
    // caption (which arranges the panel) before the remote address is judged, the element's
    // values before the final box.
    struct PanelHooks
    {
        std::function<void(Role)> showRole;
        std::function<void(const ElementConfig&)> showValues;
    };
    void showConfigure(const ConfigureOutcome& outcome, const PanelHooks& panel);

    void showInvalidReply(const QString& field);
    void showInvalidRepliesDropped(int count, const QList<QPair<QString, int>>& byField);
    // A send problem other than a busy port (that one has ended the program already).
    void showSendProblem(const SendProblem& problem);
    void showDiscoveryProblem(const Discovery& discovery, DiscoveryProblem problem,
                              const SendProblem& paging);
    // The end of a discovery: when nothing answered, which cards were paged.
    void showDiscoveryEnd(const Discovery& discovery, int stored);

private:
    MessageBoxes& m_boxes;
};

} // namespace vexo
