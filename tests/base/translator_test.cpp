#include "base/translator.h"

#include <gtest/gtest.h>

#include <string>

namespace busprobe {
namespace {

TEST(Translator, WithoutTableEveryTextIsItsOwnTranslation) {
  Translator t;
  const char* format = "Loaded %s .";
  EXPECT_EQ(t.translate(format), format);  // the same pointer: no copy on the hot path
  EXPECT_EQ(t.translate(std::string_view("Stop")), "Stop");
}

TEST(Translator, TranslatesKnownTextsAndKeepsUnknownOnes) {
  Translator t;
  t.add("Stop", "Halt");
  t.add("Loaded %s .", "%s geladen .");
  EXPECT_STREQ(t.translate("Loaded %s ."), "%s geladen .");
  EXPECT_EQ(t.translate(std::string_view("Stop")), "Halt");
  EXPECT_EQ(t.translate(std::string_view("Run")), "Run");
  t.add("Stop", "Anhalten");  // a later table replaces an earlier entry
  EXPECT_EQ(t.translate(std::string_view("Stop")), "Anhalten");
  t.clear();
  EXPECT_EQ(t.translate(std::string_view("Stop")), "Stop");
}

}  // namespace
}  // namespace busprobe
