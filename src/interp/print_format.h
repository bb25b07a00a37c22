// Text formatting of the `print` argument list, shared by `print`, `can.send` and the formatted
// entries of the transmit list.
#pragma once

#include <cstddef>
#include <string_view>

#include "interp/expression.h"

namespace busprobe {

inline constexpr std::size_t kPrintOutputChars = 255;
// Longest format string kept; further characters of the literal are read and dropped.
inline constexpr std::size_t kPrintFormatChars = 80;

struct PrintOutput {
  char text[kPrintOutputChars + 1] = {};  // NUL-terminated
  std::size_t length = 0;
  bool suppressLineFeed = false;  // parenthesised form with ";" directly before ")"

  std::string_view view() const { return std::string_view(text, length); }
};

// Formats the argument list at the cursor (behind the command word):
//   args        := "(" list ")" | list
//   list        := [ argument { separator argument } ]
//   separator   := "," (writes one blank) | ";" (parenthesised form only, writes nothing)
// A first argument that is a lone string literal is a format with C-style conversions
// ("%" [flag] [width: up to 2 digits] ["." digit] [F|L|N|h|l] letter) plus "%b" for binary;
// each conversion takes the next argument. Other arguments are written plainly. The plain list
// ends at the end of the line, ":", ";" or "//"; the parenthesised one at its ")".
// Returns 0 or an error code (also kept in cursor.error); on error the output is empty. The cursor
// is left behind the list (behind ")" in the parenthesised form).
int FormatPrintArguments(ExpressionEvaluator& eval, ScriptCursor& cursor, PrintOutput& out);

// Writes the error text of `code` followed by `suffix` (" in print-cmd", " in 'send' arguments"),
// cut to the output's capacity.
void PrintErrorMessage(int code, std::string_view suffix, PrintOutput& out);

}  // namespace busprobe
