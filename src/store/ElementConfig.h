#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace vexo {

// One element's configuration, as it crosses every layer: decoded from a reply, encoded into a
// request, stored in and read from the element's store section, edited in the properties panel
// and played by the element simulator. Addresses are dotted text; list choices (audio source,
// type, TX type, silence mode) are positions, -1 while an edited configuration has none chosen.
struct ElementConfig
{
    QString name; // 16 characters as sent and stored (see formatElementName)
    QString ip;
    QString mask;
    QString gateway;
    QString remote; // unicast destination, or the multicast group of a decoder or multicast TX
    int audioSource = 0;
    int audioType = 0;
    int txType = 0;
    int role = 0; // 1 encoder, 2 decoder, anything else unknown
    qint32 serial = 0;
    int versionMajor = 0;
    int versionMinor = 0;
    int sfn = 0;
    int buffer = 0;
    // Decoder only.
    int attenuation = 0;
    int silenceMode = 0;
    int silenceLevel = 0;
    int silenceTime = 0;
    QString mac; // MAC text of the element, "XX:XX:XX:XX:XX:XX"; empty until identified

    QString version() const; // "3.1"
    bool isDecoder() const { return role == 2; }
    // Whether `remote` is kept under the store key `multi` rather than `remote`.
    bool remoteIsMulticast() const { return txType > 0 || role == 2; }
};

class ElementStore;

// The keys and values a discovered element's section is written with, in store order.
QList<QPair<QString, QString>> discoveredSectionValues(const ElementConfig& config);

} // namespace vexo
