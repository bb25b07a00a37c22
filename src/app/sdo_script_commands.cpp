#include "app/sdo_script_commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/application.h"
#include "base/canopen_types.h"
#include "canopen/sdo_abort_text.h"
#include "interp/script_lex.h"

namespace busprobe {

namespace {

using lex::consume;
using lex::consumeWord;
using lex::skipBlanks;

// The value of a write: four bytes (expedited, `size` significant) or a block (segmented).
struct WriteValue {
  uint8_t bytes[4] = {};
  uint8_t size = 4;
  std::string block;
};

class CanopenScriptWords {
 public:
  explicit CanopenScriptWords(Application& app) : app_(app) {}

  ScriptValue sdo(ExpressionEvaluator& ev, ScriptCursor& c);
  ScriptValue obj(ExpressionEvaluator& ev, ScriptCursor& c);

 private:
  ScriptValue sdoNode(ScriptCursor& c);
  ScriptValue sdoRead(ExpressionEvaluator& ev, ScriptCursor& c);
  ScriptValue sdoWrite(ExpressionEvaluator& ev, ScriptCursor& c);
  ScriptValue objLoad(ScriptCursor& c);
  ScriptValue objRead(ExpressionEvaluator& ev, ScriptCursor& c);
  ScriptValue objWrite(ExpressionEvaluator& ev, ScriptCursor& c);

  // "index[.subindex]"; false (cursor failed) when either is no integer.
  bool readObject(ExpressionEvaluator& ev, ScriptCursor& c, uint16_t& index, uint8_t& subIndex);
  // "(" and the object, as every read and write begins; a missing "(" fails with -8.
  bool readObjectArgument(ExpressionEvaluator& ev, ScriptCursor& c, uint16_t& index, uint8_t& subIndex);
  // A type name or code; false (cursor failed with -13 for a code outside 0..255) otherwise.
  bool readType(ExpressionEvaluator& ev, ScriptCursor& c, int& type);
  // The value to write as `type` wants it; false when it cannot be read (nothing failed yet).
  bool readValue(ExpressionEvaluator& ev, ScriptCursor& c, int type, WriteValue& out);
  // readValue, failing the cursor with -9 and `dataFieldError` when the value cannot be read.
  bool readWriteValue(ExpressionEvaluator& ev, ScriptCursor& c, int type, WriteValue& out,
                      const char* dataFieldError);
  // A quoted text of up to 2048 bytes (script strings hold only 79), or a string expression.
  bool readText(ExpressionEvaluator& ev, ScriptCursor& c, std::string& out);
  // The client transfer as set up, until it ends; false (with the timeout message) when it did
  // not end within the client's timeout.
  bool runClientTransfer(SdoChannel& ch);
  ScriptValue lastReadValue() const;

  void fail(ScriptCursor& c, int code, const char* text);
  void failFormatted(ScriptCursor& c, int code, const char* format, ...) __attribute__((format(printf, 4, 5)));
  const char* tr(const char* english) const { return app_.program().translateFormat(english); }

