#pragma once

#include "ElementConfig.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>

namespace vexo::sim {

// What the command line of vexolink-element asks for.
struct SimSetup
{
    QList<ElementConfig> elements;
    bool bindAny = false;
    QString stateFile;
    bool verbose = false;
    bool help = false;
};

// A fleet file is a JSON object {"bind": "any"|"own", "defaults": {...}, "elements": [{...}]};
// a single element file is just the element's object. Layers, lowest first: built-in values,
// the file's defaults (or the single element's object), the element options on the command
// line, then each fleet element's own object (whose "args" may hold options as on the command
// line: "--silent --delay-ms 500").
bool parseCommandLine(const QStringList& arguments, SimSetup& setup, QString* error);

QString usage();

} // namespace vexo::sim
