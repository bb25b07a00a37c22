#include "interp/interp_settings.h"

#include <gtest/gtest.h>

#include "base/ini_file.h"
#include "interp/interp_keys.h"

namespace busprobe {
namespace {

TEST(InterpreterSettingsKeys, KeysAndTheTxDelayLayout) {
  test::ExpectTableCarries<InterpreterSettings>(test::InterpreterKeys(), ReadInterpreterSettings,
                                                WriteInterpreterSettings);

  InterpreterSettings s;
  s.txDelay = 5.0;
  ReadInterpreterSettings(IniFile::parse("[Interpreter]\nTxDelay=abc\n"), s);
  EXPECT_EQ(s.txDelay, 100.0);
  IniFile out;
  WriteInterpreterSettings(out, s);
  EXPECT_NE(out.text().find("\nTxDelay=   100.0\n"), std::string::npos);
  ReadInterpreterSettings(IniFile::parse("[Interpreter]\nTxDelay=  0.25\n"), s);
  EXPECT_EQ(s.txDelay, 0.25);  // read at full precision, whatever the layout keeps
}

}  // namespace
}  // namespace busprobe
