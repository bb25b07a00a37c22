// What the PEAK driver types (the PCAN-Light libraries and CAN-API 2) share: their message record,
// their status words as text and as the UCAN status byte, and the BTR0BTR1 register values of the
// bit rates.
#pragma once

#include <cstdint>
#include <string>

namespace busprobe {

struct CanFrame;

// The message record both libraries read and write.
struct PeakMessage {
  uint32_t id;
  uint8_t msgType;
  uint8_t len;
  uint8_t data[8];
};
constexpr uint8_t kPeakMsgStandard = 0x00;
constexpr uint8_t kPeakMsgRemote = 0x01;
constexpr uint8_t kPeakMsgExtended = 0x02;
constexpr uint8_t kPeakMsgStatus = 0x80;

// A received message as a frame (timestamp left 0); false for a status message, which reports the
// controller and is no frame on the bus. Garbage lengths are cut to the 8 bytes the record holds.
bool PeakMessageToFrame(const PeakMessage& msg, CanFrame& out);
// A classic frame of at most 8 bytes as the message to send.
PeakMessage PeakMessageFromFrame(const CanFrame& frame);

// Status word bits.
constexpr uint32_t kPeakOk = 0x0000;
constexpr uint32_t kPeakXmtFull = 0x0001;
constexpr uint32_t kPeakOverrun = 0x0002;
constexpr uint32_t kPeakBusLight = 0x0004;
constexpr uint32_t kPeakBusHeavy = 0x0008;
constexpr uint32_t kPeakBusOff = 0x0010;
constexpr uint32_t kPeakQRcvEmpty = 0x0020;
constexpr uint32_t kPeakQOverrun = 0x0040;
constexpr uint32_t kPeakQXmtFull = 0x0080;
constexpr uint32_t kPeakRegTest = 0x0100;
// Also what a call answers whose entry point the library lacks, or whose library did not load.
constexpr uint32_t kPeakNoVxd = 0x0200;
constexpr uint32_t kPeakResource = 0x2000;
constexpr uint32_t kPeakIllParamType = 0x4000;
constexpr uint32_t kPeakIllParamVal = 0x8000;
// A field, not bits: one of the values below.
constexpr uint32_t kPeakHandleField = 0x1C00;
constexpr uint32_t kPeakHwInUse = 0x0400;
constexpr uint32_t kPeakNetInUse = 0x0800;
constexpr uint32_t kPeakIllHw = 0x1400;
constexpr uint32_t kPeakIllNet = 0x1800;
constexpr uint32_t kPeakIllClient = 0x1C00;

// "OK" for 0, else one word with a trailing blank per condition ("BUSOFF QXMTFULL "). A load
// failure text, when given, follows "NOVXD ".
std::string PeakStatusText(uint32_t status, const std::string& loadFailure = "");
uint8_t PeakStatusToUcan(uint32_t status);

// kbit/s -> BTR0BTR1, -1 for a rate the table lacks (the drivers call that ILLPARAMVAL).
int PeakBtr0Btr1(int baudKbit);
// BTR0BTR1 -> kbit/s (0x0018 reads back as 667), -1 for a value the table lacks.
int PeakBaudFromBtr0Btr1(uint32_t btr0btr1);

}  // namespace busprobe
