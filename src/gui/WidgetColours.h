#pragma once

#include <QColor>

class QPushButton;

namespace vexo {

// Colours that carry meaning (red, green, blue).
inline const QColor kUntestedPingColour(255, 255, 192); // light yellow: untested, testing
inline const QColor kFailedColour(255, 128, 128);       // light red: failed ping, invalid address
inline const QColor kSuccessColour(0, 255, 0);          // green: successful ping

// Background colour of a button, painted by every style (Fusion ignores a palette-only colour on
// push buttons, so a style sheet carries it as well). The colour is also kept in the dynamic
// property "vexoColour", where it can be read back exactly.
void setButtonColour(QPushButton* button, const QColor& colour);
// The colour last set with setButtonColour; an invalid colour when none was set.
QColor buttonColour(const QPushButton* button);

} // namespace vexo
