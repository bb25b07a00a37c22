// Trigger patterns come from the user and the configuration file: any text against any frame
// must parse and match without crashing, and the whole trigger must survive them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "traffic/trigger.h"

using namespace busprobe;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CanFrame frame;
  uint8_t raw[76] = {};
  const size_t frameBytes = size < sizeof raw ? size : sizeof raw;
  for (size_t i = 0; i < frameBytes; ++i) raw[i] = data[i];
  frame = CanFrameFromBytes(raw);
  const std::string text(reinterpret_cast<const char*>(data + frameBytes), size - frameBytes);

  const TriggerEvaluator evaluator = [](std::string_view expression, int64_t& value) {
    value = static_cast<int64_t>(expression.size()) * 0x11;
    return expression.size() % 3 != 0;
  };
  const FramePattern pattern = FramePattern::Parse(text);
  (void)pattern.matches(frame, nullptr);
  (void)pattern.matches(frame, &evaluator);

  // The same text in every pattern slot of an enabled trigger, every event and action selected.
  TriggerSettings settings;
  settings.enableModule = 1;
  settings.startEvents = raw[0] | (raw[1] << 8);
  settings.stopEvents = raw[2] | (raw[3] << 8);
  settings.startActions = raw[4] & (Trigger::kFreeze | Trigger::kRun | Trigger::kBeep | Trigger::kWhistle);
  settings.stopActions = raw[5];
  for (auto& special : settings.specialMessage) special = text;
  settings.missingMessage = text;
  uint64_t received = 0;
  TriggerSources sources;
  sources.receivedFramesBus1 = [&received] { return received; };
  sources.nowMs = [&frame] { return static_cast<double>(frame.timestamp); };
  Trigger trigger(sources, [](bool) {});
  trigger.setEvaluator(evaluator);
  trigger.configure(settings);
  trigger.reset();
  trigger.TriggerOnFrame(&frame);
  ++received;
  trigger.TriggerOnFrame(nullptr);
  trigger.tick();
  return 0;
}
