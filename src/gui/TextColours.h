#pragma once

#include "gui/WidgetColours.h"

#include <QColor>

class QLineEdit;

// Background colours that carry meaning (ping result, invalid address). They go into the
// widget's palette, which the Fusion style paints with, so the colour shows on screen and can be
// read back by the code and the tests that set it.
namespace vexo {

// An invalid (default) colour gives the text box its normal background back.
void setTextBackground(QLineEdit* edit, const QColor& colour);
QColor textBackground(const QLineEdit* edit);
// The background of a text box that shows nothing wrong.
QColor normalTextBackground();

} // namespace vexo
