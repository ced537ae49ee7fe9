#pragma once

#include <QString>
#include <QStringList>

namespace vexo {

class UserSettings;

// The per-user setting that remembers which network cards the station pages on (names separated
// by blanks, which an interface name cannot hold); missing or empty: every card.
inline const QString kPagingInterfacesSetting = QStringLiteral("PagingInterfaces");

// The --interface options of a command line.
struct InterfaceOptions
{
    bool given = false;
    QStringList names; // as given; "all" among them means every card
};

// Takes every "--interface NAME" and "--interface=NAME" out of `arguments`, leaving the rest in
// order. False, with the problem in `error`, when an option has no name.
bool takeInterfaceOptions(QStringList& arguments, InterfaceOptions& options, QString* error);

// The names to page on, empty for every card: "all" anywhere among them means every card.
QStringList interfaceNames(const QStringList& given);

// The cards the station pages on. Names given on the command line are remembered for the next
// start ("all" forgets them); without the option, the remembered choice holds.
QStringList pagingInterfaceChoice(UserSettings& settings, const InterfaceOptions& options);

} // namespace vexo
