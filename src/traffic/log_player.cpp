#include "traffic/log_player.h"

#include <algorithm>
#include <cstdio>

namespace busprobe {

namespace {

std::string Printf(const char* format, double value) {
  const int n = std::snprintf(nullptr, 0, format, value);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, value);
  text.resize(static_cast<size_t>(n));
  return text;
}

}  // namespace

LogPlayer::LogPlayer(Clock& clock, const LogfilePlayerSettings& settings, NameLookup lookup,
                     TransmitFn transmit)
    : clock_(clock), settings_(settings), transmit_(std::move(transmit)), reader_(std::move(lookup)) {}

bool LogPlayer::OpenPlayerFile(const std::string& path) {
  reader_.close();
  state_ = PlayerState::kStopped;
  pending_ = false;
  tFrame_.reset();
  tFirst_.reset();
  tLastSent_.reset();
  pcStart_.reset();
  pcLastSent_.reset();
  pcDue_.reset();
  lag_.reset();
  fileName_ = path;
  stats_ = PlayerStatistics{};
  readerBase_ = LogReader::Counts{};
  overlongBase_ = 0;
  seenUnknown_ = 0;
  openRefusal_ = openCheck_ ? openCheck_(path) : std::string();
  if (!openRefusal_.empty() || !reader_.open(path)) return false;
  if (!windowShown_) {
    // A new window: its first unknown symbol is worth a message box again.
    windowShown_ = true;
    unknownNoticeGiven_ = false;
    unknownNoticeDue_ = false;
  }
  return true;
}

std::string LogPlayer::openFailureText() const {
  return openRefusal_.empty() ? std::string(kPlayerOpenFailedText) : openRefusal_;
}

std::string LogPlayer::summaryText() const {
  const uint64_t skipped = stats_.linesSkipped + stats_.unknownSymbolLines + stats_.overlongLines;
  return "Played " + fileName_ + ": " + std::to_string(stats_.framesSent) + " frames sent, " +
         std::to_string(skipped) + " lines skipped, " + std::to_string(stats_.excludedFrames) +
         " excluded, " + std::to_string(stats_.unmappedFrames) + " unmapped, " +
         std::to_string(stats_.transmitFailures) + " refused.";
}

int LogPlayer::busOfChannel(int channel) const {
  if (channel < 1) return -1;
  for (int c : options_.bus1Channels) {
    if (c == channel) return 0;
  }
  for (int c : options_.bus2Channels) {
    if (c == channel) return 1;
  }
  return -1;
}

bool LogPlayer::excluded(const CanFrame& frame) const {
  for (int value : settings_.excludeTxId) {
    if (value < 0) continue;
    const uint32_t v = static_cast<uint32_t>(value);
    // The whole identifier word, or the same without the bus bits: a user who excludes an
    // identifier means it on whichever bus it is replayed.
    if (v == frame.id || v == (frame.id & ~CanFrame::kBusMask)) return true;
  }
  return false;
}

void LogPlayer::pullReaderCounts() {
  const LogReader::Counts& counts = reader_.counts();
  if (counts.unknownSymbolLines > seenUnknown_) {
    seenUnknown_ = counts.unknownSymbolLines;
    if (windowShown_ && !unknownNoticeGiven_) {
      unknownNoticeGiven_ = true;
      unknownNoticeDue_ = true;
    }
  }
  stats_.linesSkipped = counts.skippedLines - readerBase_.skippedLines;
  stats_.unknownSymbolLines = counts.unknownSymbolLines - readerBase_.unknownSymbolLines;
  stats_.overlongLines = reader_.overlongLines() - overlongBase_;
}

bool LogPlayer::ReadNextFrame() {
  if (!reader_.isOpen()) return false;
  LogFrame lf;
  bool got = false;
  while (reader_.next(lf)) {
    // PCAN Explorer traces name no channel: their frames always go to the first bus.
    const int bus = reader_.format().form == LogForm::kPcanExplorer ? 0 : busOfChannel(lf.channel);
    lf.frame.setBus(bus < 0 ? 0 : bus);
    if (excluded(lf.frame)) {
      ++stats_.excludedFrames;
      continue;
    }
    // A channel listed for neither bus has no bus the CAN layer would take: sending it would fail
    // on every tick and stall the replay.
    if (bus < 0) {
      ++stats_.unmappedFrames;
      continue;
    }
    pendingFrame_ = lf.frame;
    pendingChannel_ = lf.channel;
    tFrame_ = lf.time;
    pending_ = true;
    got = true;
    break;
  }
  pullReaderCounts();
  return got;
}

void LogPlayer::toDataStart() {
  reader_.rewind();
  pending_ = false;
  tFrame_.reset();
  tFirst_.reset();
  pcStart_.reset();
  pcDue_.reset();
  lag_.reset();
}