  Application& app_;
  bool lastReadWasFile_ = false;
  // The channel obj works through: the access function reads and fills it like a server's.
  std::unique_ptr<SdoChannel> local_ = std::make_unique<SdoChannel>();
};

void CanopenScriptWords::fail(ScriptCursor& c, int code, const char* text) {
  app_.program().fail(c, code, tr(text));
}

void CanopenScriptWords::failFormatted(ScriptCursor& c, int code, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, tr(format), args);
  va_end(args);
  app_.program().fail(c, code, text);
}

bool CanopenScriptWords::readObject(ExpressionEvaluator& ev, ScriptCursor& c, uint16_t& index, uint8_t& subIndex) {
  int32_t i = 0, s = 0;
  if (ev.evaluateInt(c, i) != 0 || c.error != 0) return false;
  skipBlanks(c);
  if (consume(c, ".")) {
    if (const int rc = valueToInt(ev.evaluateFactor(c, 10), s); rc != 0 || c.error != 0) {
      c.fail(rc);
      return false;
    }
  }
  index = static_cast<uint16_t>(i);
  subIndex = static_cast<uint8_t>(s);
  return true;
}

bool CanopenScriptWords::readObjectArgument(ExpressionEvaluator& ev, ScriptCursor& c, uint16_t& index,
                                            uint8_t& subIndex) {
  skipBlanks(c);
  if (!consume(c, "(")) {
    c.fail(kErrMissingArgument);
    return false;
  }
  return readObject(ev, c, index, subIndex);
}

bool CanopenScriptWords::readWriteValue(ExpressionEvaluator& ev, ScriptCursor& c, int type, WriteValue& out,
                                        const char* dataFieldError) {
  if (readValue(ev, c, type, out)) return true;
  c.error = 0;
  fail(c, kErrIllegalArgument, dataFieldError);
  return false;
}

bool CanopenScriptWords::readType(ExpressionEvaluator& ev, ScriptCursor& c, int& type) {
  skipBlanks(c);
  type = readDataTypeName(c);
  if (type >= 0) return true;
  int32_t code = 0;
  if (ev.evaluateInt(c, code) != 0 || c.error != 0) return false;
  if (code < 0 || code > 255) {
    c.fail(kErrTypeNotSupported);
    return false;
  }
  type = code;
  return true;
}

bool CanopenScriptWords::readText(ExpressionEvaluator& ev, ScriptCursor& c, std::string& out) {
  skipBlanks(c);
  if (c.peek() == '"') {
    ++c.pos;
    while (!c.atEnd() && !lex::isControl(c.peek()) && c.peek() != '"') {
      char ch = c.peek();
      if (ch == '\\' && c.peek(1) == '"') {
        ch = '"';
        ++c.pos;
      }
      ++c.pos;
      if (out.size() < kSdoBufferSize) out.push_back(ch);
    }
    return consume(c, "\"");
  }
  const ScriptValue v = ev.evaluate(c);
  if (c.error != 0 || v.type != kTypeString) return false;
  out.assign(v.text());
  return true;
}

bool CanopenScriptWords::readValue(ExpressionEvaluator& ev, ScriptCursor& c, int type, WriteValue& out) {
  skipBlanks(c);
  ScriptCursor probe = c;
  bool ok = false;
  if (type == kCoTypeReal32) {
    double d = 0;
    ok = ev.evaluateFloat(probe, d) == 0 && probe.error == 0;
    const float f = static_cast<float>(d);
    std::memcpy(out.bytes, &f, sizeof f);
    out.size = 4;
  } else if (type == kCoTypeVisibleString || type == kCoTypeOctetString) {
    std::string text;
    ok = readText(ev, probe, text) && probe.error == 0;
    if (text.size() > 4) {
      out.block = std::move(text);
    } else {
      std::memcpy(out.bytes, text.data(), text.size());
      out.size = static_cast<uint8_t>(text.size());
    }
  } else {
    int32_t v = 0;
    ok = ev.evaluateInt(probe, v) == 0 && probe.error == 0;
    for (int k = 0; k < 4; ++k) out.bytes[k] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * k));
    const CanopenDataType* row = FindCanopenDataType(type);
    out.size = row != nullptr && row->size >= 1 && row->size <= 4 ? row->size : 4;
  }
  // The language reads nothing at all as 0; a value left out is no value to write.
  ok = ok && probe.pos != c.pos;
  if (ok) c.pos = probe.pos;
  return ok;
}

// ---------------------------------------------------------------------------------------------
// sdo.

ScriptValue CanopenScriptWords::sdo(ExpressionEvaluator& ev, ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  consume(c, ".");
  if (app_.sdoPort().sdoAccessBusy()) {
    c.fail(kErrApplication);
    return zero;
  }
  if (consumeWord(c, "enable") || consumeWord(c, "e")) {
    int32_t on = 0;
    if (ev.evaluateInt(c, on) != 0 || c.error != 0) return zero;
    app_.sdoPort().client().enabled = static_cast<uint32_t>(on);
    return ScriptValue::integer(on);
  }
  if (consumeWord(c, "node") || consumeWord(c, "n")) return sdoNode(c);
  if (consumeWord(c, "read") || consumeWord(c, "r")) return sdoRead(ev, c);
  if (consumeWord(c, "val") || consumeWord(c, "v")) return lastReadValue();
  if (consumeWord(c, "write") || consumeWord(c, "w")) return sdoWrite(ev, c);
  fail(c, kErrUnknownComponent, "Rechenfehler: Unbekannte SDO-Komponente.");
  return zero;
}

