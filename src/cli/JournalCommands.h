#pragma once

#include <QString>
#include <QStringList>

namespace vexo::cli {

struct CliEnvironment;

// The commands that read the journal of changes and put store copies back:
//   journal [ELEMENT] [--since TIME] [--operation OP] [--json|--csv]
//   store backups [--json]
//   store restore ID
// The journal is the one beside the store (VEXOLINK_NMS_JOURNAL overrides it).
bool isJournalCommand(const QString& name);
// The synopsis lines for the program's help.
QString journalCommandsHelp();
// Runs one of them (arguments start with the command's name); returns the exit code.
int runJournalCommand(const QStringList& arguments, CliEnvironment& env);

} // namespace vexo::cli
