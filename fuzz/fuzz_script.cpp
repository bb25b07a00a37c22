// Scripts are text users write, paste and edit: any text run as a program, from a fresh program
// state, must end in a stop, an error text or the step limit, without crashing, hanging a step or
// writing outside its buffers. The input is the whole script; received frames are fed in while it
// waits so that wcan and canrx find something.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/clock.h"
#include "interp/script_program.h"
#include "interp/text_script_host.h"

using namespace busprobe;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualClock clock(1000.0);
  auto state = std::make_unique<InterpState>();
  TextScriptHost host(clock);
  host.keepLimit = 256;
  auto program = std::make_unique<ScriptProgram>(*state, host);
  program->setConfiguredTxDelayMs(size > 0 ? data[0] % 20 : 0);
  host.setText(std::string_view(reinterpret_cast<const char*>(data), size));

  program->run();
  for (int step = 0; step < 3000 && program->running(); ++step) {
    const double wait = program->step();
    if (!(wait >= 0)) {
      clock.advance(1.0);
    } else {
      // A delay can ask for days; time jumps instead of passing.
      clock.advance(wait > 10.0 ? 10000.0 : wait * 1000.0 + 0.01);
    }
    if (program->waitingForFrame() && (step & 7) == 0) {
      CanFrame f;
      f.id = static_cast<uint32_t>(step < static_cast<int>(size) ? data[step] : step) * 0x11u;
      f.length = static_cast<uint8_t>(step % 9);
      for (int k = 0; k < f.length; ++k) f.data[k] = static_cast<uint8_t>(step + k);
      f.timestamp = static_cast<uint32_t>(clock.nowMs());
      host.receive(f);
      program->offerFrame(f);
    }
    if ((step & 63) == 0) program->handleEvents();
  }
  for (const auto& s : host.sent) {
    if (s.frame.length > 64) __builtin_trap();
  }
  for (const auto& line : host.output) {
    if (line.size() > 255) __builtin_trap();
  }
  // The first line once more, as the editor's "this Line again" runs it.
  std::string_view first;
  if (host.readLine(0, first)) program->executeTextOnce(first);
  return 0;
}
