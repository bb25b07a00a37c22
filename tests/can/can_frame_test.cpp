#include "can/can_frame.h"

#include <gtest/gtest.h>

namespace busprobe {
namespace {

TEST(CanFrame, WireLayoutIsLittleEndianAndRoundTrips) {
  CanFrame f;
  f.id = 0x80000000u | CanFrame::kExtended | 0x1234567u;  // bus index 2, extended
  f.timestamp = 0xA1B2C3D4u;
  f.rtr = 1;
  f.length = 64;
  f.fdFlags = CanFrame::kFdf | CanFrame::kBrs | CanFrame::kLoopback;
  f.reserved = 0x5A;
  for (int i = 0; i < 64; ++i) f.data[i] = static_cast<uint8_t>(0xC0 ^ i);

  uint8_t bytes[76];
  CanFrameToBytes(f, bytes);
  EXPECT_EQ(bytes[0], 0x67);
  EXPECT_EQ(bytes[3], 0xA1);  // bus bit 31 and the extended bit 29 live in the last id byte
  EXPECT_EQ(bytes[4], 0xD4);
  EXPECT_EQ(bytes[7], 0xA1);
  EXPECT_EQ(bytes[8], 1);
  EXPECT_EQ(bytes[9], 64);
  EXPECT_EQ(bytes[10], 0x61);
  EXPECT_EQ(bytes[11], 0x5A);
  EXPECT_EQ(bytes[12], 0xC0);
  EXPECT_EQ(bytes[75], 0xC0 ^ 63);

  const CanFrame back = CanFrameFromBytes(bytes);
  EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0);
  EXPECT_EQ(back.bus(), 2);
  EXPECT_EQ(back.identifier(), 0x1234567u);
  EXPECT_TRUE(back.extended());
}

TEST(CanFrame, DlcAndLengthConvertThroughOneTable) {
  const int lengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
  for (int dlc = 0; dlc < 16; ++dlc) {
    EXPECT_EQ(CanDlcToLength(dlc), lengths[dlc]) << dlc;
    EXPECT_EQ(CanLengthToDlc(lengths[dlc]), dlc) << dlc;
  }
  EXPECT_EQ(CanDlcToLength(16), 0);
  EXPECT_EQ(CanDlcToLength(-1), 0);

  struct Row {
    int length, dlc, rounded;
  };
  const Row rows[] = {{9, 9, 12},   {10, 9, 12},  {12, 9, 12}, {13, 10, 16},
                      {25, 13, 32}, {49, 15, 64}, {64, 15, 64}};
  for (const Row& r : rows) {
    EXPECT_EQ(CanLengthToDlc(r.length), r.dlc) << r.length;
    EXPECT_EQ(CanRoundUpFdLength(r.length), r.rounded) << r.length;
  }
  // Above the largest FD frame there is no code at all.
  EXPECT_EQ(CanLengthToDlc(65), 0);
  EXPECT_EQ(CanRoundUpFdLength(65), 65);
}

TEST(CanFrame, BusIndexIsKeptApartFromTheIdentifier) {
  CanFrame f;
  f.id = CanFrame::kExtended | 0x1FFFFFFFu;
  f.setBus(3);
  EXPECT_EQ(f.bus(), 3);
  EXPECT_EQ(f.identifier(), 0x1FFFFFFFu);
  f.setBus(1);
  EXPECT_EQ(f.bus(), 1);
  EXPECT_TRUE(f.extended());
}

}  // namespace
}  // namespace busprobe
