#pragma once

// What screen readers and UI automation read from the station's windows: a name of its own for
// every control, taken from the caption the operator sees, and the caption as its label.
#include <QString>

class QLabel;
class QWidget;

namespace vexo {
class LevelMeter;
}

namespace vexo::a11y {

// Makes the station's own accessible interfaces known to Qt. Every window calls it; it acts once.
void install();

// "VLAN O&&M:" -> "VLAN O&M", "Audio atten:" -> "Audio atten": the caption as read aloud.
QString spokenCaption(const QString& caption);

// The caption labels the control: it becomes the label's buddy (the labelled-by relation) and the
// control is named after it.
void label(QLabel* caption, QWidget* control);

// For a caption that changes with the role: shows the new text and names the control after it.
void relabel(QLabel* caption, QWidget* control, const QString& text);

// A value shown beside a control (a scroll bar's dB, ms or Sec text) is read with the control's
// caption, which already labels the control itself.
void labelValue(QLabel* caption, QLabel* value);

// The level meter: one read-only indicator, named after its caption, whose value is the level
// text. The picture box, the coloured fill and the text are drawing, not objects of their own.
void levelBar(LevelMeter* meter, QLabel* caption);

} // namespace vexo::a11y
