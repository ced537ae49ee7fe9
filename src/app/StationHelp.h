#pragma once

#include <QString>

namespace vexo {

// `vexolink-nms --help`, and the source of its manual page.
inline QString stationHelp()
{
    return QStringLiteral(
        "Usage: vexolink-nms [GPS] [--interface NAME]...\n"
        "\n"
        "The Vexolink NMS station: finds the Vexolink encoders and decoders on the network, keeps what\n"
        "they report in a local store and sends them their configuration.\n"
        "\n"
        "Options:\n"
        "  GPS                 the variant for GPS-disciplined equipment (any case; the only word)\n"
        "  --interface NAME    page only by this network interface (repeatable); the choice is\n"
        "                      remembered for the next starts; all: every interface again\n"
        "  --help              this text\n"
        "\n"
        "Discovery pages by every interface that is up, has an IPv4 address and can broadcast\n"
        "(loopback excepted), each copy from UDP port 2976 with that interface's own address.\n"
        "\n"
        "Environment:\n"
        "  VEXOLINK_NMS_STORE  the element store file (default: nms.ini in the program folder when\n"
        "                      it is writable, else ~/.local/share/Korvanta/vexolink-nms/nms.ini)\n"
        "  QT_SCALE_FACTOR     the scale factor of the window (e.g. 1.5)\n"
        "\n"
        "Files:\n"
        "  ~/.config/Korvanta/Korvanta.conf  settings: EULA1 (the start-up notice acknowledged),\n"
        "                                    AutoClearCounters, PagingInterfaces\n"
        "\n"
        "Exit codes:\n"
        "  0  the window was closed, or another instance already runs\n"
        "  1  UDP port 2976 is occupied, or another fatal error\n"
        "  2  usage error: --interface without a name\n");
}

} // namespace vexo
