#include "interp/variable_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "base/bounded_child.h"
#include "base/clock.h"

namespace busprobe {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader =
    "; Current variable values saved by Rilo's BUSPROBE V1 .\r\n"
    "; You may delete this file to \"forget\" the old values .\r\n";

struct VarFixture {
  ManualClock clock{0.0};
  StandaloneEnvironment env{clock};
  std::unique_ptr<InterpState> state = std::make_unique<InterpState>();

  void set(std::string_view name, const ScriptValue& v) {
    state->variable(state->findOrCreateVariable(name)).value = v;
  }
  const ScriptValue* get(std::string_view name) const {
    const int e = state->findVariable(name);
    return e < 0 ? nullptr : &state->variable(e).value;
  }
  void load(std::string_view text) { LoadVariablesFromText(*state, env, text); }
};

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "varfile-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const char* name) const { return (fs::path(path_) / name).string(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(VariableFile, RestartKeepsUpperCaseVariablesWithTheirTypes) {
  ScratchDir dir;
  const std::string path = dir.file("current_vars.txt");
  {
    VarFixture before;
    before.set("Count", ScriptValue::integer(5));
    before.set("speed", ScriptValue::floating(2.5));
    before.set("Name", ScriptValue::string("abc"));
    before.set("Ratio", ScriptValue::floating(3.14159265));
    before.set("Whole", ScriptValue::floating(5.0));
    before.set("Huge", ScriptValue::floating(-1.5e20));
    before.set("Flag", ScriptValue::special(kDontCare));
    before.set("Odd", ScriptValue::special(-7));
    before.set("Min", ScriptValue::integer(INT32_MIN));
    before.state->findOrCreateVariable("Unused");
    // Elements are never saved, nor a variable that only holds elements.
    *before.state->newElement(before.state->findOrCreateVariable("Table"), 1) = ScriptValue::integer(9);
    ASSERT_TRUE(SaveVariables(*before.state, path));
  }
  EXPECT_EQ(readFile(path),
            std::string(kHeader) +
                "Count: ty=I32, va=5\r\nspeed: ty=FLT, va=2.5\r\nName: ty=STR, va=\"abc\"\r\n"
                "Ratio: ty=FLT, va=3.14159\r\nWhole: ty=FLT, va=5\r\nHuge: ty=FLT, va=-1.5e+20\r\n"
                "Flag: ty=INV, va=DONT_CARE\r\nOdd: ty=INV, va=-7\r\n"
                "Min: ty=I32, va=-2147483648\r\n");
  // Nothing but the file itself is left in the directory.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  VarFixture after;
  ASSERT_TRUE(LoadVariables(*after.state, after.env, path));
  EXPECT_EQ(after.get("speed"), nullptr);
  EXPECT_EQ(after.get("Unused"), nullptr);
  EXPECT_EQ(after.get("Table"), nullptr);
  ASSERT_NE(after.get("Count"), nullptr);
  EXPECT_EQ(after.get("Count")->type, kTypeInteger);
  EXPECT_EQ(after.get("Count")->i, 5);
  EXPECT_EQ(after.get("Name")->text(), "abc");
  EXPECT_EQ(after.get("Ratio")->type, kTypeFloat);
  EXPECT_EQ(after.get("Ratio")->f, 3.14159);
  EXPECT_EQ(after.get("Whole")->type, kTypeFloat);
  EXPECT_EQ(after.get("Whole")->f, 5.0);
  EXPECT_EQ(after.get("Huge")->f, -1.5e20);
  EXPECT_EQ(after.get("Flag")->type, kTypeSpecial);
  EXPECT_EQ(after.get("Flag")->i, kDontCare);
  EXPECT_EQ(after.get("Odd")->type, kTypeSpecial);
  EXPECT_EQ(after.get("Odd")->i, -7);
  EXPECT_EQ(after.get("Min")->i, INT32_MIN);
  EXPECT_EQ(after.state->variableCount(), 8);
}

