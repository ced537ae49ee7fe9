#pragma once

#include "store/ElementConfig.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace vexo::sim {

// What an element reports (its configuration, as the station sees it) and does. Every field has a key that is
// used alike on the command line
// ("--name STUDIO"), in a fleet file ({"name": "STUDIO"}) and in the state dump.
struct ElementConfig : vexo::ElementConfig
{
    ElementConfig(); // a small encoder at 127.0.0.2

    // Behaviour.
    double levelDbfs = -12.0;       // positive peak of the tone; below -150 the element is silent
    bool levelMoving = false;       // programme-like envelope below the peak
    qint32 latencyNs = 350000;      // mean network path delay
    qint32 jitterNs = 2000;         // path delay varies by up to this much either way
    qint32 servoTargetNs = 1000000; // total delay the auto servo aims at
    int errorPpm = 20;              // frame errors per million frames

    // Faults for tests.
    bool silent = false;        // answers nothing at all
    int delayMs = 0;            // every answer leaves this late
    int configReplyLength = -1; // cut or zero-padded to this length (-1: natural length)
    int levelReplyLength = -1;
    int measureReplyLength = -1;
    std::optional<int> forceRole, forceInput, forceType, forceTx, forceSfn, forceBuffer, forceAtt;
    std::optional<qint32> forceSerial;
    std::optional<QString> forceName;           // 16 characters as sent (blank padded, case kept)
    std::optional<QString> forceIp;             // the address stated in the reply
    bool staleReply = false;                    // ignores a ConfigRequest and answers with what it had before
    bool keepDelay = false;                     // counts a SetDelayRequest but keeps its delay and servo
    QString readdress = QStringLiteral("move"); // "move" or "keep" when a request changes the IP

    // Where it lives in a fleet: the interface that holds its address (informational: found
    // from the address when empty).
    QString interfaceName;
};

// Applies the keys of the object to the config. Unknown keys and values of the wrong type are
// errors (the message names the key).
bool applyJson(const QJsonObject& object, ElementConfig& config, QString* error);

// The whole config under the same keys (faults only when set).
QJsonObject toJson(const ElementConfig& config);

// "--key value", "--key=value" and "--flag" (booleans) into an object of the same keys.
// Arguments that are no element keys are left in rest (when given), else they are errors.
bool argsToJson(const QStringList& args, QJsonObject& out, QStringList* rest, QString* error);

// The keys that argsToJson knows, with a short description each, for --help.
QString keysHelp();

// "255.255.0.0" -> 16; -1 when the mask is no contiguous prefix.
int prefixLength(const QString& mask);

} // namespace vexo::sim
