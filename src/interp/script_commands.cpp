#include "interp/script_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "interp/frame_text.h"
#include "interp/print_format.h"
#include "interp/script_lex.h"
#include "interp/script_program.h"

namespace busprobe {

using namespace lex;

namespace {

// Optional "()" after commands without arguments.
void skipEmptyParentheses(ScriptCursor& c) {
  skipBlanks(c);
  if (c.peek() == '(') {
    std::size_t p = 1;
    while (c.peek(p) == ' ') ++p;
    if (c.peek(p) == ')') c.pos += p + 1;
  }
}

// Text up to the ")" that closes the parenthesis the cursor stands behind, outside quotes and
// nested parentheses. Returns false when there is none.
bool takeParenthesised(ScriptCursor& c, std::string_view& inner) {
  int depth = 0;
  bool quoted = false;
  for (std::size_t p = c.pos; p < c.text.size(); ++p) {
    const char ch = c.text[p];
    if (ch == '"') quoted = !quoted;
    if (quoted) continue;
    if (ch == '(') ++depth;
    if (ch == ')') {
      if (depth == 0) {
        inner = c.text.substr(c.pos, p - c.pos);
        c.pos = p + 1;
        return true;
      }
      --depth;
    }
  }
  return false;
}

// An integer argument; floats truncate. Returns false with the cursor's error set.
bool readInt(ScriptProgram& p, ScriptCursor& c, int32_t& out) {
  return p.evaluator().evaluateInt(c, out) == 0;
}

// "=" or ":=" before a value (optional).
void skipAssign(ScriptCursor& c) {
  skipBlanks(c);
  if (!consume(c, ":=")) consume(c, "=");
  skipBlanks(c);
}

// A factor in radix 16 as an integer; the DONT_CARE marker ("x", "xx") gives -1 when allowed.
bool readHexFactor(ScriptProgram& p, ScriptCursor& c, int64_t& out, bool dontCareAllowed) {
  const ScriptValue v = p.evaluator().evaluateFactor(c, 16);
  if (c.error != 0) return false;
  if (dontCareAllowed && v.type == kTypeSpecial && v.i == kDontCare) {
    out = -1;
    return true;
  }
  int32_t i = 0;
  if (const int rc = valueToInt(v, i); rc != 0) {
    c.fail(rc);
    return false;
  }
  out = i;
  return true;
}

// --- control statements (the program owns their stacks)
template <void (ScriptProgram::*Statement)(ScriptCursor&)>
void control(ScriptProgram& p, ScriptCursor& c) {
  (p.*Statement)(c);
}
void cmdStop(ScriptProgram& p, ScriptCursor&) {
  p.stopWithMessage(0, "(stop)");
}

// --- error handling
void cmdOnError(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  const bool parenthesised = consume(c, "(");
  skipBlanks(c);
  const std::size_t start = c.pos;
  int depth = 0;
  bool quoted = false;
  while (!c.atEnd()) {
    const char ch = c.peek();
    if (ch == '"') quoted = !quoted;
    if (!quoted) {
      if (ch == '/' && c.peek(1) == '/') break;
      if (depth == 0 && (ch == ',' || ch == ')')) break;
      if (ch == '(') ++depth;
      if (ch == ')') --depth;
    }
    ++c.pos;
  }
  std::string_view text = c.text.substr(start, c.pos - start);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  p.setErrorHandler(text);
  if (parenthesised) consume(c, ")");
}
void cmdResumeError(ScriptProgram& p, ScriptCursor& c) {
  skipEmptyParentheses(c);
  p.resumeError();
}
void cmdClearError(ScriptProgram& p, ScriptCursor& c) {
  skipEmptyParentheses(c);
  p.clearError();
}

// --- output and timing
void cmdPrint(ScriptProgram& p, ScriptCursor& c) {
  PrintOutput out;
  const int rc = FormatPrintArguments(p.evaluator(), c, out);
  if (rc != 0) {
    char buffer[48];
    const std::string_view error = p.errorText(rc, buffer);
    char message[160];
    std::snprintf(message, sizeof message, p.translateFormat("%s in print-cmd"), std::string(error).c_str());
    p.fail(c, rc, message);
    return;
  }
  p.host().printOutput(std::string_view(out.text, out.length));
}
void cmdDelay(ScriptProgram& p, ScriptCursor& c) {
  double seconds = 0;
  if (p.evaluator().evaluateFloat(c, seconds) != 0) return;
  p.setDelay(seconds);
}
void cmdTxInterval(ScriptProgram& p, ScriptCursor& c) {
  skipAssign(c);
  double seconds = 0;
  if (p.evaluator().evaluateFloat(c, seconds) != 0) return;
  p.setLineInterval(seconds > 0 ? seconds : 0);
}
void cmdSound(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  if (!consume(c, "(")) {
    p.fail(c, kErrMissingArgument, "\"sound\"-params missing (freq,duration,modulation)");
    return;
  }
  double freq = 0;
  int32_t duration = 500;
  int32_t modulation = 0;
  if (p.evaluator().evaluateFloat(c, freq) != 0) return;
  skipBlanks(c);
  if (consume(c, ",") && !readInt(p, c, duration)) return;
  skipBlanks(c);
  if (consume(c, ",") && !readInt(p, c, modulation)) return;
  skipBlanks(c);
  consume(c, ")");
  p.host().playSound(freq, duration, modulation);
}
void cmdFreeze(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  int32_t on = 1;
  if (c.peek() == '=' || (c.peek() == ':' && c.peek(1) == '=')) {
    skipAssign(c);
    if (!readInt(p, c, on)) return;
  }
  p.host().setReceiveDisplayFrozen(on != 0);
}
void cmdReset(ScriptProgram& p, ScriptCursor&) {
  p.host().resetStatistics();
  p.resetTransmitSchedule();
}

// --- CAN
void cmdCtx(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  CanFrame frame;
  if (consume(c, "(")) {
    std::string_view inner;
    if (!takeParenthesised(c, inner)) {
      p.fail(c, kErrSyntax, "missing closing parenthesis in \"ctx\"-command");
      return;
    }
    ScriptCursor sub(inner);
    if (const int rc = ParseFrameText(p.evaluator(), sub, frame); rc != 0) {
      c.fail(rc);
      return;
    }
  } else if (ParseFrameText(p.evaluator(), c, frame) != 0) {
    return;
  }
  p.transmitPaced(frame);
}

// can.send(id [, g=int], args): the formatted text cut into frames of 8 bytes.
void canSend(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  if (!consume(c, "(")) {
    c.fail(kErrMissingArgument);
    return;
  }
  int64_t id = 0;
  if (!readHexFactor(p, c, id, false)) return;
  uint32_t word = static_cast<uint32_t>(id) & CanFrame::kIdMask;
  bool extended = word > 0x7FF;
  uint8_t fdFlags = 0;
  if (c.peek() == '.') ++c.pos;
  switch (c.peek()) {
    case 'X':
      fdFlags = CanFrame::kFdf;
      [[fallthrough]];
    case 'x':
      extended = true;
      ++c.pos;
      break;
    case 'S':
      fdFlags = CanFrame::kFdf;
      [[fallthrough]];
    case 's':
      extended = false;
      ++c.pos;
      break;
    default:
      break;
  }
  if (extended) word |= CanFrame::kExtended;
  int32_t gapMs = 20;
  skipBlanks(c);
  if (consume(c, ",")) {
    skipBlanks(c);
    if (consume(c, "g=")) {
      if (!readInt(p, c, gapMs)) return;
      skipBlanks(c);
      consume(c, ",");
    }
  } else if (c.peek() != ')') {
    c.fail(kErrSyntax);
    return;
  }
  // The arguments are formatted as in the parenthesised print form, which ends at ")".
  char buffer[kMaxScriptLineChars + 2];
  const std::string_view rest = c.rest();
  const std::size_t n = std::min(rest.size(), kMaxScriptLineChars);
  buffer[0] = '(';
  std::memcpy(buffer + 1, rest.data(), n);
  ScriptCursor args(std::string_view(buffer, n + 1));
  PrintOutput text;
  if (const int rc = FormatPrintArguments(p.evaluator(), args, text); rc != 0) {
    PrintErrorMessage(rc, " in 'send' arguments", text);
  }
  c.pos += args.pos > 0 ? args.pos - 1 : 0;
  for (std::size_t off = 0; off < text.length; off += 8) {
    CanFrame frame;
    frame.id = word;
    frame.fdFlags = fdFlags;
    frame.length = static_cast<uint8_t>(std::min<std::size_t>(8, text.length - off));
    std::memcpy(frame.data, text.text + off, frame.length);
    p.host().transmit(frame);
    if (gapMs > 0) p.host().sleepMs(gapMs);
  }
}

void canShowAsText(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  if (!consume(c, "(")) {
    c.fail(kErrMissingArgument);
    return;
  }
  int32_t ids[4] = {-1, -1, -1, -1};
  for (int k = 0; k < 4; ++k) {
    skipBlanks(c);
    if (c.peek() == ')') break;
    int64_t id = 0;
    if (!readHexFactor(p, c, id, false)) return;
    // The display compares whole id words: an extended identifier needs its flag to ever match.
    ids[k] = static_cast<int32_t>(id > 0x7FF ? (static_cast<uint32_t>(id) | CanFrame::kExtended) : id);
    skipBlanks(c);
    if (!consume(c, ",")) break;
  }
  skipBlanks(c);
  if (!consume(c, ")")) {
    c.fail(kErrSyntax);
    return;
  }
  p.host().setIdsShownAsText(ids);
}

void cmdCan(ScriptProgram& p, ScriptCursor& c) {
  if (consumeWord(c, ".reset")) {
    if (!p.host().resetController()) p.host().message("Error: Could not reset CAN controller !");
    return;
  }
  if (consumeWord(c, ".send")) {
    canSend(p, c);
    return;
  }
  if (consumeWord(c, ".show_msgs_as_strings")) {
    canShowAsText(p, c);
    return;
  }
  p.fail(c, kErrSyntax, "Syntax error in 'can'-command");
}

void cmdCanrx(ScriptProgram& p, ScriptCursor& c) {
  c.pos -= 5;  // the evaluator reads the whole access, its name included
  p.evaluator().evaluateFactor(c, 10);
}

void cmdWcan(ScriptProgram& p, ScriptCursor& c) {
  skipBlanks(c);
  if (!consume(c, "(")) {
    c.fail(kErrMissingArgument);
    return;
  }
  // Identifier, length and bytes are hexadecimal like the bytes of a frame line, and "x" must mean
  // "any" even where a variable of that name exists.
  const bool lookup = c.noVariableLookup;
  c.noVariableLookup = true;
  FrameWaitPattern pattern;
  int64_t value = 0;
  int given = 0;
  bool ok = readHexFactor(p, c, pattern.id, true);
  if (ok) {
    skipBlanks(c);
    if (!consume(c, ",")) {
      c.fail(kErrValueExpected);
      ok = false;
    }
  }
  if (ok && (ok = readHexFactor(p, c, value, true))) pattern.length = static_cast<int>(value);
  while (ok) {
    skipBlanks(c);
    if (!consume(c, ",")) break;
    if (given == 8) {
      c.fail(kErrIllegalArgument);
      ok = false;
      break;
    }
    if ((ok = readHexFactor(p, c, value, true)))
      pattern.data[given++] = value < 0 ? -1 : static_cast<int>(value & 0xFF);
  }
  c.noVariableLookup = lookup;
  if (!ok) return;
  skipBlanks(c);
  if (!consume(c, ")")) {
    c.fail(kErrSyntax);
    return;
  }
  if (pattern.length > 64) {
    c.fail(kErrIllegalArgument);
    return;
  }
  if (pattern.length >= 0 && given < std::min(pattern.length, 8)) {
    c.fail(kErrValueExpected);
    return;
  }
  if (pattern.id > 0x7FF) pattern.id |= CanFrame::kExtended;
  p.startWait(pattern);
  p.endLine();
}

// --- commands of other subsystems
// Run by the handler the subsystem registered; without one the word is known but this build
// lacks what it stands for.
template <const std::string_view& Word>
void extension(ScriptProgram& p, ScriptCursor& c) {
  const ScriptExtensions* table = p.host().extensions();
  if (const ScriptExtensions::Command* run = table != nullptr ? table->command(Word) : nullptr) {
    (*run)(p, c);
    return;
  }
  char text[128];
  std::snprintf(text, sizeof text, p.translateFormat("\"%s\" is not available in this version of busprobe"),
                std::string(Word).c_str());
  p.fail(c, kErrNotImplemented, text);
}
// sdo, obj and obd need their "." before the host sees them.
template <const std::string_view& Word, const std::string_view& Kind>
void canopen(ScriptProgram& p, ScriptCursor& c) {
  if (c.peek() != '.') {
    char text[128];
    const std::string_view next = c.rest().substr(0, 5);
    std::snprintf(text, sizeof text, p.translateFormat("expect %.*s-component, not :%.*s"),
                  static_cast<int>(Kind.size()), Kind.data(), static_cast<int>(next.size()), next.data());
    p.fail(c, kErrUnknownComponent, text);
    return;
  }
  extension<Word>(p, c);
}
constexpr std::string_view kSdo = "sdo", kObj = "obj", kObd = "obd", kDefWatch = "def_watch",
                           kScope = "scope", kOpenWindow = "OpenWindow", kModalWindow = "ModalWindow",
                           kCloseWindow = "CloseWindow", kMoveTo = "MoveTo", kSetFont = "SetFont",
                           kSetButton = "SetButton", kSetValueScroller = "SetValueScroller",
                           kClearScreen = "ClearScreen", kClearEOL = "ClearEOL";

void cmdClearVars(ScriptProgram& p, ScriptCursor& c) {
  skipEmptyParentheses(c);
  p.interpState().clearAll();
}

void cmdUnknown(ScriptProgram& p, ScriptCursor& c) {
  p.fail(c, kErrSyntax, "unknown command");
}

constexpr ScriptCommand kCommands[] = {
    {"??", cmdUnknown},
    {"repeat", control<&ScriptProgram::cmdRepeat>},
    {"until", control<&ScriptProgram::cmdUntil>},
    {"while", control<&ScriptProgram::cmdWhile>},
    {"endwhile", control<&ScriptProgram::cmdEndwhile>},
    {"goto", control<&ScriptProgram::cmdGoto>},
    {"gosub", control<&ScriptProgram::cmdGosub>},
    {"return", control<&ScriptProgram::cmdReturn>},
    {"if", control<&ScriptProgram::cmdIf>},
    {"else", control<&ScriptProgram::cmdElse>},
    {"endif", control<&ScriptProgram::cmdEndif>},
    {"stop", cmdStop},
    {"OnError", cmdOnError},
    {"ResumeError", cmdResumeError},
    {"ClearError", cmdClearError},
    {"print", cmdPrint},
    {"delay", cmdDelay},
    {"tx_interval", cmdTxInterval},
    {"sound", cmdSound},
    {"freeze", cmdFreeze},
    {"reset", cmdReset},
    {"ctx", cmdCtx},
    {"can", cmdCan},
    {"canrx", cmdCanrx},
    {"wcan", cmdWcan},
    {kSdo, canopen<kSdo, kSdo>, true},
    {kObj, canopen<kObj, kObj>, true},
    {kObd, canopen<kObd, kObj>, true},
    {kDefWatch, extension<kDefWatch>, true},
    {kScope, extension<kScope>, true},
    {kOpenWindow, extension<kOpenWindow>, true},
    {kModalWindow, extension<kModalWindow>, true},
    {kCloseWindow, extension<kCloseWindow>, true},
    {kMoveTo, extension<kMoveTo>, true},
    {kSetFont, extension<kSetFont>, true},
    {kSetButton, extension<kSetButton>, true},
    {kSetValueScroller, extension<kSetValueScroller>, true},
    {kClearScreen, extension<kClearScreen>, true},
    {kClearEOL, extension<kClearEOL>, true},
    {"ClearVars", cmdClearVars},
};
static_assert(std::size(kCommands) == 40);

}  // namespace

const ScriptCommand* FindScriptCommand(std::string_view word) {
  if (word.empty()) return nullptr;
  for (std::size_t i = 1; i < std::size(kCommands); ++i) {
    if (kCommands[i].name == word) return &kCommands[i];
  }
  return nullptr;
}

std::string_view ExtensionCommandWord(std::string_view word) {
  const ScriptCommand* command = FindScriptCommand(word);
  return command != nullptr && command->otherSubsystem ? command->name : std::string_view();
}

AssignmentResult RunAssignment(ScriptProgram& p, ScriptCursor& c) {
  const std::size_t start = c.pos;
  std::size_t n = 0;
  while (n < kMaxLabelLength && isIdentChar(c.peek(n))) ++n;
  const std::string_view name = c.text.substr(start, n);
  c.pos += n;
  if (c.peek() == ':' && c.peek(1) != '=') {
    p.endLine();
    return AssignmentResult::Label;
  }
  skipBlanks(c);
  bool indexed = false;
  int32_t index = 0;
  if (consume(c, "[")) {
    indexed = true;
    if (!readInt(p, c, index)) return AssignmentResult::Failed;
    skipBlanks(c);
    if (!consume(c, "]")) {
      c.fail(kErrSyntax);
      return AssignmentResult::Failed;
    }
    skipBlanks(c);
  }
  if (!consume(c, ":=")) {
    if (c.peek() != '=' || c.peek(1) == '=') {
      p.fail(c, kErrSyntax, "Missing assignment-operator (\":=\")");
      return AssignmentResult::Failed;
    }
    ++c.pos;
  }
  const ScriptValue value = p.evaluator().evaluate(c);
  char text[128];
  if (c.error != 0) {
    char buffer[48];
    std::snprintf(text, sizeof text, p.translateFormat("Error in assigned value: %s."),
                  std::string(p.errorText(c.error, buffer)).c_str());
    p.fail(c, c.error, text);
    return AssignmentResult::Failed;
  }
  InterpState& state = p.interpState();
  const int entry = state.findOrCreateVariable(name);
  if (entry < 0) {
    const std::string shown(name.substr(0, kVariableNameLength));
    std::snprintf(text, sizeof text, p.translateFormat("Couldn't create var \"%s\"."), shown.c_str());
    p.fail(c, kErrOutOfMemory, text);
    return AssignmentResult::Failed;
  }
  if (!indexed) {
    state.variable(entry).value = value;
    return AssignmentResult::Assigned;
  }
  ScriptValue* element = state.elementForWrite(entry, index);
  if (element == nullptr) {
    const std::string shown(name.substr(0, kVariableNameLength));
    std::snprintf(text, sizeof text, p.translateFormat("Out of memory for array/list \"%s\"."),
                  shown.c_str());
    p.fail(c, kErrOutOfMemory, text);
    return AssignmentResult::Failed;
  }
  *element = value;
  return AssignmentResult::Assigned;
}

void RunFrameLine(ScriptProgram& p, ScriptCursor& c) {
  CanFrame frame;
  if (ParseFrameText(p.evaluator(), c, frame) == 0) p.transmitPaced(frame);
}

std::vector<std::string> ListVariablesByName(const InterpState& state) {
  std::vector<int> entries;
  for (int i = 0; i < kVariableCount; ++i) {
    if (state.variable(i).name[0] != '\0') entries.push_back(i);
  }
  std::sort(entries.begin(), entries.end(),
            [&](int a, int b) { return std::strcmp(state.variable(a).name, state.variable(b).name) < 0; });
  std::vector<std::string> lines{"; List of INTERPRETER VARIABLES by alphabet:"};
  for (int i : entries) {
    char line[256];
    const std::size_t len = formatVariableListingLine(state.variable(i), line, sizeof line);
    if (len > 0) lines.emplace_back(line, len);
  }
  return lines;
}

}  // namespace busprobe
