// The variables file is text that people edit by hand: any bytes must load without crashing, and
// what is then saved must read back as the same variables with the same types and values (floats
// to six digits, strings up to a double quote they contain).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "interp/variable_file.h"

using namespace busprobe;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckSameValue(const ScriptValue& a, const ScriptValue& b) {
  Check(a.type == b.type);
  switch (a.type) {
    case kTypeInteger:
    case kTypeSpecial:
      Check(a.i == b.i);
      break;
    case kTypeFloat:
      if (std::isnan(a.f)) {
        Check(std::isnan(b.f));
      } else if (std::isinf(a.f)) {
        Check(a.f == b.f);
      } else {
        Check(std::fabs(a.f - b.f) <= 1e-5 * std::fabs(a.f) + 1e-300);
      }
      break;
    case kTypeString:
      // Strings are saved without escapes, so a quote inside cuts the text when it is read back.
      if (a.text().find('"') == std::string_view::npos) Check(a.text() == b.text());
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ManualClock clock(1000.0);
  StandaloneEnvironment env(clock);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto first = std::make_unique<InterpState>();
  LoadVariablesFromText(*first, env, text);
  Check(first->variableCount() <= kVariableCount);

  const std::string saved = FormatVariablesFile(*first);
  auto second = std::make_unique<InterpState>();
  LoadVariablesFromText(*second, env, saved);
  int savedCount = 0;
  for (int k = 0; k < kVariableCount; ++k) {
    const ScriptVariable& var = first->variable(k);
    if (var.name[0] == '\0' || var.value.type == kTypeUnused) continue;
    ++savedCount;
    const int back = second->findVariable(var.name);
    Check(back >= 0);
    CheckSameValue(var.value, second->variable(back).value);
  }
  Check(second->variableCount() == savedCount);

  // One line handed over whole: quoted names, no upper-case filter, no line split.
  auto single = std::make_unique<InterpState>();
  ParseVariableLine(*single, env, text.substr(0, 1024));
  Check(single->variableCount() <= 1);
  return 0;
}