ScriptValue CanopenScriptWords::sdoNode(ScriptCursor& c) {
  SdoChannel& ch = app_.sdoPort().client();
  skipBlanks(c);
  if (consume(c, "(")) {
    int32_t id = 0;
    if (app_.program().evaluator().evaluateInt(c, id) != 0 || c.error != 0) return ScriptValue::integer(0);
    skipBlanks(c);
    if (!consume(c, ")")) {
      c.fail(kErrSyntax);
      return ScriptValue::integer(0);
    }
    if (id <= 0) id = 1;
    // The node goes into the settings record, so that it is saved; the channel takes it at once
    // without the reset a settings change would give every channel.
    app_.settings().sdo.clientNodeId = id;
    ch.txCobId = static_cast<uint16_t>(0x600 + id);
    ch.rxCobId = static_cast<uint16_t>(0x580 + id);
  }
  return ScriptValue::integer(static_cast<int32_t>(ch.txCobId) - 0x600);
}

bool CanopenScriptWords::runClientTransfer(SdoChannel& ch) {
  SdoClientPort& port = app_.sdoPort();
  if (!port.InitTransfer()) return true;  // failed at once; the caller reads the state
  port.SdoWaitForCompletion(app_.settings().sdo.clientTimeoutMs);
  app_.canopen().readoutFile().abandon();
  if (!ch.busy()) return true;
  // Given up, whether the client's own timer ran out or the wait's window did first: an answer
  // that comes later must not count for this transfer.
  ch.state = kSdoFailed;
  return false;
}

ScriptValue CanopenScriptWords::lastReadValue() const {
  if (lastReadWasFile_) return ScriptValue::string(app_.canopen().readoutFile().lastPath());
  return SdoTransferValue(app_.canopen().sdo().client());
}

ScriptValue CanopenScriptWords::sdoRead(ExpressionEvaluator& ev, ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  uint16_t index = 0;
  uint8_t subIndex = 0;
  int type = kCoTypeUnsigned32;
  std::string_view variable;
  if (!readObjectArgument(ev, c, index, subIndex)) return zero;
  skipBlanks(c);
  if (consume(c, ",")) {
    if (!readType(ev, c, type)) return zero;
    skipBlanks(c);
    if (consume(c, ",")) {
      skipBlanks(c);
      std::size_t n = 0;
      while (n < 20 && lex::isIdentChar(c.peek(n))) ++n;
      if (n == 0 || !lex::isLetter(c.peek())) {
        c.fail(kErrSyntax);
        return zero;
      }
      variable = c.text.substr(c.pos, n);
      c.pos += n;
      skipBlanks(c);
    }
  }
  if (!consume(c, ")")) {
    fail(c, kErrSyntax, "Missing right parenthesis after 'sdo'-cmd");
    return zero;
  }
  if (app_.settings().sdo.clientEnable == 0) {
    fail(c, kErrFunctionFailed, "Client not enabled. Cannot read via SDO.");
    return zero;
  }

  SdoChannel& ch = app_.sdoPort().client();
  SdoReadoutFile& readout = app_.canopen().readoutFile();
  const uint64_t filesBefore = readout.filesCreated();
  ch.dataCallback = readout.callback();
  ch.limitLargeUploads = 0;
  ch.index = index;
  ch.subIndex = subIndex;
  ch.dataType = static_cast<uint8_t>(type);
  ch.isDownload = 0;
  ch.rawValue = 0;
  ch.blockLength = 0;
  ch.timeoutTicks = SdoTimeoutTicks(app_.settings().sdo.clientTimeoutMs);
  ch.abortCode = 0;
  const bool ended = runClientTransfer(ch);
  const bool ok = ended && ch.state == kSdoFinished && ch.abortCode == 0;
  lastReadWasFile_ = ok && readout.filesCreated() != filesBefore;

  InterpState& state = ev.state();
  if (ok) {
    const ScriptValue value = lastReadValue();
    if (!variable.empty()) {
      const int entry = state.findOrCreateVariable(variable);
      if (entry >= 0) state.variable(entry).value = value;
    }
    return value;
  }
  char text[160];
  if (!ended) {
    std::snprintf(text, sizeof text, tr("Timeout while accessing 0x%04X.%02X."), index, subIndex);
  } else {
    std::snprintf(text, sizeof text, tr("read error, abort code = 0x%08lX = \"%s\" ."),
                  static_cast<unsigned long>(ch.abortCode), std::string(SdoAbortText(ch.abortCode)).c_str());
  }
  if (variable.empty()) {
    app_.program().fail(c, kErrSdoFailed, text);
    return zero;
  }
  // With a variable the script goes on: the variable keeps what it had, ErrorInfo tells why.
  app_.messages().printText(text);
  state.lastErrorCode = kErrSdoFailed;
  const int entry = state.findVariable(variable);
  return entry >= 0 ? state.variable(entry).value : zero;
}

