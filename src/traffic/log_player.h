// The log player: sends the frames of a recorded log file to the bus again, keeping the time
// spacing of the recording. Reads every form of log_reader.h (detection by content, not by name).
// PlayerTick() is called every 5 ms by whoever drives it (the GUI's precise timer, the headless
// runner's loop, tests); it reads the clock itself and sends at most 30 frames per call through the
// transmit function the owner installs (the common send path). The "Logfile Replay" window shows
// what this object exposes and calls its commands; nothing here knows about widgets.
// Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/clock.h"
#include "traffic/log_reader.h"
#include "traffic/traffic_settings.h"

namespace busprobe {

enum class PlayerState : int { kStopped = 0, kPlaying = 1, kRewinding = 2, kPaused = 3 };

// The window's "Options" tab. Applied by play().
struct PlayerOptions {
  bool loopMode = true;
  bool dontShow = false;  // "don't show messages in TX window"
  // Source channels replayed on bus 1 and bus 2; entries below 1 are unused.
  std::array<int, 4> bus1Channels{1, 0, 0, 0};
  std::array<int, 4> bus2Channels{2, 0, 0, 0};
  std::string rejectText;     // up to 255 characters; kept for the window, not used
  bool sendToRealBus = true;  // "send messages to the 'real' CAN bus": kept for the window, not used
};

// The window's "Statistics" tab.
struct PlayerStatistics {
  std::array<uint64_t, 4> sentPerChannel{};  // channels 1..4
  uint64_t framesSent = 0;
  uint64_t transmitFailures = 0;    // attempts the send path refused (the frame is tried again)
  uint64_t linesSkipped = 0;        // lines that did not parse
  uint64_t unknownSymbolLines = 0;  // lines skipped for an unknown symbolic identifier
  uint64_t excludedFrames = 0;      // identifiers on the exclusion list
  uint64_t unmappedFrames = 0;      // channels listed for neither bus: skipped
  uint64_t overlongLines = 0;       // lines too long to be a frame line: skipped
  uint64_t wraps = 0;               // ends of file reached while playing
};

class LogPlayer {
 public:
  // Sends one frame; options bit 0 (kTxDontShow) = not shown in the Tx list. True when sent.
  using TransmitFn = std::function<bool(CanFrame& frame, int options)>;
  // Asked before a file is opened: a refusal text (nothing opened) or empty.
  using OpenCheck = std::function<std::string(const std::string& path)>;
  static constexpr int kTxOptionDontShow = 1;
  static constexpr int kFramesPerTick = 30;
  static constexpr double kTickMs = 5.0;
  static constexpr int kRefreshEveryTicks = 32;
  static constexpr double kMaxBehindSec = 0.2;

  // `settings` (exclusion list, MinTxDelay_ms) is read where it lives, so edits apply at once.
  // `lookup` resolves symbolic identifiers (CanNameTable::idForName); may be empty.
  LogPlayer(Clock& clock, const LogfilePlayerSettings& settings, NameLookup lookup, TransmitFn transmit);

  void setOpenCheck(OpenCheck check) { openCheck_ = std::move(check); }

  // Opens a file, detects its form and positions at its data start; shows the window. Closes any
  // file open before. False (nothing open) when unreadable, of no known form, or refused by the
  // open check (openFailureText() then says why).
  bool OpenPlayerFile(const std::string& path);
  // What to tell the user about the last failed open: the open check's refusal, else "Could not
  // open the file, or unknown logfile format.".
  std::string openFailureText() const;
  // Reads lines until one gives a frame that passes the exclusion list and maps to a bus; it
  // becomes the pending frame (frameTime() is its file time). False at the end of the file.
  bool ReadNextFrame();
  // One timer step. True every 32nd call (of 5 ms steps): time to refresh the window's bar and labels.
  bool PlayerTick();
  // How often PlayerTick is called. A finer step sends each frame closer to its due time; the
  // frames per step shrink with it, so bursts still go out at no more than 30 frames per 5 ms, and
  // the window still refreshes every 160 ms.
  void setStepMs(double stepMs);
  double stepMs() const { return stepMs_; }
  int framesPerStep() const { return framesPerStep_; }
  // Stopped, file closed, window closed.
  void StopPlayer();

  // Window commands. play() applies the options (the overload) and starts; with no file open it
  // opens fileName() first and returns false when that fails.
  bool play();
  bool play(const PlayerOptions& options);
  void stop();    // stopped; the pending frame is dropped; the file stays open
  void rewind();  // back to the data start, in any state

