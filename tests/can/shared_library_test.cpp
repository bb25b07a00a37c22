#include "can/shared_library.h"

#include <gtest/gtest.h>

#include <cstring>

namespace busprobe {
namespace {

TEST(SharedLibrary, LoadsTheFirstNameThatExistsAndFetchesEntryPointsByName) {
  SharedLibrary lib;
  ASSERT_TRUE(lib.open({"libbusprobe-no-such-driver.so", "libc.so.6"})) << lib.error();
  EXPECT_EQ(lib.fileName(), "libc.so.6");
  using Strlen = size_t (*)(const char*);
  auto strlenFn = lib.entry<Strlen>("strlen");
  ASSERT_NE(strlenFn, nullptr);
  EXPECT_EQ(strlenFn("four"), 4u);
  EXPECT_EQ(lib.symbol("canNoSuchEntryPoint"), nullptr);

  lib.close();
  EXPECT_FALSE(lib.isOpen());
  EXPECT_EQ(lib.symbol("strlen"), nullptr);
  lib.close();  // twice is harmless
}

TEST(SharedLibrary, AMissingLibraryLeavesTheLoadersReason) {
  SharedLibrary lib;
  EXPECT_FALSE(lib.open({"libbusprobe-no-such-driver.so"}));
  EXPECT_FALSE(lib.isOpen());
  EXPECT_NE(lib.error().find("libbusprobe-no-such-driver.so"), std::string::npos) << lib.error();
  EXPECT_FALSE(lib.open({}));
}

}  // namespace
}  // namespace busprobe
