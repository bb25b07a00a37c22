// Conversions between CanFrame and Qt's QCanBusFrame. Pure functions: the Qt CAN bus back-end does
// the device work around them.
#pragma once

#include <QCanBusDevice>
#include <QCanBusFrame>

#include "can/can_frame.h"
#include "can/socketcan_convert.h"

namespace busprobe {

enum class QtFrameRead { kFrame, kError, kIgnored };

// A data or remote frame becomes `out` with the bus index; an error frame fills `error` the way a
// SocketCAN error message would (Qt numbers its error classes like the kernel and passes the
// kernel's detail bytes on as the payload). Invalid frames and the device's echoes of our own
// transmissions are ignored.
QtFrameRead QtFrameDecode(const QCanBusFrame& in, int bus, CanFrame& out, SocketCanError& error);

// False when the frame cannot exist on the wire (a remote frame with FD flags or more than 8
// bytes, a length above 64). An identifier that does not fit 11 bits goes out as an extended one.
bool QtFrameEncode(const CanFrame& in, QCanBusFrame& out);

// What a device's bus status says about the controller: the status bits that hold now, within
// kUcanWarning | kUcanBusError | kUcanBusOff. `known` is false when the device cannot tell.
uint8_t QtBusStatusBits(QCanBusDevice::CanBusStatus status, bool& known);

}  // namespace busprobe
