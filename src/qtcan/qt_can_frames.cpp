#include "qtcan/qt_can_frames.h"

#include <algorithm>
#include <cstring>

#include "can/ucan.h"  // the status bits

namespace busprobe {

QtFrameRead QtFrameDecode(const QCanBusFrame& in, int bus, CanFrame& out, SocketCanError& error) {
  error = SocketCanError{};
  if (in.hasLocalEcho()) return QtFrameRead::kIgnored;
  const QByteArray payload = in.payload();

  if (in.frameType() == QCanBusFrame::ErrorFrame) {
    canfd_frame kernel{};
    kernel.can_id = CAN_ERR_FLAG | (static_cast<canid_t>(in.error().toInt()) & CAN_ERR_MASK);
    kernel.len = static_cast<uint8_t>(std::min<qsizetype>(payload.size(), CAN_MAX_DLEN));
    std::memcpy(kernel.data, payload.constData(), kernel.len);
    CanFrame unused;
    SocketCanDecode(kernel, CAN_MTU, bus, unused, error);
    return QtFrameRead::kError;
  }
  if (!in.isValid() ||
      (in.frameType() != QCanBusFrame::DataFrame && in.frameType() != QCanBusFrame::RemoteRequestFrame))
    return QtFrameRead::kIgnored;

  out = CanFrame{};
  out.id = in.frameId() & CanFrame::kIdMask;
  if (in.hasExtendedFrameFormat()) out.id |= CanFrame::kExtended;
  out.setBus(bus);
  int length = static_cast<int>(std::min<qsizetype>(payload.size(), 64));
  if (in.frameType() == QCanBusFrame::RemoteRequestFrame) {
    // A remote frame's payload is only its length: Qt keeps the requested DLC that way.
    out.rtr = 1;
    out.length = static_cast<uint8_t>(std::min(length, 8));
    return QtFrameRead::kFrame;
  }
  if (in.hasFlexibleDataRateFormat()) {
    out.fdFlags = CanFrame::kFdf;
    if (in.hasBitrateSwitch()) out.fdFlags |= CanFrame::kBrs;
    if (in.hasErrorStateIndicator()) out.fdFlags |= CanFrame::kEsi;
    std::memcpy(out.data, payload.constData(), static_cast<size_t>(length));
    length = CanRoundUpFdLength(length);
  } else {
    length = std::min(length, 8);
    std::memcpy(out.data, payload.constData(), static_cast<size_t>(length));
  }
  out.length = static_cast<uint8_t>(length);
  return QtFrameRead::kFrame;
}

bool QtFrameEncode(const CanFrame& in, QCanBusFrame& out) {
  if (in.length > 64) return false;
  const bool fd = in.isFd() || in.length > 8;
  if (fd && in.rtr) return false;
  out = QCanBusFrame(in.rtr ? QCanBusFrame::RemoteRequestFrame : QCanBusFrame::DataFrame);
  out.setExtendedFrameFormat(in.extended() || (in.identifier() & CanFrame::kExtendedOnlyBits) != 0);
  out.setFrameId(in.identifier());
  if (in.rtr) {
    out.setPayload(QByteArray(in.length, '\0'));
    return true;
  }
  const int length = fd ? CanRoundUpFdLength(in.length) : in.length;
  // The bytes between the typed length and the FD length go out as zeros, whatever the record holds.
  QByteArray payload(length, '\0');
  std::memcpy(payload.data(), in.data, in.length);
  out.setPayload(payload);
  if (fd) {
    out.setFlexibleDataRateFormat(true);
    out.setBitrateSwitch((in.fdFlags & CanFrame::kBrs) != 0);
    out.setErrorStateIndicator((in.fdFlags & CanFrame::kEsi) != 0);
  }
  return out.isValid();
}

uint8_t QtBusStatusBits(QCanBusDevice::CanBusStatus status, bool& known) {
  known = true;
  switch (status) {
    case QCanBusDevice::CanBusStatus::Good:
      return 0;
    case QCanBusDevice::CanBusStatus::Warning:
      return kUcanWarning;
    case QCanBusDevice::CanBusStatus::Error:
      return kUcanBusError;
    case QCanBusDevice::CanBusStatus::BusOff:
      return kUcanBusOff;
    case QCanBusDevice::CanBusStatus::Unknown:
      break;
  }
  known = false;
  return 0;
}

}  // namespace busprobe
