#pragma once

#include "platform/MessageBoxes.h"
#include "platform/ProgramEnd.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

class QTextStream;

namespace vexo {

class ElementStore;

namespace cli {

// What a script can rely on: every outcome has its own code.
enum ExitCode : int
{
    Success = 0,
    Failure = 1,    // a send failed, the store could not be written, a record was refused
    UsageError = 2, // unknown command or option, malformed or out-of-range value, unknown key
    ElementUnknown = 3,
    NoAnswer = 4,
    Mismatch = 5,     // the element answered with something else than was sent
    PortBusy = 6,     // a station port (2976, 2978) or the exporter's listen address is taken
    StoreProblem = 7, // the store is missing or an element's section is corrupted
};

// The help text's table of exit codes.
QString exitCodesHelp();

// A command's one-line error: the program prints the message and ends with the code.
class CliError : public std::runtime_error
{
public:
    CliError(ExitCode code, const QString& message)
        : std::runtime_error(message.toStdString()), m_code(code), m_message(message)
    {
    }
    ExitCode code() const { return m_code; }
    const QString& message() const { return m_message; }

private:
    ExitCode m_code;
    QString m_message;
};

// Message boxes on a console: a notice goes to stderr as one line, an error is kept for the
// command's one-line error, a question gets the answer the command line gave (a command that
// asks, such as `stats --clear`, was asked for it).
class ConsoleBoxes : public MessageBoxes
{
public:
    explicit ConsoleBoxes(QTextStream& err) : m_err(err) {}
    MsgAnswer show(const MessageBoxRequest& request) override;
    void setAnswerYes(bool yes) { m_yes = yes; }
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // Texts of the critical messages shown so far.
    const QStringList& errors() const { return m_errors; }

private:
    QTextStream& m_err;
    bool m_yes = false;
    bool m_quiet = false;
    QStringList m_errors;
};

// A fatal error of the core (a port that cannot be bound) ends the command, not the process
// in the middle of it: the command sees it and returns the code.
class CommandEnd : public ProgramEnd
{
public:
    void end(int exitCode) override { m_code = exitCode; }
    std::optional<int> code() const { return m_code; }

private:
    std::optional<int> m_code;
};

// The element a command names: a MAC text (with or without colons, any case), a stored name
// (any case, blanks around ignored) or a stored IP address. Returns the MAC text with colons.
// Throws CliError: malformed MAC or IP (UsageError), unknown or ambiguous (ElementUnknown), the
// store missing or the element's section corrupted (StoreProblem).
QString resolveElement(const ElementStore& store, const QString& text);

// Every element the store holds, as MAC texts in store order. Throws StoreProblem when there is
// no store.
QStringList storedElements(const ElementStore& store);

// "-20", "20", "-0.5", "0", "-120.5" dB, or "mute": the attenuation bar position (14..255).
// Throws UsageError for anything else.
int attenuationPosition(const QString& level);

// A readable table: a header row and aligned columns.
QString renderTable(const QStringList& header, const QList<QStringList>& rows);
// RFC 4180 fields: quoted when they hold a comma, a quote or a line break.
QString renderCsv(const QStringList& header, const QList<QStringList>& rows);
// One compact JSON document per line.
QString renderJson(const QJsonObject& object);
QString renderJson(const QJsonArray& array);

} // namespace cli
} // namespace vexo
