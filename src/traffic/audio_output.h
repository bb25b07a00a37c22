// Acoustic signals: the trigger's beep and whistle (and later the script's sound command) play
// through an AudioOutput. A silent back-end is always there; real back-ends are the Linux PC
// speaker (an input device that accepts tone events) for AudioOutputDevice 1 and a sound card
// through `aplay` for device 2, each used only when the machine has it.
//
// AudioSignalOutput is what the application hands to its users: it reads SoundEnabled and
// AudioOutputDevice where they live at every tone, so a change in the settings window applies
// to the next tone. TonePlayer turns "a tone for N ms, rising by S Hz per tick" into calls on an
// output, stepped by the application's 50 ms tick. Main thread only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

namespace busprobe {

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Starts a continuous tone, or changes the pitch of the one sounding.
  virtual void tone(int frequencyHz) = 0;
  virtual void silence() = 0;
  // What plays the sound, for the settings window ("silent", "PC speaker ...", ...).
  virtual std::string describe() const = 0;
};

class SilentAudioOutput final : public AudioOutput {
 public:
  void tone(int) override {}
  void silence() override {}
  std::string describe() const override { return "silent"; }
};

// Writes tone events to a Linux input device that understands them (the PC speaker driver).
class PcSpeakerOutput final : public AudioOutput {
 public:
  explicit PcSpeakerOutput(const std::string& devicePath);
  ~PcSpeakerOutput() override;
  bool isOpen() const { return fd_ >= 0; }
  void tone(int frequencyHz) override;
  void silence() override;
  std::string describe() const override { return "PC speaker (" + path_ + ")"; }

 private:
  void send(int frequencyHz);
  std::string path_;
  int fd_ = -1;
  int sounding_ = 0;
};

// Plays each tone as a sine, 8 kHz unsigned 8-bit mono raw, written into the standard input of
// a player program (`aplay`) started for it; a new pitch or silence ends that program.
class PipePlayerOutput final : public AudioOutput {
 public:
  static constexpr int kSampleRate = 8000;
  static constexpr int kMaxToneMs = 2500;  // longer than any tone; silence() ends it earlier

  explicit PipePlayerOutput(std::string program);
  ~PipePlayerOutput() override;
  void tone(int frequencyHz) override;
  void silence() override;
  std::string describe() const override { return "sound card (" + program_ + ")"; }
  // The running player's process id (0 when none).
  pid_t playerPid() const { return pid_; }

 private:
  void stopPlayer();
  std::string program_;
  pid_t pid_ = 0;
  int sounding_ = 0;
};

// The back-end for AudioOutputDevice: 0 silent, 1 the PC speaker, 2 the sound card; silent when
// the machine has no such output.
std::unique_ptr<AudioOutput> CreateAudioBackend(int audioOutputDevice);
// The PC speaker's input device, or empty when there is none.
std::string FindPcSpeakerDevice();
// `aplay` when it is installed, or empty.
std::string FindPipePlayer();

// The two settings the signal output reads, in the records that hold them: the switch is the
// interpreter's ("Interpreter" SoundEnabled), the device the sound interface's.
struct AudioSignalSettings {
  const int& soundEnabled;
  const int& audioOutputDevice;
};

// Routes tones to the back-end the settings select; silent while SoundEnabled is 0 or the
// device is 0. The back-end is made again when AudioOutputDevice changes.
class AudioSignalOutput final : public AudioOutput {
 public:
  using BackendFactory = std::function<std::unique_ptr<AudioOutput>(int audioOutputDevice)>;

  // factory: CreateAudioBackend when unset (tests pass a recording fake).
  explicit AudioSignalOutput(AudioSignalSettings settings, BackendFactory factory = {});
  ~AudioSignalOutput() override;
  void tone(int frequencyHz) override;
  void silence() override;
  std::string describe() const override;

 private:
  AudioOutput* backend();
  const AudioSignalSettings settings_;
  BackendFactory factory_;
  std::unique_ptr<AudioOutput> backend_;
  int backendDevice_ = -1;
  bool sounding_ = false;
};

// One tone at a time: play() starts it at once, tick() (every 50 ms) raises the pitch by the step
// and ends the tone when its ticks have run out. A new play() replaces the sounding tone.
class TonePlayer {
 public:
  static constexpr int kTickMs = 50;

  explicit TonePlayer(AudioOutput* output = nullptr) : output_(output) {}
  // null: tones are counted but not heard.
  void setOutput(AudioOutput* output);
  // durationMs is kept in whole ticks (at least one).
  void play(int frequencyHz, int durationMs, int stepHzPerTick = 0);
  void tick();
  void stop();

  bool active() const { return ticksLeft_ > 0; }
  int frequencyHz() const { return frequencyHz_; }
  int ticksLeft() const { return ticksLeft_; }

 private:
  AudioOutput* output_;
  int frequencyHz_ = 0;
  int stepHz_ = 0;
  int ticksLeft_ = 0;
};

}  // namespace busprobe
