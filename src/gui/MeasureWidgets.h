#pragma once

#include <QString>

class QLabel;

class QWidget;

namespace vexo {

class MessageBoxes;

// "Reset counters": true when the operator answers Yes.
bool confirmCounterReset(MessageBoxes& boxes);

// A value label that shows "-" until a record fills it and is wide enough for the widest text
// it can get, so that a growing number never gets clipped.
QLabel* makeValueLabel(QWidget* parent, const char* name, const QString& widestText);
QLabel* makeCaptionLabel(QWidget* parent, const char* name, const QString& caption);

} // namespace vexo
