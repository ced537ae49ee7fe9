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
    // A style sheet that sets only the background leaves the style's own bevel on top of it
    // (Fusion draws a gradient of the palette colour); with a border of its own the button shows
    // exactly the colour. A darker shade while pressed keeps the click visible.
    const QString rgb =
        QStringLiteral("rgb(%1, %2, %3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
    const QColor pressed = colour.darker(115);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; border: 1px solid rgb(112, 112, 112); "
                       "border-radius: 2px; padding: 2px 6px; }"
                       " QPushButton:pressed { background-color: rgb(%2, %3, %4); }")
            .arg(rgb)
            .arg(pressed.red())
            .arg(pressed.green())
            .arg(pressed.blue()));
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
