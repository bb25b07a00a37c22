// The variables file: script variables written on an orderly close and read back at start-up, so
// that values survive from one session to the next. Plain text, CR LF line ends, meant to be read
// and edited by people:
//
//   ; Current variable values saved by Rilo's BUSPROBE V1 .
//   ; You may delete this file to "forget" the old values .
//   Count: ty=I32, va=5
//   Ratio: ty=FLT, va=3.14159
//   Name: ty=STR, va="abc"
//   Marker: ty=INV, va=DONT_CARE
//
// Only lines beginning with an upper-case letter are read back, so only variables whose names
// begin with one survive a restart. Hand-written lines may leave out "ty=" ("Limit = 100").
#pragma once

#include <string>
#include <string_view>

#include "interp/expression.h"
#include "interp/script_value.h"

namespace busprobe {

inline constexpr std::string_view kVariablesFileName = "current_vars.txt";
// Longer lines are read up to this length; the rest of the line is skipped.
inline constexpr std::size_t kVariableLineChars = 255;

// The whole file text: the two comment lines and one line per variable that has a value.
std::string FormatVariablesFile(const InterpState& state);

// Replaces the file through a temporary file in the same directory, so that a crash or a full disk
// while saving leaves the previous values in place. False when it cannot be written.
bool SaveVariables(const InterpState& state, const std::string& path);

// Far more than 100 variables of 255 characters each; a larger file is not one we wrote.
inline constexpr std::size_t kMaxVariablesFileBytes = 4 * 1024 * 1024;

// Reads the file into the table (which the caller has cleared). False when it cannot be read; a
// damaged file loads what it can. A missing or unopenable file is silently skipped; one that is
// refused (not a regular file, larger than kMaxVariablesFileBytes) also sets `error`.
bool LoadVariables(InterpState& state, ScriptEnvironment& env, const std::string& path,
                   std::string* error = nullptr);

// Loads file text that is already in memory.
void LoadVariablesFromText(InterpState& state, ScriptEnvironment& env, std::string_view text);

// Reads one line ("Name: ty=I32, va=5") into the table. Values of integer and float lines are
// expressions, evaluated with `env`.
void ParseVariableLine(InterpState& state, ScriptEnvironment& env, std::string_view line);

}  // namespace busprobe
