// Conversions between CanFrame and the Linux SocketCAN frame records, and the reading of the kernel's
// link description (bit rates). Pure functions: the SocketCAN back-end does the I/O around them.
#pragma once

#include <linux/can.h>

#include <cstddef>
#include <cstdint>

#include "can/can_frame.h"

namespace busprobe {

// What one kernel error message says about a controller.
struct SocketCanError {
  // A real error frame on the wire (protocol, acknowledge, transceiver or bus error), as opposed to
  // a report of the controller's state.
  bool errorFrame = false;
  uint8_t set = 0;     // status bits that hold from now on
  uint8_t clear = 0;   // status bits that no longer hold
  uint8_t events = 0;  // bits reported once (RX_OVF, TX_OVF, TX_ERROR)
};

enum class SocketCanRead { kFrame, kError, kInvalid };

// `bytes` is what read() returned: CAN_MTU for a classic frame, CANFD_MTU for an FD frame; anything
// else is invalid. A data frame becomes `out` with the bus index; an error message fills `error`.
SocketCanRead SocketCanDecode(const canfd_frame& in, size_t bytes, int bus, CanFrame& out,
                              SocketCanError& error);

// Fills the kernel record for `in` and returns how many bytes to write (CAN_MTU or CANFD_MTU);
// 0 when the frame cannot exist on the wire (a remote frame with FD flags or more than 8 bytes, a
// length above 64).
size_t SocketCanEncode(const CanFrame& in, canfd_frame& out);

// The controller state after an error message.
inline uint8_t SocketCanApplyState(uint8_t state, const SocketCanError& error) {
  return static_cast<uint8_t>((state & ~error.clear) | error.set);
}

// Reads an RTM_NEWLINK answer of the routing socket: the nominal and the data bit rate in bit/s
// (0 when the link does not report one). False when the message holds no link description.
bool SocketCanParseLinkBitrates(const uint8_t* message, size_t length, uint32_t& bitrate,
                                uint32_t& dataBitrate);

}  // namespace busprobe
