#pragma once

// Texts and helpers shared by the parts of the properties panel.
#include <QAction>
#include <QString>

namespace vexo::panel {

inline const QString kNone = QStringLiteral("-");
inline const QString kRemoteCaption = QStringLiteral("Remote IP:");
inline const QString kMulticastCaption = QStringLiteral("Multicast IP:");
inline const QString kPingUntested = QStringLiteral("<Click to test>");

inline void enableAction(QAction* action, bool enabled)
{
    if (action)
        action->setEnabled(enabled);
}

} // namespace vexo::panel
