// CanFrame <-> QCanBusFrame: what goes on the wire and what comes back, and how Qt's error frames
// and bus states become the UCAN status bits.
#include "qtcan/qt_can_frames.h"

#include <gtest/gtest.h>
#include <linux/can/error.h>

#include "can/ucan.h"

namespace busprobe {
namespace {

CanFrame Frame(uint32_t id, int length, uint8_t fdFlags = 0) {
  CanFrame f;
  f.id = id;
  f.length = static_cast<uint8_t>(length);
  f.fdFlags = fdFlags;
  for (int i = 0; i < length && i < 64; ++i) f.data[i] = static_cast<uint8_t>(0xA0 + i);
  return f;
}

CanFrame RoundTrip(const CanFrame& in, int bus = 1) {
  QCanBusFrame wire;
  EXPECT_TRUE(QtFrameEncode(in, wire));
  CanFrame out;
  SocketCanError error;
  EXPECT_EQ(QtFrameDecode(wire, bus, out, error), QtFrameRead::kFrame);
  return out;
}

TEST(QtCanFrames, ClassicFramesKeepTheirIdentifierKindAndData) {
  const CanFrame standard = RoundTrip(Frame(0x123, 3));
  EXPECT_EQ(standard.id, 0x123u | (1u << CanFrame::kBusShift));
  EXPECT_EQ(standard.length, 3);
  EXPECT_EQ(standard.data[2], 0xA2);
  EXPECT_EQ(standard.fdFlags, 0);

  // A small identifier marked extended stays extended; one above 11 bits can only be extended.
  EXPECT_EQ(RoundTrip(Frame(0x123 | CanFrame::kExtended, 8), 0).id, 0x123u | CanFrame::kExtended);
  EXPECT_EQ(RoundTrip(Frame(0x1234567, 0), 0).id, 0x1234567u | CanFrame::kExtended);
}

TEST(QtCanFrames, FdFramesCarryTheirFlagsAndAValidLength) {
  QCanBusFrame wire;
  ASSERT_TRUE(QtFrameEncode(Frame(0x300, 10, CanFrame::kFdf | CanFrame::kBrs), wire));
  EXPECT_TRUE(wire.hasFlexibleDataRateFormat());
  EXPECT_TRUE(wire.hasBitrateSwitch());
  EXPECT_FALSE(wire.hasErrorStateIndicator());
  // 10 typed bytes leave as 12; the two added are zeros, whatever the record held there.
  ASSERT_EQ(wire.payload().size(), 12);
  EXPECT_EQ(static_cast<uint8_t>(wire.payload()[9]), 0xA9);
  EXPECT_EQ(wire.payload()[10], 0);

  const CanFrame back = RoundTrip(Frame(0x300, 10, CanFrame::kFdf | CanFrame::kBrs));
  EXPECT_EQ(back.fdFlags, CanFrame::kFdf | CanFrame::kBrs);
  EXPECT_EQ(back.length, 12);

  EXPECT_EQ(RoundTrip(Frame(0x301, 64, CanFrame::kFdf | CanFrame::kEsi)).fdFlags,
            CanFrame::kFdf | CanFrame::kEsi);
  // More than 8 bytes is an FD frame even without the flag; an FD frame of 8 bytes stays FD.
  EXPECT_EQ(RoundTrip(Frame(0x302, 9)).fdFlags, CanFrame::kFdf);
  EXPECT_EQ(RoundTrip(Frame(0x302, 9)).length, 12);
  EXPECT_EQ(RoundTrip(Frame(0x303, 8, CanFrame::kFdf)).fdFlags, CanFrame::kFdf);
}

TEST(QtCanFrames, RemoteFramesKeepTheirRequestedLength) {
  CanFrame request = Frame(0x7E5, 0);
  request.rtr = 1;
  request.length = 4;
  const CanFrame back = RoundTrip(request);
  EXPECT_EQ(back.rtr, 1);
  EXPECT_EQ(back.length, 4);
  EXPECT_EQ(back.data[0], 0);
}

TEST(QtCanFrames, FramesTheWireCannotCarryAreRefused) {
  QCanBusFrame wire;
  CanFrame fdRemote = Frame(0x10, 8, CanFrame::kFdf);
  fdRemote.rtr = 1;
  EXPECT_FALSE(QtFrameEncode(fdRemote, wire));
  CanFrame longRemote = Frame(0x10, 12);
  longRemote.rtr = 1;
  EXPECT_FALSE(QtFrameEncode(longRemote, wire));
  EXPECT_FALSE(QtFrameEncode(Frame(0x10, 65), wire));
}

TEST(QtCanFrames, ErrorFramesReadLikeTheKernelsErrorMessages) {
  auto decode = [](QCanBusFrame::FrameErrors errors, QByteArray payload = QByteArray(8, '\0')) {
    QCanBusFrame in(QCanBusFrame::ErrorFrame);
    in.setError(errors);
    in.setPayload(payload);
    CanFrame out;
    SocketCanError error;
    EXPECT_EQ(QtFrameDecode(in, 0, out, error), QtFrameRead::kError);
    return error;
  };
  EXPECT_EQ(decode(QCanBusFrame::BusOffError).set, kUcanBusOff);
  EXPECT_TRUE(decode(QCanBusFrame::ProtocolViolationError).errorFrame);
  EXPECT_TRUE(decode(QCanBusFrame::MissingAcknowledgmentError).errorFrame);
  EXPECT_FALSE(decode(QCanBusFrame::LostArbitrationError).errorFrame);
  EXPECT_EQ(decode(QCanBusFrame::TransmissionTimeoutError).events, kUcanTxError);
  EXPECT_EQ(decode(QCanBusFrame::ControllerRestartError).clear & kUcanBusOff, kUcanBusOff);

  // The controller's detail byte says which state it entered.
  QByteArray details(8, '\0');
  details[1] = static_cast<char>(CAN_ERR_CRTL_TX_PASSIVE);
  const SocketCanError passive = decode(QCanBusFrame::ControllerError, details);
  EXPECT_EQ(passive.set, kUcanBusError);
  details[1] = static_cast<char>(CAN_ERR_CRTL_RX_OVERFLOW);
  EXPECT_EQ(decode(QCanBusFrame::ControllerError, details).events, kUcanRxOvf);
  // A plugin that sends no detail bytes changes no state.
  EXPECT_EQ(decode(QCanBusFrame::ControllerError, QByteArray()).set, 0);
}

TEST(QtCanFrames, EchoesOfOwnFramesAndInvalidFramesAreIgnored) {
  QCanBusFrame echo(0x100, QByteArray(2, '\x01'));
  echo.setLocalEcho(true);
  CanFrame out;
  SocketCanError error;
  EXPECT_EQ(QtFrameDecode(echo, 0, out, error), QtFrameRead::kIgnored);
  EXPECT_EQ(QtFrameDecode(QCanBusFrame(QCanBusFrame::InvalidFrame), 0, out, error), QtFrameRead::kIgnored);
}

TEST(QtCanFrames, BusStatesBecomeStatusBits) {
  bool known = false;
  EXPECT_EQ(QtBusStatusBits(QCanBusDevice::CanBusStatus::Good, known), 0);
  EXPECT_TRUE(known);
  EXPECT_EQ(QtBusStatusBits(QCanBusDevice::CanBusStatus::Warning, known), kUcanWarning);
  EXPECT_EQ(QtBusStatusBits(QCanBusDevice::CanBusStatus::Error, known), kUcanBusError);
  EXPECT_EQ(QtBusStatusBits(QCanBusDevice::CanBusStatus::BusOff, known), kUcanBusOff);
  QtBusStatusBits(QCanBusDevice::CanBusStatus::Unknown, known);
  EXPECT_FALSE(known);
}

}  // namespace
}  // namespace busprobe
