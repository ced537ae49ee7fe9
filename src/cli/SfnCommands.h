#pragma once

#include <QString>
#include <QStringList>

namespace vexo::cli {

struct CliEnvironment;

// The SFN decoders side by side, and aligning them to one total latency:
//   sfn [--json|--csv]
//   sfn align [--target NS] [--apply] [--json]
bool isSfnCommand(const QString& name);
// The synopsis lines for the program's help.
QString sfnCommandsHelp();
// Runs it (arguments start with the command's name); returns the exit code.
int runSfnCommand(const QStringList& arguments, CliEnvironment& env);

} // namespace vexo::cli
