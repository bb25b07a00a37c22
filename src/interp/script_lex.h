// Character classes and small cursor moves shared by the evaluator, the statement loop and the
// commands.
#pragma once

#include <string_view>

#include "interp/expression.h"

namespace busprobe::lex {

inline bool isLetter(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}
inline bool isDigit(char ch) {
  return ch >= '0' && ch <= '9';
}
inline bool isIdentChar(char ch) {
  return isLetter(ch) || isDigit(ch) || ch == '_';
}
inline bool isControl(char ch) {
  return static_cast<unsigned char>(ch) < 0x20;
}
inline void skipBlanks(ScriptCursor& c) {
  while (c.peek() == ' ' || c.peek() == '\t') ++c.pos;
}
// End of the statement text: end of line, a control character, ";" or "//".
inline bool atLineEnd(const ScriptCursor& c) {
  const char ch = c.peek();
  return c.atEnd() || isControl(ch) || ch == ';' || (ch == '/' && c.peek(1) == '/');
}
inline bool consume(ScriptCursor& c, std::string_view token) {
  if (c.rest().substr(0, token.size()) != token) return false;
  c.pos += token.size();
  return true;
}
// A word that stands on its own (not the start of a longer identifier).
inline bool consumeWord(ScriptCursor& c, std::string_view word) {
  if (c.rest().substr(0, word.size()) != word || isIdentChar(c.peek(word.size()))) return false;
  c.pos += word.size();
  return true;
}
// The run of letters and "_" at the cursor (at most maxLength), not consumed.
inline std::string_view peekWord(const ScriptCursor& c, std::size_t maxLength) {
  std::size_t n = 0;
  while (n < maxLength && (isLetter(c.peek(n)) || c.peek(n) == '_')) ++n;
  return c.text.substr(c.pos, n);
}

}  // namespace busprobe::lex
