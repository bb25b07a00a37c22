#include "interp/script_value.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace busprobe {
namespace {

TEST(ScriptErrors, TextsAndClasses) {
  char buf[48];
  EXPECT_EQ(scriptErrorText(0, buf), "all ok");
  EXPECT_EQ(scriptErrorText(-10, buf), "illegale index");
  EXPECT_EQ(scriptErrorText(-22, buf), "out of memory");
  EXPECT_EQ(scriptErrorText(-23, buf), "unknown Error Code (-23)");
  EXPECT_EQ(scriptErrorText(5, buf), "unknown Error Code (5)");
  const int expected[] = {0, 2, 2, 3, 3, 2, 3, 2, 2, 3, 3, 3, 3, 3, 3, 2, 4, 1, 2, 6, 1, 1, 1};
  for (int code = 0; code >= -22; --code) EXPECT_EQ(scriptErrorClass(code), expected[-code]) << code;
  EXPECT_EQ(scriptErrorClass(-99), kClassGeneral);
  EXPECT_EQ(scriptErrorClass(1), kClassGeneral);
  int k = 0;
  for (const char* name : {"none", "general", "syntax", "illval", "timeout", "canbus", "sdo"})
    EXPECT_EQ(scriptErrorClassByName(name), k++) << name;
  EXPECT_EQ(scriptErrorClassByName("Sdo"), kClassNone);
  EXPECT_EQ(scriptErrorClassByName(""), kClassNone);
}

TEST(VariableTable, NamesAreCutTo16AndTheTableHolds100) {
  auto st = std::make_unique<InterpState>();
  const int a = st->findOrCreateVariable("a_very_long_variable_name");
  ASSERT_GE(a, 0);
  EXPECT_EQ(std::string(st->variable(a).name), "a_very_long_vari");
  EXPECT_EQ(st->findVariable("a_very_long_variXYZ"), a);  // equal over the first 16 characters
  EXPECT_EQ(st->findVariable("A_very_long_vari"), -1);    // case-sensitive
  EXPECT_EQ(st->findOrCreateVariable(""), -1);
  for (int k = 1; k < kVariableCount; ++k) ASSERT_GE(st->findOrCreateVariable("v" + std::to_string(k)), 0);
  EXPECT_EQ(st->findOrCreateVariable("one_too_many"), -1);
  EXPECT_EQ(st->findOrCreateVariable("v99"), 99);  // existing names are still found
  st->clearAll();
  EXPECT_EQ(st->variableCount(), 0);
  EXPECT_EQ(st->findOrCreateVariable("x"), 0);  // first free entry
}

TEST(ElementPool, SharedBy1024ElementsWithNewestFirstLookup) {
  auto st = std::make_unique<InterpState>();
  const int a = st->findOrCreateVariable("a");
  const int b = st->findOrCreateVariable("b");
  for (int k = 0; k < kElementCount - 1; ++k) ASSERT_NE(st->newElement(a, k - 500), nullptr);
  ScriptValue* last = st->newElement(b, 7);
  ASSERT_NE(last, nullptr);
  *last = ScriptValue::integer(70);
  EXPECT_EQ(st->newElement(b, 8), nullptr);
  EXPECT_EQ(st->elementForWrite(b, 8), nullptr);
  EXPECT_EQ(st->elementForWrite(b, 7)->i, 70);
  EXPECT_EQ(st->element(a, 7), st->element(a, 7));
  EXPECT_EQ(st->element(a, 9999), nullptr);
  EXPECT_EQ(st->element(b, 0), nullptr);
  EXPECT_EQ(st->elementCount(), kElementCount);
  st->clearAll();
  EXPECT_EQ(st->elementCount(), 0);
  EXPECT_EQ(st->element(a, 7), nullptr);
}

TEST(VariableText, FileAndListingForms) {
  ScriptVariable v;
  std::snprintf(v.name, sizeof v.name, "counter");
  char out[128];
  const struct {
    ScriptValue value;
    const char* file;
    const char* listing;
  } rows[] = {
      {ScriptValue::integer(5), "counter: ty=I32, va=5", "counter          I32 5"},
      {ScriptValue::floating(1.5), "counter: ty=FLT, va=1.5", "counter          FLT 1.5"},
      {ScriptValue::special(kDontCare), "counter: ty=INV, va=DONT_CARE", "counter          SPC DONT_CARE"},
      {ScriptValue::special(7), "counter: ty=INV, va=7", "counter          SPC 7"},
      {ScriptValue::string("hi"), "counter: ty=STR, va=\"hi\"", "counter          STR hi"},
  };
  for (const auto& row : rows) {
    v.value = row.value;
    std::size_t n = formatVariableFileLine(v, out, sizeof out);
    EXPECT_EQ(std::string(out, n), row.file);
    n = formatVariableListingLine(v, out, sizeof out);
    EXPECT_EQ(std::string(out, n), row.listing);
  }
  v.value = ScriptValue::string(std::string(79, 'z'));
  char small[20];
  const std::size_t n = formatVariableFileLine(v, small, sizeof small);
  EXPECT_EQ(n, sizeof small - 1);  // cut to the buffer, terminated
  EXPECT_EQ(small[n], '\0');
}

}  // namespace
}  // namespace busprobe
