#include "Fakes.h"

vexo::MsgAnswer FakeMessageBoxes::show(const vexo::MessageBoxRequest& request)
{
    shown << request;
    if (onShow)
        onShow(request);
    if (request.buttons == vexo::MsgButtons::Ok)
        return vexo::MsgAnswer::Ok;
    if (!answers.isEmpty())
        return answers.takeFirst();
    return request.defaultButton;
}

QStringList FakeMessageBoxes::texts() const
{
    QStringList list;
    for (const auto& r : shown)
        list << r.text;
    return list;
}
