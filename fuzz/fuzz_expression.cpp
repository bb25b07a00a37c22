// Script lines come from files users write and edit: any text, evaluated as an expression, as a
// factor in the hexadecimal context, as a data-byte list and as a data type name, must end in a
// value or an error code without crashing or reading outside the line.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/clock.h"
#include "interp/expression.h"

using namespace busprobe;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ManualClock clock(1000.0);
  StandaloneEnvironment env(clock);
  auto state = std::make_unique<InterpState>();
  // A few variables and elements so that lookups and indexing find something.
  const int v = state->findOrCreateVariable("v");
  state->variable(v).value = ScriptValue::integer(3);
  *state->newElement(v, 1) = ScriptValue::string("abc");
  state->variable(state->findOrCreateVariable("f")).value = ScriptValue::floating(0.5);
  ExpressionEvaluator eval(*state, env);

  CanFrame frame;
  for (size_t k = 0; k < size && k < 8; ++k) frame.data[k] = data[k];
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Evaluate expressions back to back the way a statement reads several arguments.
  ScriptCursor c(text);
  c.frame = &frame;
  c.flags = size > 0 ? (data[0] & 1u) : 0u;
  for (int k = 0; k < 16 && c.error == 0 && !c.atEnd(); ++k) {
    const std::size_t before = c.pos;
    (void)eval.evaluate(c);
    if (c.pos == before) ++c.pos;
  }

  ScriptCursor hex(text);
  (void)eval.evaluateFactor(hex, 16);

  uint8_t bytes[64];
  ScriptCursor list(text);
  const int n = eval.readDataBytes(list, bytes, size > 0 && (data[0] & 2u) ? 64 : 8);
  if (n < 0 || n > 64) __builtin_trap();

  ScriptCursor type(text);
  const int code = readDataTypeName(type);
  ScriptValue out;
  (void)extractValue(frame, static_cast<int32_t>(size * 7), code, out);
  return 0;
}
