#include "Colours.h"

#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace vexo {

void setButtonColour(QPushButton* button, const QColor& colour)
{
    if (!button)
        return;
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    button->setPalette(palette);
    // Some styles paint the face only when the widget fills its own background.
    button->setAutoFillBackground(true);
}

QColor buttonColour(const QPushButton* button)
{
    return button ? button->palette().color(QPalette::Active, QPalette::Button) : QColor();
}

QColor normalTextBackground()
{
    return QApplication::palette("QLineEdit").color(QPalette::Active, QPalette::Base);
}

void setTextBackground(QLineEdit* edit, const QColor& colour)
{
    if (!edit)
        return;
    QPalette palette = edit->palette();
    const QPalette normal = QApplication::palette("QLineEdit");
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base,
                         colour.isValid() ? colour : normal.color(group, QPalette::Base));
    }
    edit->setPalette(palette);
}

QColor textBackground(const QLineEdit* edit)
{
    return edit ? edit->palette().color(QPalette::Active, QPalette::Base) : QColor();
}

} // namespace vexo
