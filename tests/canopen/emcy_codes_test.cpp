#include "canopen/emcy_codes.h"

#include <gtest/gtest.h>

namespace busprobe {
namespace {

TEST(EmcyCodeText, ExactCodeBeforeItsGroup) {
  EXPECT_EQ(EmcyCodeText(0x0000), "Cleared errors / no error");
  EXPECT_EQ(EmcyCodeText(0x8110), "CAN overrun");
  EXPECT_EQ(EmcyCodeText(0x8250), "RPDO timeout");
  EXPECT_EQ(EmcyCodeText(0xFF00), "Device specific");
  // Codes of a group the table does not list one by one take the group's text.
  EXPECT_EQ(EmcyCodeText(0x8111), "Communication");
  EXPECT_EQ(EmcyCodeText(0x2310), "Output Current");
  EXPECT_EQ(EmcyCodeText(0x00FF), "Cleared errors / no error");
  // Only the low byte is cleared: 0x5100 is no group of its own, so it has no text.
  EXPECT_EQ(EmcyCodeText(0x5100), "");
  EXPECT_EQ(EmcyCodeText(0xA000), "");
}

}  // namespace
}  // namespace busprobe
