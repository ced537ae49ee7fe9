#pragma once

#include <QString>

namespace vexo {

// Why a datagram to an element did not leave. Below the core so that every link (configuration
// and measurement) reports its failures in the same words.
enum class SendFailure
{
    None,
    PortBusy,        // the station's port could not be bound
    NoAddress,       // nothing is stored for the element's ip
    InvalidAddress,  // the stored ip is no IPv4 address
    Unreachable,     // the network is unreachable
    DatagramRefused, // the socket layer refused the datagram
};

struct SendProblem
{
    SendFailure failure = SendFailure::None;
    QString cause; // the operator's text: what went wrong, with the system's own words
    explicit operator bool() const { return failure != SendFailure::None; }
};

} // namespace vexo