TEST(VariableFile, SaveReplacesTheOldFileOrLeavesItAlone) {
  ScratchDir dir;
  const std::string path = dir.file("current_vars.txt");
  VarFixture f;
  f.set("A", ScriptValue::integer(1));
  ASSERT_TRUE(SaveVariables(*f.state, path));
  f.set("A", ScriptValue::integer(2));
  ASSERT_TRUE(SaveVariables(*f.state, path));
  EXPECT_EQ(readFile(path), std::string(kHeader) + "A: ty=I32, va=2\r\n");

  EXPECT_FALSE(SaveVariables(*f.state, dir.file("missing/current_vars.txt")));
  // A directory standing where the file should be cannot be replaced; the rename fails cleanly.
  fs::create_directory(dir.file("blocked"));
  EXPECT_FALSE(SaveVariables(*f.state, dir.file("blocked")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

  VarFixture fresh;
  EXPECT_FALSE(LoadVariables(*fresh.state, fresh.env, dir.file("nothing.txt")));
  EXPECT_EQ(fresh.state->variableCount(), 0);
}

TEST(VariableFile, LinesAreParsedStepByStep) {
  VarFixture f;
  f.set("Base", ScriptValue::integer(40));
  f.load(
      "Limit = 100\r\n"
      "Neg := -5\r\n"
      "Expr: ty=I32, va=Base + 2\r\n"
      "Mixed: ty=FLT, va=Base / 8\r\n"
      "Tiny: ty=FLT, va=1e-05\r\n"
      "Inf: ty=FLT, va=-inf\r\n"
      "Pos: ty=INV, va=POS_INFINITY\r\n"
      "Code: ty=INV, va=3 + 4\r\n"
      "Quote: ty=STR, va=\"say \"hi\"\"\r\n"
      "Escaped: ty=STR, va=\"a\\\"b\"\r\n"
      "Path: ty=STR, va=\"C:\\\"\r\n"
      "Bare = \"text\"\r\n"
      "Cut: ty=STR, va=\"" +
      std::string(100, 'c') +
      "\"\r\n"
      "VeryLongVariableNameHere = 1\r\n"
      "Nothing: ty=???, va=1\r\n"
      "Unknown: ty=XYZ, va=1\r\n"
      "Word = abc\r\n"
      "Broken: ty=I32, va=1 +\r\n"
      "lower = 1\r\n"
      "; Comment = 1\r\n"
      " Indented = 1\r\n"
      "Last = 3");
  struct IntRow {
    const char* name;
    int32_t value;
  } ints[] = {{"Limit", 100}, {"Neg", -5}, {"Expr", 42}, {"Last", 3}, {"VeryLongVariable", 1}};
  for (const IntRow& row : ints) {
    const ScriptValue* v = f.get(row.name);
    ASSERT_NE(v, nullptr) << row.name;
    EXPECT_EQ(v->type, kTypeInteger) << row.name;
    EXPECT_EQ(v->i, row.value) << row.name;
  }
  EXPECT_EQ(f.get("Mixed")->type, kTypeInteger);  // an expression keeps its own type
  EXPECT_EQ(f.get("Mixed")->i, 5);
  EXPECT_DOUBLE_EQ(f.get("Tiny")->f, 1e-5);
  EXPECT_TRUE(std::isinf(f.get("Inf")->f) && f.get("Inf")->f < 0);
  EXPECT_EQ(f.get("Pos")->i, kPosInfinity);
  EXPECT_EQ(f.get("Code")->type, kTypeSpecial);
  EXPECT_EQ(f.get("Code")->i, 7);
  EXPECT_EQ(f.get("Quote")->text(), "say ");
  EXPECT_EQ(f.get("Escaped")->text(), "a\"b");
  EXPECT_EQ(f.get("Path")->text(), "C:\\");
  EXPECT_EQ(f.get("Bare")->text(), "text");
  EXPECT_EQ(f.get("Cut")->text(), std::string(79, 'c'));
  // Lines that do not parse leave a created but unused entry at worst.
  for (const char* name : {"Nothing", "Unknown", "Word", "Broken"}) {
    ASSERT_NE(f.get(name), nullptr) << name;
    EXPECT_EQ(f.get(name)->type, kTypeUnused) << name;
  }
  for (const char* name : {"lower", "Comment", "Indented"}) EXPECT_EQ(f.get(name), nullptr) << name;
}

TEST(VariableFile, DamagedInputLoadsWhatItCan) {
  VarFixture f;
  // The tail of an over-long line is skipped, not read as a line of its own.
  std::string longLine = "Long = 1" + std::string(kVariableLineChars - 8, ' ') + "Tail = 9";
  f.load(longLine + "\r\nNext = 2\n\x01\xff garbage\rOld = 3\r\n\r\n" + std::string("Nul = 4\0junk", 12));
  EXPECT_EQ(f.get("Long")->i, 1);
  EXPECT_EQ(f.get("Tail"), nullptr);
  EXPECT_EQ(f.get("Next")->i, 2);
  EXPECT_EQ(f.get("Old")->i, 3);
  EXPECT_EQ(f.get("Nul")->i, 4);

  // A full table takes no new names but still updates the ones it has.
  VarFixture full;
  for (int k = 0; k < kVariableCount; ++k) full.set("V" + std::to_string(k), ScriptValue::integer(k));
  full.load("Extra = 1\r\nV5 = 55\r\n");
  EXPECT_EQ(full.get("Extra"), nullptr);
  EXPECT_EQ(full.get("V5")->i, 55);
}

TEST(VariableFile, SavedLinesNeverSpillIntoTheNextLine) {
  VarFixture f;
  f.set("Text", ScriptValue::string("first\r\nSneaky = 1"));
  f.set("After", ScriptValue::integer(1));
  f.state->variable(f.state->findOrCreateVariable("\xC4rger")).value = ScriptValue::integer(2);
  const std::string text = FormatVariablesFile(*f.state);
  EXPECT_EQ(text, std::string(kHeader) + "Text: ty=STR, va=\"first\r\nAfter: ty=I32, va=1\r\n");
  VarFixture back;
  back.load(text);
  EXPECT_EQ(back.get("Text")->text(), "first");
  EXPECT_EQ(back.get("Sneaky"), nullptr);
}

TEST(VariableFile, FifoDeviceOrHugeFileIsRefusedWithAText) {
  ScratchDir dir;
  VarFixture f;
  const std::string fifo = dir.file("fifo_vars.txt");
  const std::string zero = dir.file("zero_vars.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", zero);
  for (const std::string& path : {fifo, zero}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(test::ReturnsWithin(10, [&] { LoadVariables(*f.state, f.env, path); }));
    std::string error;
    EXPECT_FALSE(LoadVariables(*f.state, f.env, path, &error));
    EXPECT_EQ(error, "Variables file \"" + path + "\" not loaded: not a regular file.");
  }

  // A file beyond the limit is not one we wrote: nothing of it is loaded.
  const std::string huge = dir.file("current_vars.txt");
  {
    std::ofstream out(huge, std::ios::binary);
    out << "Count: ty=I32, va=5\r\n";
  }
  fs::resize_file(huge, kMaxVariablesFileBytes + 1);
  std::string error;
  EXPECT_FALSE(LoadVariables(*f.state, f.env, huge, &error));
  EXPECT_EQ(error, "Variables file \"" + huge + "\" not loaded: file too large.");
  EXPECT_EQ(f.get("Count"), nullptr);

  // A missing file stays silent, as before.
  error.clear();
  EXPECT_FALSE(LoadVariables(*f.state, f.env, dir.file("absent.txt"), &error));
  EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace busprobe
