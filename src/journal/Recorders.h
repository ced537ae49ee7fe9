#pragma once

#include "JournalEntry.h"

#include "core/Outcomes.h"

#include <optional>

namespace vexo {

class Journal;
class StoredElement;

// The entries the operations make, built from their typed outcomes and the element as it was
// stored before (loaded with StoredElement::load before the operation ran). The builders are
// pure; the record* functions write the entry and return its id (nothing: journal->problem()).

// A store key's value in a configuration ("10.0.0.5", "1", "3.1"); remote and multi both give
// the remote address.
QString configFieldText(const ElementConfig& config, const QString& key);

// "confirmed", "mismatch", "no-answer", "send-failed", "refused", "other-element",
// "corrupted-record", "store-write-failed", "corrupted-reply".
QString outcomeName(ConfigureOutcome::Result result);

// A configuration send. Changes: every field whose sent value differs from the stored one, and
// every field the element reported otherwise than sent. The sent configuration is kept whole.
JournalEntry configureEntry(const ConfigureOutcome& outcome, const StoredElement& before);

// "name: OLD -> NEW; ...", with what the element reported where it differs from what was sent:
// the changes as the window's history and the command line's table show them.
QString changesText(const QList<JournalChange>& changes);

// An attenuation change (bar position 14..255); no answer is awaited, so "sent" or "send-failed".
JournalEntry attenuationEntry(const StoredElement& before, int position, const SendProblem& problem);

// An SFN delay change (set-delay from a script, the SFN window's alignment): the delay setting
// and the servo as sent, and as read back when the element answered (`reported`).
struct DelaySetting
{
    int delay = 0; // the dly setting
    bool servo = false;
};
JournalEntry delayEntry(JournalOperation operation, const StoredElement& before, const DelaySetting& sent,
                        const std::optional<DelaySetting>& reported, const SendProblem& problem);

// The element's traffic and PTP counters reset; `answered`: it answered the reset.
JournalEntry countersClearedEntry(const StoredElement& before, bool answered, const SendProblem& problem);

// A discovery: how many elements answered and the copy of the store it replaced (0: none).
JournalEntry discoveryEntry(int answered, qint64 storeCopy);

std::optional<qint64> recordConfigure(Journal& journal, const ConfigureOutcome& outcome,
                                      const StoredElement& before);
std::optional<qint64> recordAttenuation(Journal& journal, const StoredElement& before, int position,
                                        const SendProblem& problem);
std::optional<qint64> recordDelay(Journal& journal, JournalOperation operation, const StoredElement& before,
                                  const DelaySetting& sent, const std::optional<DelaySetting>& reported,
                                  const SendProblem& problem);
std::optional<qint64> recordCountersCleared(Journal& journal, const StoredElement& before, bool answered,
                                            const SendProblem& problem);
std::optional<qint64> recordDiscovery(Journal& journal, int answered, qint64 storeCopy);

} // namespace vexo
