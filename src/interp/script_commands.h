// The statement keywords of the script language and the assignment statement. Control statements
// live in the program; everything else (output, timing, CAN, error handling, variables) here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "interp/expression.h"

namespace busprobe {

class ScriptProgram;

struct ScriptCommand {
  std::string_view name;
  void (*run)(ScriptProgram& program, ScriptCursor& cursor);
  // Provided by another subsystem through the extension table (script_extensions.h).
  bool otherSubsystem = false;
};

// Exact, case-sensitive lookup of a statement word; nullptr for none (and for the placeholder row).
const ScriptCommand* FindScriptCommand(std::string_view word);

enum class AssignmentResult { Assigned, Label, Failed };
// `name := expr`, `name = expr`, `name[int] := expr`; a "name:" is a label line.
AssignmentResult RunAssignment(ScriptProgram& program, ScriptCursor& cursor);

// A statement that starts with a digit, "(", "#" or "$": a frame to send with pacing.
void RunFrameLine(ScriptProgram& program, ScriptCursor& cursor);

// "; List of INTERPRETER VARIABLES by alphabet:" and one listing line per variable.
std::vector<std::string> ListVariablesByName(const InterpState& state);

}  // namespace busprobe
