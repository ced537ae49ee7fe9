#include "ReplyHandler.h"

#include "EditorPort.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QTimer>

#include <utility>

namespace vexo {

QString storeWriteFailedText()
{
    return QStringLiteral(
        "The local database in your computer could not be written.\rCannot save this element info.");
}

ReplyHandler::ReplyHandler(ConfigLink& link, const ElementStore& store, MessageBoxes& boxes,
                           EditorPort& editor, MacLookup getRemoteMac, std::function<void()> loadConfig)
    : m_link(link), m_store(store), m_boxes(boxes), m_editor(editor), m_getRemoteMac(std::move(getRemoteMac)),
      m_loadConfig(std::move(loadConfig))
{
}

void ReplyHandler::corrupted(const QString& field)
{
    m_boxes.critical(
        kAppTitle,
        QStringLiteral("An error occured while retrieving '%1':\rFeedback is corrupted.").arg(field));
}

void ReplyHandler::handleConfigReply(const QueuedReply& reply)
{
    // Whatever this reply does next, the store holds every element discovered before it.
    if (!reply.discovery)
        flushDiscovered();
    // A reply without a serial number cannot name an element: it is not looked at.
    if (!decodeConfigReply(reply.datagram, m_record)) {
        if (m_link.queuedReplies() == 0)
            flushDiscovered();
        return;
    }
    // From here on this handling works on its own copy: a reply handled while this one waits
    // decodes into the kept record, not into ours.
    ReplyRecord r = m_record;
    if (checkRecord(r)) {
        m_link.timerRemoteSent()->stop();
        if (identify(r)) {
            if (reply.discovery)
                storeDiscovered(r);
            else
                confirm(r);
        }
    }
    if (!reply.discovery)
        m_loadConfig();
    else if (m_link.queuedReplies() == 0 || m_unstored.size() >= kStoreBatch)
        flushDiscovered();
}

void ReplyHandler::flushDiscovered()
{
    if (m_unstored.isEmpty())
        return;
    const auto batch = std::exchange(m_unstored, {});
    if (!WriteSectionsToINI(batch, m_store.path())) {
        m_boxes.critical(kAppTitle, storeWriteFailedText());
        return;
    }
    m_discovered += int(batch.size());
}

bool ReplyHandler::checkRecord(const ReplyRecord& r)
{
    const struct
    {
        bool ok;
        const char* field;
    } checks[] = {
        {isValidIp(r.ip), "Element IP"},      {isValidIp(r.mask), "Element Mask"},
        {isValidIp(r.gateway), "Element GW"}, {isValidIp(r.remote), "Remote / Multicast IP"},
        {r.audioSource <= 1, "Audio Input"},  {r.audioType <= 1, "Audio Type"},
        {r.txType <= 1, "TX Type"},           {r.role <= 2, "Element Type"},
        {r.serial > 0, "Serial Number"},
    };
    for (const auto& check : checks) {
        if (!check.ok) {
            corrupted(QString::fromLatin1(check.field));
            return false;
        }
    }
    return true;
}

bool ReplyHandler::identify(ReplyRecord& r)
{
    m_link.startMacWait(40);
    QString mac;
    bool found = false;
    for (;;) {
        if (m_getRemoteMac(r.ip, mac)) {
            found = true;
            break;
        }
        QCoreApplication::processEvents();
        if (!m_link.timerGetMAC()->isActive())
            break;
    }
    if (!found || mac.isEmpty()) {
        corrupted(QStringLiteral("Element MAC"));
        return false;
    }
    r.mac = mac;
    return true;
}

void ReplyHandler::storeDiscovered(const ReplyRecord& r)
{
    QList<QPair<QString, QString>> values = {
        {keys::name, formatElementName(r.name)},
        {keys::ip, r.ip},
        {keys::mask, r.mask},
        {keys::gw, r.gateway},
        {keys::input, QString::number(r.audioSource)},
        {keys::type, QString::number(r.audioType)},
        {keys::tx, QString::number(r.txType)},
        {(r.txType > 0 || r.role == 2) ? keys::multi : keys::remote, r.remote},
        {keys::role, QString::number(r.role)},
        {keys::sn, QString::number(r.serial)},
        {keys::ver, r.version()},
        {keys::sfn, QString::number(r.sfn)},
        {keys::buf, QString::number(r.buffer)},
    };
    if (r.role == 2) {
        values.append({keys::att, QString::number(r.attenuation)});
        values.append({keys::sdm, QString::number(r.silenceMode)});
        values.append({keys::sdl, QString::number(r.silenceLevel)});
        values.append({keys::sdt, QString::number(r.silenceTime)});
    }
    // All keys of a reply in one write: an element is never half stored.
    m_unstored.append({encodeMac(r.mac), values});
}

void ReplyHandler::confirm(const ReplyRecord& r)
{
    if (m_editor.editorValues().selectedMac != r.mac) {
        m_boxes.critical(
            kAppTitle,
            QStringLiteral("The response received does not match the selected element.\rCannot save this "
                           "element info."));
        return;
    }
    if (m_store.lineCount(r.mac) >= kCorruptedSectionLines) {
        m_boxes.critical(kAppTitle, QStringLiteral("The data stored in your computer about this element, is "
                                                   "corrupted.\rCannot save this element info."));
        return;
    }

    bool mismatch = false;
    bool writeFailed = false;
    auto write = [&](const QString& key, const QString& value) {
        if (!m_store.write(r.mac, key, value))
            writeFailed = true;
    };
    auto savingFailed = [&](const QString& field) {
        mismatch = true;
        m_boxes.critical(
            kAppTitle,
            QStringLiteral("An error occured while saving '%1':\rFeedback is corrupted.").arg(field));
    };

    // The panel is read as it is now: edits made since the send count as mismatches.
    const EditorValues ev = m_editor.editorValues();
    if (r.name.trimmed().toUpper() == ev.name.trimmed().toUpper())
        write(keys::name, formatElementName(ev.name));
    else
        savingFailed(QStringLiteral("Element Name"));
    const struct
    {
        QString editor;
        QString reply;
        const QString& key;
        const char* field;
    } texts[] = {
        {ev.ip, r.ip, keys::ip, "Element IP"},
        {ev.mask, r.mask, keys::mask, "Element Mask"},
        {ev.gateway, r.gateway, keys::gw, "Element GW"},
    };
    for (const auto& t : texts) {
        if (t.editor == t.reply)
            write(t.key, t.editor);
        else
            savingFailed(QString::fromLatin1(t.field));
    }
    const struct
    {
        int editor;
        int reply;
        const QString& key;
        const char* field;
    } lists[] = {
        {ev.audioInput, r.audioSource, keys::input, "Audio Input"},
        {ev.audioType, r.audioType, keys::type, "Audio Type"},
        {ev.audioTx, r.txType, keys::tx, "Audio TX"},
    };
    for (const auto& l : lists) {
        if (l.editor == l.reply)
            write(l.key, QString::number(l.editor));
        else
            savingFailed(QString::fromLatin1(l.field));
    }

    write(keys::role, QString::number(r.role));
    m_editor.setElementType(roleCaption(r.role));
    if (r.role != 1 && r.role != 2)
        mismatch = true; // an element that does not say what it is was not configured as asked

    const bool multicast = r.txType > 0 || r.role == 2;
    if (ev.remote == r.remote)
        write(multicast ? keys::multi : keys::remote, ev.remote);
    else
        savingFailed(multicast ? QStringLiteral("Multicast IP") : QStringLiteral("Remote IP"));

    m_editor.setSerialNumber(QString::number(r.serial));
    write(keys::sn, QString::number(r.serial));
    m_editor.setVersion(r.version());
    write(keys::ver, r.version());

    const int attenuation = std::max(int(r.attenuation), m_editor.attenuationRange().minimum);
    m_editor.putAttenuation(attenuation);
    write(keys::att, QString::number(attenuation));

    const int buffer = std::min(int(r.buffer), m_editor.bufferRange().maximum);
    m_editor.putBuffer(buffer);
    write(keys::buf, QString::number(buffer));

    write(keys::sfn, QString::number(r.sfn > 1 ? 0 : r.sfn));

    if (r.silenceMode < m_editor.silenceModeCount())
        m_editor.putSilenceMode(r.silenceMode);
    write(keys::sdm, QString::number(r.silenceMode));

    const int level = m_editor.silenceLevelRange().clamp(r.silenceLevel);
    const int time = m_editor.silenceTimeRange().clamp(r.silenceTime);
    m_editor.putSilenceLevel(level);
    m_editor.putSilenceTime(time);
    write(keys::sdl, QString::number(level));
    write(keys::sdt, QString::number(time));

    // Success is only claimed for what actually reached the store.
    if (writeFailed)
        m_boxes.critical(kAppTitle, storeWriteFailedText());
    else if (!mismatch)
        m_boxes.information(QStringLiteral("Configuration changed"),
                            QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
}

} // namespace vexo
