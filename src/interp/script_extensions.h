// The script words other subsystems provide. The language names them (the command table, the
// built-in table, the CANopen accesses, the bus components) and keeps their texts and error codes
// for when nobody provides them; what they do is registered here by the subsystem that owns it
// when it is created: the CAN bus and traffic side its bus components, "freeze", "cursor" and
// "ClearScreen"; CANopen its sdo./obj./obd. commands and reads; the watch list def_watch and
// scope; the user screen its window commands. The environment of an evaluation hands the table
// to the interpreter (ScriptEnvironment::extensions).
#pragma once

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "interp/script_value.h"

namespace busprobe {

struct ScriptCursor;
class ExpressionEvaluator;
class ScriptProgram;

class ScriptExtensions {
 public:
  // A statement word; called with the cursor behind the word. Failures go to the cursor
  // (cursor.fail or program.fail with the stop message), as for the interpreter's own commands.
  using Command = std::function<void(ScriptProgram& program, ScriptCursor& cursor)>;
  // A factor; called with the cursor behind the name ("cursor", "freeze") or on the "." of an
  // access ("sdo.", "obj.", "obd."). Failures go to the cursor.
  using Factor = std::function<ScriptValue(ExpressionEvaluator& evaluator, ScriptCursor& cursor)>;
  // can[bus].component with the bus clamped to 0..1. Failures go to the cursor.
  using BusComponent = std::function<ScriptValue(int bus, ScriptCursor& cursor)>;

  // Each is false, and registers nothing, for a name the language does not leave to other
  // subsystems or one that is registered already.
  bool addCommand(std::string_view word, Command run);
  bool addFactor(std::string_view name, Factor read);
  bool addBusComponent(std::string_view name, BusComponent read);

  // The handler registered for the name; nullptr for none.
  const Command* command(std::string_view word) const;
  const Factor* factor(std::string_view name) const;
  const BusComponent* busComponent(std::string_view name) const;

 private:
  // Names are the language's own spelling, which lives as long as the program.
  std::vector<std::pair<std::string_view, Command>> commands_;
  std::vector<std::pair<std::string_view, Factor>> factors_;
  std::vector<std::pair<std::string_view, BusComponent>> busComponents_;
};

// The language's names of words other subsystems provide, in the language's own spelling (a
// view that lives as long as the program); empty when `name` is none of them.
std::string_view ExtensionCommandWord(std::string_view word);  // script_commands.cpp
std::string_view ExtensionFactorName(std::string_view name);   // expression.cpp
std::string_view BusComponentName(std::string_view name);      // expression.cpp

}  // namespace busprobe