bool LogPlayer::PlayerTick() {
  ++ticks_;
  double now = nowSec();
  if (state_ == PlayerState::kPlaying && reader_.isOpen()) {
    if (!pcStart_ || !pcLastSent_) pcStart_ = pcLastSent_ = now;
    for (int pass = 0; pass < framesPerStep_; ++pass) {
      if (tFirst_ && tFrame_) lag_ = (*tFrame_ - *tFirst_) - (now - *pcStart_);
      double wait = 0.0;
      if (tLastSent_) {
        if (!pcDue_) pcDue_ = now;
        wait = *pcDue_ - now;
        // Never more than 200 ms behind: a late frame goes out at once and the schedule restarts.
        if (wait < -kMaxBehindSec) pcDue_ = now;
      }
      if (wait > 0.0) break;

      bool failed = false;
      if (pending_) {
        CanFrame frame = pendingFrame_;  // the send path may stamp it; a retry sends the original
        if (transmit_ && transmit_(frame, options_.dontShow ? kTxOptionDontShow : 0)) {
          pending_ = false;
          pcLastSent_ = now;
          tLastSent_ = tFrame_;
          ++stats_.framesSent;
          if (pendingChannel_ >= 1 && pendingChannel_ <= 4) ++stats_.sentPerChannel[pendingChannel_ - 1];
        } else {
          failed = true;
          ++stats_.transmitFailures;
        }
      }
      if (!pending_) {
        if (ReadNextFrame()) {
          if (!tFirst_) {
            tFirst_ = tFrame_;
            pcStart_ = now;
          }
          if (!tLastSent_) tLastSent_ = tFrame_;
          if (pcDue_) *pcDue_ += *tFrame_ - *tLastSent_;
        } else {
          // End of the file. The next pass starts like the very first one, so the first frame
          // after the wrap goes out at once and the following ones keep their spacing, however
          // short the file is.
          toDataStart();
          tLastSent_.reset();
          ++stats_.wraps;
          if (!options_.loopMode) state_ = PlayerState::kPaused;
          break;
        }
      }
      if (failed) break;
      now = nowSec();
    }
  }
  return ticks_ % refreshEvery_ == 0;
}

void LogPlayer::setStepMs(double stepMs) {
  if (!(stepMs > 0.0) || stepMs > kTickMs) stepMs = kTickMs;
  stepMs_ = stepMs;
  framesPerStep_ = std::max(1, static_cast<int>(kFramesPerTick * stepMs / kTickMs + 0.5));
  refreshEvery_ = std::max<uint64_t>(1, static_cast<uint64_t>(kRefreshEveryTicks * kTickMs / stepMs + 0.5));
}

void LogPlayer::StopPlayer() {
  stop();
  reader_.close();
  windowShown_ = false;
}

bool LogPlayer::play(const PlayerOptions& options) {
  options_ = options;
  return play();
}

bool LogPlayer::play() {
  if (options_.rejectText.size() > 255) options_.rejectText.resize(255);
  if (!reader_.isOpen()) {
    if (fileName_.empty() || !OpenPlayerFile(fileName_)) return false;
  }
  state_ = PlayerState::kPlaying;
  return true;
}

void LogPlayer::stop() {
  state_ = PlayerState::kStopped;
  pending_ = false;
  // Playing again starts a new schedule; the old anchors would show a false "TOO LATE".
  tFirst_.reset();
  pcStart_.reset();
  lag_.reset();
}

void LogPlayer::rewind() {
  if (reader_.isOpen()) toDataStart();
}

std::string LogPlayer::captionText() const {
  switch (state_) {
    case PlayerState::kStopped:
      return "Logfile Player STOPPED";
    case PlayerState::kPlaying:
      return "Logfile PLAYING";
    case PlayerState::kRewinding:
      return "Logfile REWINDING";
    case PlayerState::kPaused:
      return "Logfile PAUSED";
  }
  return {};
}

std::string LogPlayer::positionText() const {
  return std::to_string(filePosition() / 1024) + " kB";
}

std::string LogPlayer::timeText() const {
  if (lag_ && *lag_ < -1.0) return Printf("%.1f sec TOO LATE", -*lag_);
  return Printf("%.1f sec", tFrame_ ? *tFrame_ : 0.0);
}

void LogPlayer::resetStatistics() {
  stats_ = PlayerStatistics{};
  // The reader's running counts stay; what the tab shows starts from zero.
  readerBase_ = reader_.counts();
  overlongBase_ = reader_.overlongLines();
}

bool LogPlayer::takeUnknownSymbolNotice() {
  const bool due = unknownNoticeDue_;
  unknownNoticeDue_ = false;
  return due;
}

std::string PlayerFileFilter() {
  return "Vector ASCII Logfiles (*.asc)|*.ASC|PCAN Explorer tracefiles (*.log)|*.LOG|"
         "NVK Logger Text files (*.txt)|*.TXT|PCAN trace files (*.trc)|*.TRC|candump logs (*.log)|*.LOG";
}

int KeepPlayerWindowOnDesktop(int position, int lowEdge, int highEdge) {
  return std::max(std::min(position, highEdge - 32), lowEdge - 5);
}

}  // namespace busprobe