ScriptValue CanopenScriptWords::sdoWrite(ExpressionEvaluator& ev, ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  uint16_t index = 0;
  uint8_t subIndex = 0;
  int type = 0;
  if (!readObjectArgument(ev, c, index, subIndex)) return zero;
  skipBlanks(c);
  if (!consume(c, ",")) {
    fail(c, kErrIllegalArgument, "Error in SDO parameter field");
    return zero;
  }
  if (!readType(ev, c, type)) return zero;
  skipBlanks(c);
  if (!consume(c, ",")) {
    fail(c, kErrIllegalArgument, "Error in SDO parameter field");
    return zero;
  }
  WriteValue value;
  if (!readWriteValue(ev, c, type, value, "Error in SDO data field")) return zero;
  skipBlanks(c);
  if (!consume(c, ")")) {
    fail(c, kErrSyntax, "Missing right parenthesis after 'sdo'-cmd");
    return zero;
  }
  if (app_.settings().sdo.clientEnable == 0) {
    fail(c, kErrFunctionFailed, "Client not enabled. Cannot write via SDO.");
    return zero;
  }

  SdoChannel& ch = app_.sdoPort().client();
  ch.index = index;
  ch.subIndex = subIndex;
  ch.dataType = static_cast<uint8_t>(type);
  ch.isDownload = 1;
  ch.rawValue = 0;
  ch.timeoutTicks = SdoTimeoutTicks(app_.settings().sdo.clientTimeoutMs);
  ch.abortCode = 0;
  if (!value.block.empty()) {
    ch.blockLength = static_cast<int32_t>(value.block.size());
    std::memcpy(ch.buffer, value.block.data(), value.block.size());
  } else {
    ch.blockLength = 0;
    std::memcpy(ch.value, value.bytes, sizeof ch.value);
    ch.valueSize = value.size;
  }
  if (!runClientTransfer(ch)) {
    failFormatted(c, kErrSdoFailed, "Timeout while accessing 0x%04X.%02X.", index, subIndex);
    return zero;
  }
  // Only the server's confirmation makes a write: a transfer that ended otherwise without an
  // abort code (an answer that did not fit) is reported with the "unknown" code.
  if (ch.abortCode != 0 || ch.state != kSdoFinished) {
    failFormatted(c, kErrSdoFailed, "write error, abort code = 0x%08lX = \"%s\" .",
                  static_cast<unsigned long>(ch.abortCode), std::string(SdoAbortText(ch.abortCode)).c_str());
    return zero;
  }
  return zero;
}

// ---------------------------------------------------------------------------------------------
// obj.

ScriptValue CanopenScriptWords::obj(ExpressionEvaluator& ev, ScriptCursor& c) {
  consume(c, ".");
  if (consumeWord(c, "load")) return objLoad(c);
  if (consumeWord(c, "read")) return objRead(ev, c);
  if (consumeWord(c, "write")) return objWrite(ev, c);
  fail(c, kErrUnknownComponent, "Rechenfehler: Unbekannte OBJ-Komponente.");
  return ScriptValue::integer(0);
}

