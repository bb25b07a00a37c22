#include "traffic/audio_output.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/input.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numbers>
#include <vector>

extern char** environ;

namespace busprobe {

// ---------------------------------------------------------------------------------------------
// PC speaker

PcSpeakerOutput::PcSpeakerOutput(const std::string& devicePath) : path_(devicePath) {
  fd_ = ::open(devicePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
}

PcSpeakerOutput::~PcSpeakerOutput() {
  if (fd_ < 0) return;
  if (sounding_ != 0) send(0);
  ::close(fd_);
}

void PcSpeakerOutput::send(int frequencyHz) {
  if (fd_ < 0) return;
  input_event event{};
  event.type = EV_SND;
  event.code = SND_TONE;
  event.value = frequencyHz;
  // A lost event only loses a beep; nothing to report.
  const ssize_t written = ::write(fd_, &event, sizeof event);
  (void)written;
  sounding_ = frequencyHz;
}

void PcSpeakerOutput::tone(int frequencyHz) {
  if (frequencyHz <= 0) {
    silence();
    return;
  }
  if (frequencyHz != sounding_) send(frequencyHz);
}

void PcSpeakerOutput::silence() {
  if (sounding_ != 0) send(0);
}

// ---------------------------------------------------------------------------------------------
// Sound card through a player program

PipePlayerOutput::PipePlayerOutput(std::string program) : program_(std::move(program)) {}

PipePlayerOutput::~PipePlayerOutput() {
  stopPlayer();
}

void PipePlayerOutput::stopPlayer() {
  if (pid_ <= 0) return;
  // SIGKILL: the wait below must not hang on a player that ignores a polite request.
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = 0;
  sounding_ = 0;
}

void PipePlayerOutput::silence() {
  stopPlayer();
}

void PipePlayerOutput::tone(int frequencyHz) {
  if (frequencyHz <= 0) {
    silence();
    return;
  }
  if (pid_ > 0 && frequencyHz == sounding_) return;
  stopPlayer();

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string rate = std::to_string(kSampleRate);
  const char* argv[] = {program_.c_str(), "-q",   "-t", "raw", "-f", "U8", "-c", "1", "-r",
                        rate.c_str(),     nullptr};
  pid_t pid = 0;
  const int spawned =
      ::posix_spawnp(&pid, program_.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  if (spawned != 0) {
    ::close(fds[1]);
    return;
  }
  pid_ = pid;
  sounding_ = frequencyHz;

  // The whole tone goes into the pipe at once (it fits its buffer), so nothing has to feed the
  // player later; silence() or the next pitch ends the player early.
  const size_t count = static_cast<size_t>(kSampleRate) * kMaxToneMs / 1000;
  std::vector<unsigned char> samples(count);
  const double step = 2.0 * std::numbers::pi * frequencyHz / kSampleRate;
  for (size_t i = 0; i < count; ++i) {
    samples[i] =
        static_cast<unsigned char>(std::lround(128.0 + 90.0 * std::sin(step * static_cast<double>(i))));
  }
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
  // A player that exits at once (no sound device) must not take the program down with SIGPIPE.
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t pendingBefore;
  sigpending(&pendingBefore);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  const ssize_t written = ::write(fds[1], samples.data(), samples.size());
  if (written < 0 && errno == EPIPE && !sigismember(&pendingBefore, SIGPIPE)) {
    const timespec zero{0, 0};
    sigtimedwait(&pipeSignal, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::close(fds[1]);
}

// ---------------------------------------------------------------------------------------------
// Back-end choice

std::string FindPcSpeakerDevice() {
  glob_t found{};
  std::string device;
  if (::glob("/dev/input/by-path/*-event-spkr", 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) {
      if (::access(found.gl_pathv[i], W_OK) == 0) {
        device = found.gl_pathv[i];
        break;
      }
    }
  }
  ::globfree(&found);
  return device;
}

std::string FindPipePlayer() {
  for (const char* candidate : {"/usr/bin/aplay", "/bin/aplay"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

std::unique_ptr<AudioOutput> CreateAudioBackend(int audioOutputDevice) {
  if (audioOutputDevice == 1) {
    const std::string device = FindPcSpeakerDevice();
    if (!device.empty()) {
      auto speaker = std::make_unique<PcSpeakerOutput>(device);
      if (speaker->isOpen()) return speaker;
    }
  } else if (audioOutputDevice == 2) {
    const std::string player = FindPipePlayer();
    if (!player.empty()) return std::make_unique<PipePlayerOutput>(player);
  }
  return std::make_unique<SilentAudioOutput>();
}

AudioSignalOutput::AudioSignalOutput(AudioSignalSettings settings, BackendFactory factory)
    : settings_(settings), factory_(std::move(factory)) {}

AudioSignalOutput::~AudioSignalOutput() {
  silence();
}

AudioOutput* AudioSignalOutput::backend() {
  const int device = settings_.audioOutputDevice;
  if (!backend_ || device != backendDevice_) {
    if (backend_ && sounding_) backend_->silence();
    sounding_ = false;
    backend_ = factory_ ? factory_(device) : CreateAudioBackend(device);
    backendDevice_ = device;
  }
  return backend_.get();
}

void AudioSignalOutput::tone(int frequencyHz) {
  if (settings_.soundEnabled == 0 || settings_.audioOutputDevice == 0) {
    silence();
    return;
  }
  AudioOutput* output = backend();
  if (output == nullptr) return;
  output->tone(frequencyHz);
  sounding_ = true;
}

void AudioSignalOutput::silence() {
  if (backend_ && sounding_) backend_->silence();
  sounding_ = false;
}

std::string AudioSignalOutput::describe() const {
  if (settings_.soundEnabled == 0 || settings_.audioOutputDevice == 0) return "silent";
  if (backend_ && backendDevice_ == settings_.audioOutputDevice) return backend_->describe();
  return "not used yet";
}

// ---------------------------------------------------------------------------------------------
// Tones stepped by the tick

void TonePlayer::setOutput(AudioOutput* output) {
  if (output_ != nullptr && output != output_ && active()) output_->silence();
  output_ = output;
}

void TonePlayer::play(int frequencyHz, int durationMs, int stepHzPerTick) {
  frequencyHz_ = frequencyHz;
  stepHz_ = stepHzPerTick;
  ticksLeft_ = (durationMs + kTickMs - 1) / kTickMs;
  if (ticksLeft_ < 1) ticksLeft_ = 1;
  if (output_ != nullptr) output_->tone(frequencyHz_);
}

void TonePlayer::tick() {
  if (ticksLeft_ <= 0) return;
  if (--ticksLeft_ == 0) {
    if (output_ != nullptr) output_->silence();
    return;
  }
  if (stepHz_ != 0) {
    frequencyHz_ += stepHz_;
    if (output_ != nullptr) output_->tone(frequencyHz_);
  }
}

void TonePlayer::stop() {
  if (ticksLeft_ > 0 && output_ != nullptr) output_->silence();
  ticksLeft_ = 0;
}

}  // namespace busprobe
