#pragma once

#include "ConfigCodec.h"
#include "ConfigLink.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace vexo {

class EditorPort;
class ElementStore;
class MessageBoxes;

// Handles every configuration reply the link hands over: checks it, identifies the element by
// the MAC address of the IP it states, and stores it as a discovered element or compares it
// with the editor as the confirmation of a sent configuration.
class ReplyHandler
{
public:
    // Looks up the MAC text (":"-separated) of an IPv4 address; one attempt, false if unknown.
    using MacLookup = std::function<bool(const QString& ip, QString& mac)>;

    ReplyHandler(ConfigLink& link, const ElementStore& store, MessageBoxes& boxes, EditorPort& editor,
                 MacLookup getRemoteMac, std::function<void()> loadConfig);

    void handleConfigReply(const QueuedReply& reply);

    // The record of the last decoded reply; each reply only overwrites what it carries.
    const ReplyRecord& record() const { return m_record; }
    // Replies handled as discovery replies and stored.
    int discoveredCount() const { return m_discovered; }
    void resetDiscoveredCount() { m_discovered = 0; }
    // Writes the discovered elements not yet in the store. Discovery replies that wait in the
    // queue behind each other are stored together, with one replacement of the file for up to
    // kStoreBatch of them; the last one of a burst, and any other reply, writes at once.
    void flushDiscovered();
    static constexpr int kStoreBatch = 64;

private:
    bool checkRecord(const ReplyRecord& r);
    bool identify(ReplyRecord& r);
    void storeDiscovered(const ReplyRecord& r);
    void confirm(const ReplyRecord& r);
    void corrupted(const QString& field);

    ConfigLink& m_link;
    const ElementStore& m_store;
    MessageBoxes& m_boxes;
    EditorPort& m_editor;
    MacLookup m_getRemoteMac;
    std::function<void()> m_loadConfig;
    ReplyRecord m_record;
    int m_discovered = 0;
    QList<QPair<QString, QList<QPair<QString, QString>>>> m_unstored;
};

// "Feedback is corrupted." messages and the store failure message share their form.
QString storeWriteFailedText();

} // namespace vexo
