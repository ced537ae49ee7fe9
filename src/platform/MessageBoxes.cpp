#include "MessageBoxes.h"

namespace vexo {

void MessageBoxes::critical(const QString& caption, const QString& text)
{
    show({MsgIcon::Critical, caption, text, MsgButtons::Ok, MsgAnswer::Ok});
}

void MessageBoxes::information(const QString& caption, const QString& text)
{
    show({MsgIcon::Information, caption, text, MsgButtons::Ok, MsgAnswer::Ok});
}

void MessageBoxes::warning(const QString& caption, const QString& text)
{
    show({MsgIcon::Warning, caption, text, MsgButtons::Ok, MsgAnswer::Ok});
}

bool MessageBoxes::askYesNo(const QString& caption, const QString& text)
{
    return show({MsgIcon::Question, caption, text, MsgButtons::YesNo, MsgAnswer::No}) == MsgAnswer::Yes;
}

} // namespace vexo