ScriptValue CanopenScriptWords::objLoad(ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  skipBlanks(c);
  std::string name;
  if (!consume(c, "(") || !readText(app_.program().evaluator(), c, name) || c.error != 0) {
    c.fail(kErrMissingArgument);
    return zero;
  }
  skipBlanks(c);
  if (!consume(c, ")")) {
    c.fail(kErrSyntax);
    return zero;
  }
  if (!app_.canopen().loadLocalDictionary(name, false)) {
    c.fail(kErrFunctionFailed);
    return zero;
  }
  return ScriptValue::integer(1);
}

ScriptValue CanopenScriptWords::objRead(ExpressionEvaluator& ev, ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  uint16_t index = 0;
  uint8_t subIndex = 0;
  int type = kCoTypeUnsigned32;
  if (!readObjectArgument(ev, c, index, subIndex)) return zero;
  skipBlanks(c);
  if (consume(c, ",") && !readType(ev, c, type)) return zero;
  skipBlanks(c);
  if (!consume(c, ")")) {
    c.fail(kErrSyntax);
    return zero;
  }
  SdoChannel& ch = *local_;
  ch.reset();
  ch.index = index;
  ch.subIndex = subIndex;
  ch.dataType = static_cast<uint8_t>(type);
  ch.isDownload = 0;
  ch.accessSource = kSdoAccessFromScript;
  if (app_.canopen().localAccess().SDO_USER_DictionaryAccess(ch) == 0 || ch.abortCode != 0) {
    c.fail(kErrFunctionFailed);
    return zero;
  }
  return SdoTransferValue(ch);
}

ScriptValue CanopenScriptWords::objWrite(ExpressionEvaluator& ev, ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  uint16_t index = 0;
  uint8_t subIndex = 0;
  if (!readObjectArgument(ev, c, index, subIndex)) return zero;
  skipBlanks(c);
  if (!consume(c, ",")) {
    fail(c, kErrIllegalArgument, "Error in OBJ parameter field");
    return zero;
  }
  // The type may be left out: a first argument not followed by a comma is the value, written as
  // the entry's own type.
  int type = -1;
  {
    ScriptCursor probe = c;
    int t = 0;
    if (readType(ev, probe, t) && probe.error == 0) {
      skipBlanks(probe);
      if (consume(probe, ",")) {
        type = t;
        c.pos = probe.pos;
      }
    }
  }
  if (type < 0) {
    const OdEntry* entry = app_.canopen().local().entries.find(index, subIndex);
    type = entry != nullptr ? entry->defaultValue.dataType : static_cast<int>(kCoTypeUnsigned32);
  }
  WriteValue value;
  if (!readWriteValue(ev, c, type, value, "Error in OBJ data field")) return zero;
  skipBlanks(c);
  if (!consume(c, ")")) {
    c.fail(kErrSyntax);
    return zero;
  }
  SdoChannel& ch = *local_;
  ch.reset();
  ch.index = index;
  ch.subIndex = subIndex;
  ch.dataType = static_cast<uint8_t>(type);
  ch.isDownload = 1;
  ch.accessSource = kSdoAccessFromScript;
  if (!value.block.empty()) {
    ch.blockLength = static_cast<int32_t>(value.block.size());
    ch.segmentMode = kSdoSegmentedDownload;
    std::memcpy(ch.buffer, value.block.data(), value.block.size());
  } else {
    std::memcpy(ch.value, value.bytes, sizeof ch.value);
    ch.valueSize = value.size;
  }
  if (app_.canopen().localAccess().SDO_USER_DictionaryAccess(ch) == 0 || ch.abortCode != 0) {
    c.fail(kErrFunctionFailed);
    return zero;
  }
  return zero;
}

}  // namespace

void RegisterCanopenScriptWords(Application& app, ScriptExtensions& table) {
  auto words = std::make_shared<CanopenScriptWords>(app);
  table.addFactor("sdo", [words](ExpressionEvaluator& ev, ScriptCursor& c) { return words->sdo(ev, c); });
  table.addCommand("sdo", [words](ScriptProgram& p, ScriptCursor& c) { words->sdo(p.evaluator(), c); });
  for (std::string_view word : {"obj", "obd"}) {
    table.addFactor(word, [words](ExpressionEvaluator& ev, ScriptCursor& c) { return words->obj(ev, c); });
    table.addCommand(word, [words](ScriptProgram& p, ScriptCursor& c) { words->obj(p.evaluator(), c); });
  }
}

}  // namespace busprobe
