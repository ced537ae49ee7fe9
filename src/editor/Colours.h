#pragma once

#include <QColor>

class QLineEdit;
class QPushButton;

// Background colours that carry meaning (ping result, invalid address). They go into the
// widget's palette, which the Fusion style paints with, so the colour shows on screen and can be
// read back by the code and the tests that set it.
namespace vexo {

inline const QColor kUntestedPingColour(255, 255, 192); // light yellow
inline const QColor kFailedColour(255, 128, 128);       // light red
inline const QColor kSuccessColour(0, 255, 0);          // green

void setButtonColour(QPushButton* button, const QColor& colour);
QColor buttonColour(const QPushButton* button);

// An invalid (default) colour gives the text box its normal background back.
void setTextBackground(QLineEdit* edit, const QColor& colour);
QColor textBackground(const QLineEdit* edit);
// The background of a text box that shows nothing wrong.
QColor normalTextBackground();

} // namespace vexo
