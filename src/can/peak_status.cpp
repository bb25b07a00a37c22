#include "can/peak_status.h"

#include <array>

#include "can/can_frame.h"
#include "can/ucan.h"  // the status bits

namespace busprobe {

namespace {

struct PeakWord {
  uint32_t bit;
  const char* text;
};
constexpr std::array<PeakWord, 10> kLowWords = {{
    {kPeakXmtFull, "XMTFULL "},
    {kPeakOverrun, "OVERRUN "},
    {kPeakBusLight, "BUSLIGHT "},
    {kPeakBusHeavy, "BUSHEAVY "},
    {kPeakBusOff, "BUSOFF "},
    {kPeakQRcvEmpty, "QRCVEMPTY "},
    {kPeakQOverrun, "QOVERRUN "},
    {kPeakQXmtFull, "QXMTFULL "},
    {kPeakRegTest, "REGTEST "},
    {kPeakNoVxd, "NOVXD "},
}};
constexpr std::array<PeakWord, 5> kFieldWords = {{
    {kPeakHwInUse, "HWINUSE "},
    {kPeakNetInUse, "NETINUSE "},
    {kPeakIllHw, "ILLHW "},
    {kPeakIllNet, "ILLNET "},
    {kPeakIllClient, "ILLCLIENT "},
}};
constexpr std::array<PeakWord, 3> kHighWords = {{
    {kPeakResource, "RESOURCE "},
    {kPeakIllParamType, "ILLPARAMTYPE "},
    {kPeakIllParamVal, "ILLPARAMVAL "},
}};

struct PeakBaud {
  int kbit;
  uint32_t btr0btr1;
};
// The first row of a value is what reading it back reports (667, not 666).
constexpr std::array<PeakBaud, 13> kPeakBauds = {{
    {5, 0x7F7F},
    {10, 0x672F},
    {20, 0x532F},
    {50, 0x472F},
    {83, 0x051C},
    {100, 0x432F},
    {125, 0x031C},
    {250, 0x011C},
    {500, 0x001C},
    {667, 0x0018},
    {666, 0x0018},
    {800, 0x0016},
    {1000, 0x0014},
}};

}  // namespace

std::string PeakStatusText(uint32_t status, const std::string& loadFailure) {
  if (status == kPeakOk) return "OK";
  std::string text;
  for (const PeakWord& w : kLowWords) {
    if (!(status & w.bit)) continue;
    text += w.text;
    if (w.bit == kPeakNoVxd && !loadFailure.empty()) text += loadFailure + " ";
  }
  for (const PeakWord& w : kFieldWords) {
    if ((status & kPeakHandleField) == w.bit) text += w.text;
  }
  for (const PeakWord& w : kHighWords) {
    if (status & w.bit) text += w.text;
  }
  return text;
}

uint8_t PeakStatusToUcan(uint32_t status) {
  uint8_t out = 0;
  if (status & (kPeakXmtFull | kPeakQXmtFull)) out |= kUcanTxOvf;
  if (status & (kPeakOverrun | kPeakQOverrun)) out |= kUcanRxOvf;
  if (status & (kPeakBusLight | kPeakBusHeavy)) out |= kUcanWarning;
  if (status & kPeakBusOff) out |= kUcanBusOff;
  if (status &
      (kPeakRegTest | kPeakNoVxd | kPeakResource | kPeakIllParamType | kPeakIllParamVal | kPeakHandleField))
    out |= kUcanOther;
  return out;
}

int PeakBtr0Btr1(int baudKbit) {
  for (const PeakBaud& b : kPeakBauds) {
    if (b.kbit == baudKbit) return static_cast<int>(b.btr0btr1);
  }
  return -1;
}

int PeakBaudFromBtr0Btr1(uint32_t btr0btr1) {
  for (const PeakBaud& b : kPeakBauds) {
    if (b.btr0btr1 == btr0btr1) return b.kbit;
  }
  return -1;
}

bool PeakMessageToFrame(const PeakMessage& msg, CanFrame& out) {
  if (msg.msgType & kPeakMsgStatus) return false;
  out.clear();
  if (msg.msgType & kPeakMsgExtended) {
    out.id = (msg.id & CanFrame::kIdMask) | CanFrame::kExtended;
  } else {
    out.id = msg.id & 0x7FF;
  }
  out.rtr = (msg.msgType & kPeakMsgRemote) ? 1 : 0;
  const int length = msg.len > 8 ? 8 : msg.len;
  out.length = static_cast<uint8_t>(length);
  for (int i = 0; i < length; ++i) out.data[i] = msg.data[i];
  return true;
}

PeakMessage PeakMessageFromFrame(const CanFrame& frame) {
  PeakMessage msg{};
  msg.id = frame.extended() ? frame.identifier() : (frame.identifier() & 0x7FF);
  msg.msgType =
      static_cast<uint8_t>((frame.extended() ? kPeakMsgExtended : 0) | (frame.rtr ? kPeakMsgRemote : 0));
  msg.len = frame.length > 8 ? 8 : frame.length;
  for (int i = 0; i < msg.len; ++i) msg.data[i] = frame.data[i];
  return msg;
}

}  // namespace busprobe
