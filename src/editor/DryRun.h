#pragma once

#include "StoredElement.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace vexo {

// What a configuration with the given changes would send, without sending or writing anything:
// for every field the request carries, the stored value and the value to be sent, and the
// request's bytes. The command line's `configure --dry-run` prints it; the window may show it.
struct DryRunField
{
    QString field; // the store key
    QString stored;
    QString sent;
    bool operator==(const DryRunField&) const = default;
};

struct DryRun
{
    QList<DryRunField> fields; // in request order
    QByteArray request;        // the ConfigRequest datagram
    ElementConfig config;      // the configuration it carries
    // A change that was refused (nothing else is filled in then): the key, its value, the rule.
    QString refusedKey;
    QString refusal; // "buf '23' out of range: 0 to 22", "unknown key 'colour'"
    bool ok() const { return refusal.isEmpty(); }
};

// Applies key=value changes (keys as `configure` takes them: name, ip, mask, gw, remote, multi,
// input, type, tx, sfn, and for a decoder buf, sdm, sdl, sdt) to the stored element's
// configuration, with the same value rules, and builds the request it would send.
// `gpsdoVariant` allows the longer decoder buffer.
DryRun dryRunConfiguration(const StoredElement& element, const QList<QPair<QString, QString>>& changes,
                           bool gpsdoVariant = false);

} // namespace vexo
