// vexolink-manpage: writes a program's manual page (roff) from its --help, so that the page and
// the help never tell different things. With --commands, every command listed under "Commands:"
// gets a subsection from `PROGRAM COMMAND --help`.
//
//   vexolink-manpage --name NAME --summary TEXT --version V --output FILE [--commands]
//                    [--see-also "a(1), b(1)"] -- PROGRAM
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

namespace {

QString helpOf(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, arguments + QStringList{QStringLiteral("--help")});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// Text as roff reads it literally.
QString escaped(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\'')))
        text.prepend(QLatin1String("\\&"));
    return text;
}

QString option(const QString& term)
{
    return escaped(term).replace(QLatin1Char('-'), QLatin1String("\\-"));
}

struct Section
{
    QString heading; // as the help writes it, without the colon
    QStringList lines;
};

// The help cut at its headings: a line at the margin that ends with a colon.
QList<Section> sections(const QString& help, QString* usage)
{
    static const QRegularExpression heading(QStringLiteral("^(\\S[^:]*):$"));
    QList<Section> list{{QString(), {}}};
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Usage: "))) {
            *usage = line.mid(7).trimmed();
            continue;
        }
        const auto m = heading.match(line);
        if (m.hasMatch())
            list.append({m.captured(1), {}});
        else
            list.last().lines.append(line);
    }
    return list;
}

QString manHeading(const QString& heading)
{
    if (heading == QLatin1String("Exit codes"))
        return QStringLiteral("EXIT STATUS");
    return heading.section(QLatin1String(" ("), 0, 0).toUpper();
}

// One section's lines: "  TERM  description" lines become tagged paragraphs (their wrapped
// continuation lines join them), JSON key lists stay as they are, the rest is running text.
QString body(const Section& s)
{
    static const QRegularExpression item(QStringLiteral("^( {2,})(\\S(?:.*?\\S)?)(?: {2,}(\\S.*))?$"));
    static const QRegularExpression continuation(QStringLiteral("^ {6,}(\\S.*)$"));
    QString out;
    if (s.heading.startsWith(QLatin1String("JSON"))) {
        out += QStringLiteral(".nf\n");
        for (const QString& line : s.lines)
            if (!line.trimmed().isEmpty())
                out += escaped(line.trimmed()) + QLatin1Char('\n');
        return out + QStringLiteral(".fi\n");
    }
    bool inItem = false;
    for (const QString& line : s.lines) {
        if (line.trimmed().isEmpty()) {
            inItem = false;
            out += QStringLiteral(".PP\n");
            continue;
        }
        const auto c = continuation.match(line);
        if (inItem && c.hasMatch()) {
            out += escaped(c.captured(1)) + QLatin1Char('\n');
            continue;
        }
        const auto m = item.match(line);
        if (m.hasMatch()) {
            // Qt's option help writes "-h, --help" and "--timeout <SECONDS>".
            out += QStringLiteral(".TP\n.B %1\n%2\n").arg(option(m.captured(2)), escaped(m.captured(3)));
            inItem = true;
            continue;
        }
        inItem = false;
        out += escaped(line.trimmed()) + QLatin1Char('\n');
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const qsizetype dashes = args.indexOf(QStringLiteral("--"));
    const QString program = args.value(dashes + 1);
    auto value = [&](const char* name) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i >= 0 && i < dashes ? args.value(i + 1) : QString();
    };
    const QString name = value("--name"), output = value("--output");
    if (dashes < 0 || program.isEmpty() || name.isEmpty() || output.isEmpty()) {
        std::fputs(
            "usage: vexolink-manpage --name NAME --summary TEXT --version V --output FILE [--commands] "
            "[--see-also TEXT] -- PROGRAM\n",
            stderr);
        return 2;
    }
    QString usage;
    const QString help = helpOf(program, {});
    const QList<Section> parts = sections(help, &usage);
    if (help.isEmpty() || usage.isEmpty()) {
        std::fprintf(stderr, "vexolink-manpage: %s --help gave no usage\n", qPrintable(program));
        return 1;
    }

    QString page = QStringLiteral(".TH %1 1 \"\" \"Vexolink NMS %2\" \"User Commands\"\n.SH NAME\n%3 \\- %4\n"
                                  ".SH SYNOPSIS\n.B %3\n%5\n.SH DESCRIPTION\n")
                       .arg(name.toUpper(), value("--version"), name, escaped(value("--summary")),
                            option(usage.section(QLatin1Char(' '), 1)));
    for (const Section& s : parts) {
        if (s.heading.isEmpty()) {
            page += body(s);
            continue;
        }
        page += QStringLiteral(".SH %1\n").arg(manHeading(s.heading));
        if (s.heading != QLatin1String("Commands") || !args.contains(QLatin1String("--commands"))) {
            page += body(s);
            continue;
        }
        for (const QString& line : s.lines) {
            if (!line.startsWith(QLatin1String("  "))) { // what the help says after the list
                page +=
                    line.trimmed().isEmpty() ? QStringLiteral(".PP\n") : escaped(line) + QLatin1Char('\n');
                continue;
            }
            const QString command = line.trimmed().section(QLatin1Char(' '), 0, 0);
            QString commandUsage;
            const QString commandHelp = helpOf(program, {command});
            if (commandHelp.isEmpty()) {
                std::fprintf(stderr, "vexolink-manpage: %s %s --help failed\n", qPrintable(program),
                             qPrintable(command));
                return 1;
            }
            page += QStringLiteral(".SS %1\n.B %2 %1\n%3\n.PP\n")
                        .arg(escaped(command), name, option(line.trimmed().section(QLatin1Char(' '), 1)));
            for (const Section& cs : sections(commandHelp, &commandUsage)) {
                if (cs.heading == QLatin1String("Exit codes"))
                    continue; // the same for every command: one EXIT STATUS section
                if (!cs.heading.isEmpty())
                    page += QStringLiteral(".PP\n.I %1:\n").arg(escaped(cs.heading));
                page += body(cs);
            }
        }
    }
    if (const QString see = value("--see-also"); !see.isEmpty())
        page += QStringLiteral(".SH SEE ALSO\n%1\n").arg(escaped(see));
    // Blank lines and repeated paragraph marks are noise to man.
    page.replace(QRegularExpression(QStringLiteral("(\\.PP\\n)+")), QStringLiteral(".PP\n"));
    page.replace(QRegularExpression(QStringLiteral("\\.PP\\n(\\.(SH|SS|TP|PP))")), QStringLiteral("\\1"));

    QFile file(output);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(page.toUtf8()) != page.toUtf8().size()) {
        std::fprintf(stderr, "vexolink-manpage: cannot write %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}
