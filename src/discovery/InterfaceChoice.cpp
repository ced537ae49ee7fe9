#include "InterfaceChoice.h"

#include "platform/UserSettings.h"

namespace vexo {

namespace {
const QString kOption = QStringLiteral("--interface");
} // namespace

bool takeInterfaceOptions(QStringList& arguments, InterfaceOptions& options, QString* error)
{
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        QString name;
        if (a == kOption) {
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QLatin1Char('-'))) {
                if (error)
                    *error = QStringLiteral("--interface needs the name of a network interface (or all)");
                return false;
            }
            name = arguments[++i];
        } else if (a.startsWith(kOption + QLatin1Char('='))) {
            name = a.mid(kOption.size() + 1);
        } else {
            rest << a;
            continue;
        }
        if (name.trimmed().isEmpty()) {
            if (error)
                *error = QStringLiteral("--interface needs the name of a network interface (or all)");
            return false;
        }
        options.given = true;
        options.names << name.trimmed();
    }
    arguments = rest;
    return true;
}

QStringList interfaceNames(const QStringList& given)
{
    if (given.contains(QLatin1String("all")))
        return {};
    QStringList names;
    for (const QString& n : given)
        if (!names.contains(n))
            names << n;
    return names;
}

QStringList pagingInterfaceChoice(UserSettings& settings, const InterfaceOptions& options)
{
    if (options.given) {
        const QStringList names = interfaceNames(options.names);
        settings.setValue(kPagingInterfacesSetting, names.join(QLatin1Char(' ')));
        return names;
    }
    return settings.value(kPagingInterfacesSetting, QString()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace vexo
