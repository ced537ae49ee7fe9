#include "TextColours.h"

#include <QApplication>
#include <QLineEdit>
#include <QPalette>

namespace vexo {

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
