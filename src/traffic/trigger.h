// The trigger: watches the traffic for a start and a stop condition, each an OR or AND of events
// (error counts rising, frames received, special frames seen, a frame missing too long), and
// reacts when a condition rises from false to true: freezing or releasing the Rx/Tx panes, a beep
// or a whistle. The receive path calls TriggerOnFrame(&frame) for every received frame before the
// frame is counted; the application's tick calls TriggerOnFrame(nullptr) and tick() every 50 ms,
// and reset() once when the tick starts. Settings come from the "Trigger" section through
// configure() (at start-up and on Apply/OK of the trigger window). Main thread only.
//
// Frame pattern text: "CANid R L d0 .. d7", fields separated by blanks. The identifier, the
// length and the data bytes are hexadecimal, R is decimal; "$"/"0x" force hexadecimal, "#"
// decimal, "%" binary. "XX" (or a run of lower-case x) matches anything. A field in parentheses is
// an expression, handed to the evaluator hook (no hook: the pattern never matches). The
// identifier is compared with the frame's whole id word (extended and bus bits included; a bus
// index 2 or 3 relayed by a CAN-via-UDP server counts as bus 0 or 1, CanFrame::matchingId). A field
// that is needed but missing or unreadable means no match; an empty pattern never matches.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "can/can_frame.h"
#include "traffic/audio_output.h"
#include "traffic/traffic_settings.h"

namespace busprobe {

// Evaluates an expression field "( ... )" (parentheses included); false when it does not evaluate.
using TriggerEvaluator = std::function<bool(std::string_view expression, int64_t& value)>;

class FramePattern {
 public:
  FramePattern() = default;
  static FramePattern Parse(std::string_view text);

  bool empty() const { return fields_.empty(); }
  // evaluator may be null (expression fields then never match).
  bool matches(const CanFrame& frame, const TriggerEvaluator* evaluator) const;

 private:
  enum class Kind : uint8_t { kNumber, kAny, kExpression, kInvalid };
  struct Field {
    Kind kind = Kind::kInvalid;
    uint32_t value = 0;
    std::string expression;
  };
  static Field ParseField(std::string_view token, int defaultRadix);
  static bool Resolve(const Field& field, const TriggerEvaluator* evaluator, bool& any, uint32_t& value);

  std::vector<Field> fields_;  // identifier, R, L, d0 .. d7 as far as written
};

// Where the trigger reads the counters whose rise makes an event. Unset sources read as 0.
struct TriggerSources {
  std::function<uint64_t()> receivedFramesBus1;  // "ANY reception of a CAN message"
  std::function<uint64_t()> sdoClientErrors;     // "SDO CLIENT error"
  std::function<uint64_t()> sdoServerErrors;     // "SDO SERVER error"
  // "ANY error"; unset: the sum of the SDO client and server error counts.
  std::function<uint64_t()> errorCount;
  // The UCAN clock in ms (the clock of frame time stamps), for the missing-message timeout.
  std::function<double()> nowMs;
};

class Trigger {
 public:
  enum Event : int {
    kAnyError = 0x001,
    kSdoClientError = 0x002,
    kSdoServerError = 0x004,
    kAnyReception = 0x008,
    kSpecial1 = 0x010,  // .. kSpecial1 << 3 for special message 4
    kMissingMessage = 0x100,
    kAllEvents = 0x1FF
  };
  enum Action : int { kFreeze = 0x1, kRun = 0x2, kBeep = 0x4, kWhistle = 0x8, kAllActions = 0xF };
  static constexpr int kSpecialPatterns = 4;

  // The list texts of the trigger window, in bit order.
  static const std::array<const char*, 9> kEventTexts;
  static const std::array<const char*, 4> kActionTexts;

  // setDisplaysStopped: sets both pane pause switches (true: freeze, false: run).
  Trigger(TriggerSources sources, std::function<void(bool stopped)> setDisplaysStopped,
          AudioOutput* audio = nullptr);

  // Takes the settings (patterns are parsed here, not per frame). Keeps the trigger state.
  void configure(const TriggerSettings& settings);
  const TriggerSettings& settings() const { return settings_; }
  void setEvaluator(TriggerEvaluator evaluator) { evaluator_ = std::move(evaluator); }
  void setAudioOutput(AudioOutput* audio) { tones_.setOutput(audio); }

  // OR (false, the default after every start) or AND of each condition's events; not stored.
  void setStartUsesAnd(bool useAnd) { startAnd_ = useAnd; }
  void setStopUsesAnd(bool useAnd) { stopAnd_ = useAnd; }
  bool startUsesAnd() const { return startAnd_; }
  bool stopUsesAnd() const { return stopAnd_; }

  // Start of the tick: both states false, special marks cleared, the missing message counted as
  // seen now, the counter snapshots taken from the current counts.
  void reset();

  // One evaluation; frame is null on the tick.
  void TriggerOnFrame(const CanFrame* frame);
  // -1 when no event bit is set, else the events' combination 0 or 1.
  int EvaluateEvents(int eventBits, bool useAnd) const;
  void RunActions(int actionBits);
  // Steps and ends the sounding tone; every 50 ms.
  void tick() { tones_.tick(); }

  // The condition buttons of the window: toggles the state by hand; a condition toggled to TRUE
  // runs its actions at once.
  void toggleStartCondition();
  void toggleStopCondition();

  bool startState() const { return startState_; }
  bool stopState() const { return stopState_; }
  bool specialMark(int index) const { return specialMarks_[static_cast<size_t>(index & 3)]; }
  double missingLastSeenMs() const { return missingLastSeenMs_; }
  const TonePlayer& tones() const { return tones_; }

 private:
  bool eventTrue(int bit) const;
  void takeSnapshots();
  uint64_t errorCountNow() const;
  static uint64_t read(const std::function<uint64_t()>& source) { return source ? source() : 0; }

  TriggerSources sources_;
  std::function<void(bool)> setDisplaysStopped_;
  TriggerEvaluator evaluator_;
  TonePlayer tones_;
  TriggerSettings settings_;
  std::array<FramePattern, kSpecialPatterns> special_;
  FramePattern missing_;
  bool startAnd_ = false, stopAnd_ = false;

  bool startState_ = false, stopState_ = false;
  std::array<bool, kSpecialPatterns> specialMarks_{};
  double missingLastSeenMs_ = 0;
  uint64_t rxSnapshot_ = 0, clientErrorSnapshot_ = 0, serverErrorSnapshot_ = 0, errorSnapshot_ = 0;
};

}  // namespace busprobe
