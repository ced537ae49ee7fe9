#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

class QTextStream;

namespace vexo {

class Arp;
class Icmp;
class UserSettings;

namespace cli {

// What the commands need from the machine; main() passes the real services, tests may pass
// fakes and a store of their own.
struct CliEnvironment
{
    QTextStream& out;
    QTextStream& err;
    UserSettings& settings;
    Arp& arp;
    Icmp& icmp;
    QString storePath;
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
};

// Runs one command line (without the program name) and returns the exit code. Output goes to
// env.out, messages and the one-line error to env.err. Needs a QCoreApplication.
int runCli(const QStringList& arguments, CliEnvironment& env);

} // namespace cli
} // namespace vexo
