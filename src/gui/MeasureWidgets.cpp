#include "MeasureWidgets.h"

#include "platform/MessageBoxes.h"

#include <QFontMetrics>
#include <QLabel>

namespace vexo {

QLabel* makeValueLabel(QWidget* parent, const char* name, const QString& widestText)
{
    auto* label = new QLabel(QStringLiteral("-"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(widestText) + 4);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel* makeCaptionLabel(QWidget* parent, const char* name, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

bool confirmCounterReset(MessageBoxes& boxes)
{
    return boxes.askYesNo(QStringLiteral("Reset counters"),
                          QStringLiteral("You will reset all counters to zero.\rAre you sure?"));
}

} // namespace vexo
