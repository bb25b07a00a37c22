#include "app/script_extensions.h"

#include <mutex>

#include "app/application.h"
#include "interp/script_lex.h"

namespace busprobe {

namespace {

void addBusComponents(Application& app, ScriptExtensions& table) {
  table.addBusComponent("baudrate", [&app](int bus, ScriptCursor& c) {
    int kbits = 0;
    std::lock_guard<UcanLock> lock(app.ucan().lock());
    if (!app.ucan().UCAN_GetBaudrate(bus, &kbits)) c.fail(kErrFunctionFailed);
    return ScriptValue::integer(kbits);
  });
  table.addBusComponent("nErrorFrames", [&app](int bus, ScriptCursor&) {
    return ScriptValue::integer(app.traffic().statistics().errorFrames(bus));
  });
  table.addBusComponent("nRxFrames", [&app](int bus, ScriptCursor&) {
    return ScriptValue::integer(app.traffic().statistics().received(bus));
  });
  table.addBusComponent("nTxFrames", [&app](int bus, ScriptCursor&) {
    return ScriptValue::integer(app.traffic().statistics().sent(bus));
  });
  table.addBusComponent("reset", [&app](int, ScriptCursor&) {
    ScriptHost& host = app.program().host();
    const bool ok = host.resetController();
    if (!ok) host.message("Error: Could not reset CAN controller !");
    return ScriptValue::integer(ok ? 1 : 0);
  });
  table.addBusComponent("testDuration_sec", [&app](int, ScriptCursor&) {
    return ScriptValue::floating(app.ucan().clockSeconds() - app.traffic().statistics().startTime());
  });
}

}  // namespace

void RegisterTrafficScriptWords(Application& app, ScriptExtensions& table) {
  addBusComponents(app, table);

  // The previous state of the received-frames display; reading it freezes the display.
  table.addFactor("freeze", [&app](ExpressionEvaluator&, ScriptCursor&) {
    const ScriptValue was = ScriptValue::integer(app.traffic().display().rxDisplayStopped ? 1 : 0);
    app.program().host().setReceiveDisplayFrozen(true);
    return was;
  });
  // No user screen yet: its text cursor stands at the origin.
  table.addFactor("cursor", [](ExpressionEvaluator&, ScriptCursor& c) {
    if (lex::consumeWord(c, ".x") || lex::consumeWord(c, ".y")) return ScriptValue::integer(0);
    return ScriptValue::integer(-1);
  });

  // Modes 1..3 clear the traffic panes and the messages window; 0 is the user screen, which this
  // version does not have, so there is nothing to clear.
  table.addCommand("ClearScreen", [&app](ScriptProgram& program, ScriptCursor& c) {
    int32_t mode = 0;
    lex::skipBlanks(c);
    if (lex::consume(c, "(")) {
      lex::skipBlanks(c);
      if (c.peek() != ')' && program.evaluator().evaluateInt(c, mode) != 0) return;
      lex::skipBlanks(c);
      lex::consume(c, ")");
    }
    if (mode == 1) app.trafficDisplay().EraseList(TrafficPaths::kRxList);
    if (mode == 2) app.trafficDisplay().EraseList(TrafficPaths::kTxList);
    if (mode == 3) app.messages().clear();
  });
}

}  // namespace busprobe
