#include "WidgetColours.h"

#include <QPalette>
#include <QPushButton>

namespace vexo {

namespace {
const char* const kColourProperty = "vexoColour";
}

void setButtonColour(QPushButton* button, const QColor& colour)
{
    if (!button)
        return;
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    button->setPalette(palette);
    button->setAutoFillBackground(true);
    button->setStyleSheet(QStringLiteral("background-color: rgb(%1, %2, %3)")
                              .arg(colour.red())
                              .arg(colour.green())
                              .arg(colour.blue()));
    button->setProperty(kColourProperty, colour);
    button->update();
}

QColor buttonColour(const QPushButton* button)
{
    if (!button)
        return {};
    return button->property(kColourProperty).value<QColor>();
}

} // namespace vexo
