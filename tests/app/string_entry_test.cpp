// The number and text forms of the string entry question, answered by a scripted user.
#include <gtest/gtest.h>

#include <optional>

#include "app/user_interface.h"
#include "base/translator.h"

namespace busprobe {
namespace {

// Types `typed` (or leaves the field as shown when unset) and presses OK, or Cancel.
class ScriptedTyping : public UserInterface {
 public:
  std::optional<std::string> typed;
  bool pressOk = true;
  std::string shownLine1, shownLine2, shownText;

 protected:
  bool answerString(const std::string& line1, const std::string& line2, std::string& text) override {
    shownLine1 = line1;
    shownLine2 = line2;
    shownText = text;
    if (typed) text = *typed;
    return pressOk;
  }
};

TEST(StringEntry, NumberFormGivesTheTypedNumberOrTheCurrentOne) {
  ScriptedTyping user;
  user.typed = "250";
  EXPECT_EQ(user.enterNumber("Node ID", "(1..127)", 7), 250);
  EXPECT_EQ(user.shownLine1, "Node ID");
  EXPECT_EQ(user.shownLine2, "(1..127)");
  EXPECT_EQ(user.shownText, "7");

  struct Case {
    const char* typed;
    int64_t result;
  } cases[] = {{"0x1F000", 0x1F000}, {"$ff", 255}, {" -3", -3}, {"12 ms", 12},
               {"garbage", 7},       {"", 7},      {"0x", 7},   {"99999999999999999999", 7}};
  for (const Case& c : cases) {
    user.typed = c.typed;
    EXPECT_EQ(user.enterNumber("a", "b", 7), c.result) << c.typed;
  }
  // Cancel gives the current number whatever was typed.
  user.typed = "42";
  user.pressOk = false;
  EXPECT_EQ(user.enterNumber("a", "b", -5), -5);
  // Nobody to type (headless): the current number stays.
  UserInterface headless;
  EXPECT_EQ(headless.enterNumber("a", "b", 300), 300);
}

TEST(StringEntry, TextFormCopiesAtMostSizeBytesOnOkOnly) {
  ScriptedTyping user;
  std::string buffer = "old name";
  user.typed = "a new and much longer name";
  EXPECT_TRUE(user.enterText("Name", "", buffer, 10));
  EXPECT_EQ(user.shownText, "old name");
  EXPECT_EQ(buffer, "a new and ");
  // Never half a character: "Größe" cut inside the two bytes of "ö".
  user.typed =
      "Gr\xC3\xB6\xC3\x9F"
      "e";
  EXPECT_TRUE(user.enterText("Name", "", buffer, 3));
  EXPECT_EQ(buffer, "Gr");

  user.typed = "not taken";
  user.pressOk = false;
  EXPECT_FALSE(user.enterText("Name", "", buffer, 20));
  EXPECT_EQ(buffer, "Gr");

  // The unlimited text form keeps working for its callers.
  user.pressOk = true;
  user.typed = std::string(300, 'x');
  std::string whole;
  EXPECT_TRUE(user.enterString("a", "b", whole));
  EXPECT_EQ(whole.size(), 300u);
}

TEST(StringEntry, LabelsPassTheTranslator) {
  Translator translator;
  translator.add("Start address", "Startadresse");
  ScriptedTyping user;
  user.setTranslator(&translator);
  std::string text;
  user.enterText("Start address", "(hex)", text, 8);
  EXPECT_EQ(user.shownLine1, "Startadresse");
  EXPECT_EQ(user.shownLine2, "(hex)");
  user.enterNumber("Start address", "", 0);
  EXPECT_EQ(user.shownLine1, "Startadresse");
}

}  // namespace
}  // namespace busprobe
