// Trigger: frame patterns, events and their combination, actions on a rise only, tones through
// the audio interface (recorded, never heard).
#include "traffic/trigger.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/test_support.h"

namespace busprobe {
namespace {

CanFrame Frame(uint32_t id, std::initializer_list<uint8_t> bytes, uint8_t rtr = 0) {
  CanFrame f;
  f.id = id;
  f.rtr = rtr;
  f.length = static_cast<uint8_t>(bytes.size());
  int i = 0;
  for (uint8_t b : bytes) f.data[i++] = b;
  return f;
}

bool Matches(const char* pattern, const CanFrame& frame, const TriggerEvaluator* evaluator = nullptr) {
  return FramePattern::Parse(pattern).matches(frame, evaluator);
}

TEST(FramePattern, FieldsAgainstFrames) {
  const CanFrame two = Frame(0x123, {0x11, 0x22});
  const CanFrame three = Frame(0x123, {0x11, 0x22, 0x33});
  const CanFrame remote = Frame(0x123, {0, 0}, 1);
  const CanFrame ext2 = Frame(CanFrame::kExtended | (1u << 30) | 0x18FF0001, {});
  const CanFrame relayed0 = Frame((2u << 30) | 0x123, {0x11, 0x22});
  const CanFrame relayed1 = Frame((3u << 30) | 0x123, {0x11, 0x22});
  struct Row {
    const char* pattern;
    const CanFrame& frame;
    bool match;
  } rows[] = {
      {"XX XX XX", two, true},
      {"XX XX XX", ext2, true},
      {"123 0 2 11 XX", two, true},
      {"123 0 2 11 XX", three, false},
      {"123 0 2 12 XX", two, false},
      {"123 0 2 11 XX", remote, false},  // R compared with the remote flag
      {"123 1 2 XX XX", remote, true},
      {"123 0 XX", three, true},  // L "XX": data bytes not looked at
      {"123 0 XX 99 99", three, true},
      {"124 0 XX", two, false},
      {"  123\t0   2 11 22  ", two, true},
      {"$123 #0 $2 0x11 0x22", two, true},
      {"#291 0 2 11 22", two, true},  // decimal identifier
      {"123 0 %10 11 22", two, true},
      {"123 0 2 xx x", two, true},
      // The identifier is the whole id word: bus and extended bits included.
      {"58FF0001 0 0", ext2, false},
      {"78FF0001 0 0", ext2, true},
      // Frames relayed by a CAN-via-UDP server (bus index 2, 3) count as buses 0 and 1.
      {"123 0 2 11 22", relayed0, true},
      {"123 0 2 11 22", relayed1, false},
      {"40000123 0 2 11 22", relayed1, true},
      {"80000123 0 2 11 22", two, true},
      // Whatever cannot be read, or is missing but needed, is no match.
      {"", two, false},
      {"   ", two, false},
      {"123", two, false},
      {"123 0", two, false},
      {"123 0 2 11", two, false},
      {"12G 0 XX", two, false},
      {"123 0x 2 11 22", two, false},
      {"123 A XX", two, false},  // R is decimal
      {"XY 0 XX", two, false},
      {"123 0 2 111 22", two, false},
      // An expression needs the evaluator hook.
      {"(0x123) 0 XX", two, false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Matches(row.pattern, row.frame), row.match) << '"' << row.pattern << '"';
}

TEST(FramePattern, LongFramesCompareEightBytesAndLengthIsHex) {
  CanFrame fd = Frame(0x10, {});
  fd.length = 12;
  for (int i = 0; i < 12; ++i) fd.data[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(Matches("10 0 C 0 1 2 3 4 5 6 7", fd));
  EXPECT_FALSE(Matches("10 0 12 0 1 2 3 4 5 6 7", fd));
  EXPECT_FALSE(Matches("10 0 C 0 1 2 3 4 5 6", fd));  // eighth byte missing
}

TEST(FramePattern, ExpressionFieldsGoThroughTheEvaluator) {
  std::vector<std::string> asked;
  const TriggerEvaluator evaluator = [&](std::string_view expression, int64_t& value) {
    asked.emplace_back(expression);
    if (expression == "(bad)") return false;
    value = expression == "(node + 0x100)" ? 0x105 : 2;
    return true;
  };
  const CanFrame frame = Frame(0x105, {0xAA, 0xBB});
  EXPECT_TRUE(Matches("(node + 0x100) 0 (len) AA BB", frame, &evaluator));
  EXPECT_EQ(asked, (std::vector<std::string>{"(node + 0x100)", "(len)"}));
  EXPECT_FALSE(Matches("(bad) 0 XX", frame, &evaluator));
  EXPECT_FALSE(Matches("(node + 0x100 0 XX", frame, &evaluator));  // unclosed
}

class RecordingAudio : public AudioOutput {
 public:
  void tone(int frequencyHz) override { calls.push_back(frequencyHz); }
  void silence() override { calls.push_back(0); }
  std::string describe() const override { return "recording"; }
  std::vector<int> calls;  // 0 = silence
};

class TriggerTest : public ::testing::Test {
 protected:
  TriggerTest() {
    TriggerSources sources;
    sources.receivedFramesBus1 = [this] { return rxCount; };
    sources.sdoClientErrors = [this] { return clientErrors; };
    sources.sdoServerErrors = [this] { return serverErrors; };
    sources.nowMs = [this] { return nowMs; };
    trigger = std::make_unique<Trigger>(
        sources, [this](bool stopped) { displayCalls.push_back(stopped); }, &audio);
    settings.enableModule = 1;
  }
  void apply() {
    trigger->configure(settings);
    trigger->reset();
  }
  // What the receive path does: the trigger sees the frame before it is counted.
  void receive(const CanFrame& frame) {
    trigger->TriggerOnFrame(&frame);
    ++rxCount;
  }

  uint64_t rxCount = 0, clientErrors = 0, serverErrors = 0;
  double nowMs = 0;
  std::vector<bool> displayCalls;
  RecordingAudio audio;
  TriggerSettings settings;
  std::unique_ptr<Trigger> trigger;
};

TEST_F(TriggerTest, ReceptionFreezesOnceAndAgainOnlyAfterTheConditionWasFalse) {
  settings.startEvents = Trigger::kAnyReception;
  settings.startActions = Trigger::kFreeze;
  apply();
  const CanFrame frame = Frame(0x1, {});
  receive(frame);  // not counted yet when evaluated
  EXPECT_TRUE(displayCalls.empty());
  receive(frame);
  EXPECT_EQ(displayCalls, std::vector<bool>{true});
  EXPECT_TRUE(trigger->startState());
  // The user lets the panes run again while frames keep coming: no new freeze.
  for (int i = 0; i < 10; ++i) receive(frame);
  EXPECT_EQ(displayCalls.size(), 1u);
  trigger->TriggerOnFrame(nullptr);  // still sees the count of the last frame
  EXPECT_TRUE(trigger->startState());
  trigger->TriggerOnFrame(nullptr);  // nothing new since: false
  EXPECT_FALSE(trigger->startState());
  receive(frame);
  receive(frame);
  EXPECT_EQ(displayCalls, (std::vector<bool>{true, true}));
}

TEST_F(TriggerTest, MissingMessageBecomesTrueAfterTheTimeoutAndFalseOnTheNextMatch) {
  settings.missingMessage = "200 0 XX";
  settings.startEvents = Trigger::kMissingMessage;
  settings.startActions = Trigger::kRun;
  apply();
  CanFrame frame = Frame(0x200, {1});
  frame.timestamp = 1000;
  nowMs = 1000;
  receive(frame);
  EXPECT_DOUBLE_EQ(trigger->missingLastSeenMs(), 1000);
  nowMs = 3000;
  trigger->TriggerOnFrame(nullptr);
  EXPECT_FALSE(trigger->startState());  // exactly the timeout: not yet later
  nowMs = 3001;
  trigger->TriggerOnFrame(nullptr);
  EXPECT_TRUE(trigger->startState());
  EXPECT_EQ(displayCalls, std::vector<bool>{false});
  frame.timestamp = 3500;
  nowMs = 3500;
  receive(frame);
  EXPECT_FALSE(trigger->startState());
  // Other frames do not count as the missing one.
  nowMs = 5600;
  receive(Frame(0x201, {1}));
  EXPECT_TRUE(trigger->startState());
}

TEST_F(TriggerTest, ConditionWithoutEventsNeverFiresAndKeepsItsShownState) {
  settings.startActions = Trigger::kFreeze;
  settings.stopActions = Trigger::kRun;
  apply();
  EXPECT_EQ(trigger->EvaluateEvents(0, false), -1);
  EXPECT_EQ(trigger->EvaluateEvents(0x200, true), -1);  // no known event bit
  trigger->toggleStartCondition();                      // by hand: runs the start actions at once
  EXPECT_EQ(displayCalls, std::vector<bool>{true});
  for (int i = 0; i < 5; ++i) receive(Frame(0x1, {}));
  EXPECT_TRUE(trigger->startState());
  trigger->toggleStartCondition();
  EXPECT_FALSE(trigger->startState());
  trigger->toggleStopCondition();
  EXPECT_EQ(displayCalls, (std::vector<bool>{true, false}));
}

TEST_F(TriggerTest, SpecialMarksOrAndAndTheDisabledModule) {
  settings.specialMessage = {"100 0 XX", "XX XX XX", "", "300 0 1 (x)"};
  settings.startEvents = Trigger::kSpecial1 | (Trigger::kSpecial1 << 1);
  settings.startActions = Trigger::kFreeze;
  settings.enableModule = 0;
  apply();
  receive(Frame(0x555, {}));
  // Patterns are matched even while the module is off; conditions are not evaluated.
  EXPECT_FALSE(trigger->specialMark(0));
  EXPECT_TRUE(trigger->specialMark(1));
  EXPECT_FALSE(trigger->specialMark(2));  // empty pattern never matches
  EXPECT_EQ(trigger->EvaluateEvents(settings.startEvents, false), 1);
  EXPECT_EQ(trigger->EvaluateEvents(settings.startEvents, true), 0);
  EXPECT_TRUE(displayCalls.empty());

  settings.enableModule = 1;
  trigger->configure(settings);
  trigger->setStartUsesAnd(true);
  trigger->TriggerOnFrame(nullptr);
  EXPECT_FALSE(trigger->startState());
  receive(Frame(0x100, {}));
  EXPECT_TRUE(trigger->startState());  // the marks stay set until the reset
  EXPECT_EQ(displayCalls, std::vector<bool>{true});
  trigger->reset();
  EXPECT_FALSE(trigger->specialMark(0));
  EXPECT_FALSE(trigger->startState());
}

TEST_F(TriggerTest, ErrorEventsLookAtTheirOwnCounters) {
  settings.startEvents = Trigger::kSdoServerError;
  settings.stopEvents = Trigger::kSdoClientError;
  settings.startActions = Trigger::kFreeze;
  settings.stopActions = Trigger::kRun;
  clientErrors = 7;  // counts from before the start are no rise
  apply();
  trigger->TriggerOnFrame(nullptr);
  EXPECT_TRUE(displayCalls.empty());
  ++clientErrors;
  trigger->TriggerOnFrame(nullptr);
  EXPECT_EQ(displayCalls, std::vector<bool>{false});
  EXPECT_FALSE(trigger->startState());
  ++serverErrors;
  EXPECT_EQ(trigger->EvaluateEvents(Trigger::kAnyError, false), 1);
  trigger->TriggerOnFrame(nullptr);
  EXPECT_EQ(displayCalls, (std::vector<bool>{false, true}));
  EXPECT_EQ(trigger->EvaluateEvents(Trigger::kAnyError, false), 0);
}

TEST_F(TriggerTest, BeepAndWhistleAreSteppedByTheTick) {
  apply();
  trigger->RunActions(Trigger::kBeep);
  for (int i = 0; i < 20; ++i) trigger->tick();
  EXPECT_EQ(audio.calls, (std::vector<int>{700, 0}));
  audio.calls.clear();
  trigger->RunActions(Trigger::kBeep);
  for (int i = 0; i < 9; ++i) trigger->tick();
  EXPECT_EQ(audio.calls, std::vector<int>{700});  // still sounding after 450 ms
  trigger->tick();
  EXPECT_EQ(audio.calls, (std::vector<int>{700, 0}));

  audio.calls.clear();
  trigger->RunActions(Trigger::kWhistle);
  for (int i = 0; i < 45; ++i) trigger->tick();
  ASSERT_EQ(audio.calls.size(), 41u);  // 40 pitches over 2000 ms, then silence
  EXPECT_EQ(audio.calls[0], 200);
  EXPECT_EQ(audio.calls[1], 250);
  EXPECT_EQ(audio.calls[39], 2150);
  EXPECT_EQ(audio.calls[40], 0);
}

TEST(AudioSignalOutput, SettingsChooseTheBackendAtEveryTone) {
  // Each back-end writes "device:pitch" (pitch 0 = silence) into one shared log.
  class Backend : public AudioOutput {
   public:
    Backend(int device, std::vector<std::string>& log) : device_(device), log_(log) {}
    void tone(int hz) override { log_.push_back(std::to_string(device_) + ":" + std::to_string(hz)); }
    void silence() override { tone(0); }
    std::string describe() const override { return "backend " + std::to_string(device_); }

   private:
    int device_;
    std::vector<std::string>& log_;
  };
  int soundEnabled = 0;
  int audioOutputDevice = kDefaultAudioOutputDevice;
  std::vector<std::string> log;
  int made = 0;
  AudioSignalOutput output({soundEnabled, audioOutputDevice}, [&](int device) {
    ++made;
    return std::make_unique<Backend>(device, log);
  });
  output.tone(440);
  EXPECT_EQ(made, 0);
  EXPECT_EQ(output.describe(), "silent");
  soundEnabled = 1;
  output.tone(440);
  EXPECT_EQ(output.describe(), "backend 2");
  audioOutputDevice = 1;  // changed in the settings window while sounding
  output.tone(500);
  audioOutputDevice = 0;
  output.tone(600);
  output.silence();
  EXPECT_EQ(log, (std::vector<std::string>{"2:440", "2:0", "1:500", "1:0"}));
  EXPECT_EQ(made, 2);
}

TEST(AudioBackends, PcSpeakerWritesToneEvents) {
  test::ScratchDir dir;
  const std::string path = dir.file("spkr");
  std::ofstream(path).close();
  {
    PcSpeakerOutput speaker(path);
    ASSERT_TRUE(speaker.isOpen());
    speaker.tone(700);
    speaker.tone(700);  // same pitch: nothing new
    speaker.tone(750);
  }  // the destructor silences
  std::ifstream in(path, std::ios::binary);
  std::vector<input_event> events;
  input_event event{};
  while (in.read(reinterpret_cast<char*>(&event), sizeof event)) events.push_back(event);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].type, EV_SND);
  EXPECT_EQ(events[0].code, SND_TONE);
  EXPECT_EQ(events[0].value, 700);
  EXPECT_EQ(events[1].value, 750);
  EXPECT_EQ(events[2].value, 0);
}

TEST(AudioBackends, PipePlayerGetsTheWholeToneOnItsInput) {
  test::ScratchDir dir;
  const std::string script = dir.file("player.sh");
  std::ofstream(script) << "#!/bin/sh\necho \"$@\" > '" << dir.file("args") << "'\ncat > '" << dir.file("pcm")
                        << "'\nmv '" << dir.file("pcm") << "' '" << dir.file("done") << "'\n";
  chmod(script.c_str(), 0755);
  PipePlayerOutput player(script);
  player.tone(1000);
  ASSERT_GT(player.playerPid(), 0);
  const size_t expected = PipePlayerOutput::kSampleRate * PipePlayerOutput::kMaxToneMs / 1000;
  // Bounded wait for the child to take the whole tone.
  for (int i = 0; i < 500 && access(dir.file("done").c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream pcm(dir.file("done"), std::ios::binary);
  const std::string samples((std::istreambuf_iterator<char>(pcm)), std::istreambuf_iterator<char>());
  ASSERT_EQ(samples.size(), expected);
  // 1000 Hz at 8000 samples/s: a period of 8 samples, starting at the midpoint.
  EXPECT_EQ(static_cast<uint8_t>(samples[0]), 128);
  EXPECT_EQ(static_cast<uint8_t>(samples[2]), 218);
  EXPECT_EQ(samples.substr(0, 8), samples.substr(8, 8));
  std::ifstream args(dir.file("args"));
  std::string argLine;
  std::getline(args, argLine);
  EXPECT_EQ(argLine, "-q -t raw -f U8 -c 1 -r 8000");
  player.silence();
  EXPECT_EQ(player.playerPid(), 0);
}

}  // namespace
}  // namespace busprobe
