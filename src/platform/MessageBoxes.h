#pragma once

#include <QString>

namespace vexo {

// Caption used by every message box that has none of its own.
inline const QString kAppTitle = QStringLiteral("Korvanta Vexolink Manager");

enum class MsgIcon
{
    Information,
    Critical,
    Question,
    Warning
};
enum class MsgButtons
{
    Ok,
    YesNo
};
enum class MsgAnswer
{
    Ok,
    Yes,
    No
};

struct MessageBoxRequest
{
    MsgIcon icon = MsgIcon::Information;
    QString caption;
    // Lines are separated by a carriage return, as the operator has always seen them.
    QString text;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultButton = MsgAnswer::Ok;
};

// The one way the station talks to the operator in a box. The application shows real boxes;
// tests script the answers and record what was shown.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    virtual MsgAnswer show(const MessageBoxRequest& request) = 0;

    void critical(const QString& caption, const QString& text);
    void information(const QString& caption, const QString& text);
    void warning(const QString& caption, const QString& text);
    // Yes/No question, No being the default. True only for Yes.
    bool askYesNo(const QString& caption, const QString& text);
};

} // namespace vexo