  // Window state.
  PlayerState state() const { return state_; }
  bool windowShown() const { return windowShown_; }
  void windowClosed() { windowShown_ = false; }
  bool isFileOpen() const { return reader_.isOpen(); }
  const std::string& fileName() const { return fileName_; }
  void setFileName(const std::string& path) { fileName_ = path; }
  const LogFormat& format() const { return reader_.format(); }
  uint64_t filePosition() const { return reader_.isOpen() ? reader_.position() : 0; }
  uint64_t fileSize() const { return reader_.isOpen() ? reader_.size() : 0; }
  // The open file; nothing when none is open.
  std::optional<FileIdentity> fileIdentity() const { return reader_.fileIdentity(); }

  // Caption by state: "Logfile Player STOPPED", "Logfile PLAYING", "Logfile REWINDING",
  // "Logfile PAUSED".
  std::string captionText() const;
  // Position label: kilobytes read and " kB".
  std::string positionText() const;
  // Time label: the pending frame's file time with one decimal and " sec"; when the replay lags
  // more than a second behind, the lag and " sec TOO LATE".
  std::string timeText() const;

  const PlayerOptions& options() const { return options_; }
  void setOptions(const PlayerOptions& options) { options_ = options; }
  const PlayerStatistics& statistics() const { return stats_; }
  // One line on what the replay did so far: "Played <file>: <n> frames sent, <n> lines skipped,
  // <n> excluded, <n> unmapped, <n> refused." (skipped: did not parse, unknown symbol, over-long;
  // unmapped: channel on neither bus; refused: attempts the send path turned down).
  std::string summaryText() const;
  void resetStatistics();

  // Unknown symbolic identifiers: the count since the file was opened, and a notice that is true
  // once, for the first such line after the window was shown (the owner shows its message box).
  uint64_t unknownSymbolLines() const { return reader_.counts().unknownSymbolLines; }
  bool takeUnknownSymbolNotice();

  // Timing values, for the window and tests.
  std::optional<double> frameTime() const { return tFrame_; }
  std::optional<double> lag() const { return lag_; }
  bool hasPendingFrame() const { return pending_; }
  const CanFrame& pendingFrame() const { return pendingFrame_; }
  uint64_t tickCount() const { return ticks_; }

 private:
  double nowSec() const { return clock_.nowMs() / 1000.0; }
  void toDataStart();
  bool excluded(const CanFrame& frame) const;
  int busOfChannel(int channel) const;
  void pullReaderCounts();

  Clock& clock_;
  const LogfilePlayerSettings& settings_;
  TransmitFn transmit_;
  OpenCheck openCheck_;
  std::string openRefusal_;
  LogReader reader_;
  std::string fileName_;
  PlayerState state_ = PlayerState::kStopped;
  PlayerOptions options_;
  PlayerStatistics stats_;
  bool windowShown_ = false;
  bool unknownNoticeDue_ = false;
  bool unknownNoticeGiven_ = false;
  uint64_t seenUnknown_ = 0;
  LogReader::Counts readerBase_;  // reader counts at the last statistics reset
  uint64_t overlongBase_ = 0;

  bool pending_ = false;
  CanFrame pendingFrame_;
  int pendingChannel_ = 0;
  std::optional<double> tFrame_, tFirst_, tLastSent_, pcStart_, pcLastSent_, pcDue_, lag_;
  uint64_t ticks_ = 0;
  double stepMs_ = kTickMs;
  int framesPerStep_ = kFramesPerTick;
  uint64_t refreshEvery_ = kRefreshEveryTicks;
};

// Texts of the player's dialogs and boxes.
inline constexpr const char* kPlayerDialogTitle = "Play a CAN LOGGER file to the bus";
inline constexpr const char* kPlayerDefaultExtension = "ASC";
inline constexpr const char* kPlayerWindowDefaultExtension = "asc";
inline constexpr const char* kPlayerOpenFailedTitle = "CAN Playback Utility";
inline constexpr const char* kPlayerOpenFailedText = "Could not open the file, or unknown logfile format.";
inline constexpr const char* kPlayerNotImplementedTitle = "CAN Log Recorder";
inline constexpr const char* kPlayerNotImplementedText = "Sorry, this function has not been implemented yet.";
inline constexpr const char* kPlayerUnknownSymbolsTitle = "Problem with the CAN Logfile Player";
inline constexpr const char* kPlayerUnknownSymbolsText =
    "The logfile contains unknown ID-Symbols.\nCheck the CAN MESSAGE table for details !";

// The file dialog's filter: "description|pattern" pairs joined by '|'. Detection goes by content,
// so the PCAN Explorer and candump entries may both name *.log.
std::string PlayerFileFilter();

// Window position kept on the desktop: at least the low edge - 5, at most the high edge - 32.
int KeepPlayerWindowOnDesktop(int position, int lowEdge, int highEdge);

}  // namespace busprobe
