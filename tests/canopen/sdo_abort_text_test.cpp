#include "canopen/sdo_abort_text.h"

#include <gtest/gtest.h>

namespace busprobe {
namespace {

TEST(SdoAbortText, KnownCodesZeroAndUnknownCodes) {
  EXPECT_EQ(SdoAbortText(0), "unknown/timeout?");
  EXPECT_EQ(SdoAbortText(kSdoAbortReadOnly), "object is READ-ONLY");
  EXPECT_EQ(SdoAbortText(kSdoAbortParameterIncompatible), "general parameter incompatibility");
  EXPECT_EQ(SdoAbortText(0x08000023), "could not create OD");
  // Near misses of table codes are not taken for them.
  EXPECT_EQ(SdoAbortText(0x06010003), "unknown abort code");
  EXPECT_EQ(SdoAbortText(0xFFFFFFFF), "unknown abort code");
}

}  // namespace
}  // namespace busprobe
