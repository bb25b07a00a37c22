#include "traffic/traffic_paths.h"

#include <algorithm>
#include <cstdio>

namespace busprobe {

namespace {
constexpr std::string_view kTxMark = ";[T]";
constexpr double kRetryDelayMs = 10.0;

bool Printable(const std::string& text) {
  return !text.empty() && static_cast<unsigned char>(text[0]) >= 0x20 &&
         static_cast<unsigned char>(text[0]) < 0x7F;
}
}  // namespace

TrafficPaths::TrafficPaths(Ucan& ucan, Clock& clock, const CanDisplaySettings& displaySettings,
                           const LoggingSettings& logging, Printer print, Printer printCan)
    : ucan_(ucan),
      clock_(clock),
      displaySettings_(displaySettings),
      logging_(logging),
      print_(std::move(print)),
      printCan_(std::move(printCan)),
      owner_(std::this_thread::get_id()),
      rxList_(displaySettings.rxListType),
      txList_(displaySettings.txListType),
      stats_(ucan, print_, printCan_) {
  line_[0] = '\0';
}

bool TrafficPaths::TransmitFrame(CanFrame& frame, unsigned options) {
  UcanLock& ucanLock = ucan_.lock();
  std::unique_lock<UcanLock> lock(ucanLock);
  // A text nobody took is not about this frame; the failure must be told with its own.
  ucan_.clearLastError();
  UcanTxResult result = sendOnce(frame);
  if (result == UcanTxResult::kFailed) {
    // Only the second attempt's failure is reported; a success forgets the first one.
    ucan_.clearLastError();
    // The wait gives a full queue time to drain. Nobody may be kept waiting for the lock meanwhile
    // (a server's relay thread, the owner's tick), so it is let go; a caller that holds the lock
    // itself (the receive pump running a script, the relay) cannot be let go for, and gets its
    // second attempt at once instead.
    if (ucanLock.depth() == 1) {
      lock.unlock();
      clock_.sleepMs(kRetryDelayMs);
      lock.lock();
    }
    result = sendOnce(frame);
  }
  const bool ok = finishSend(frame, options, result == UcanTxResult::kSent);
  std::string error;
  if (!ok) error = ucan_.takeLastError();
  if (onOwnerThread()) {
    afterTransmit(frame, options, ok, error);
  } else {
    std::lock_guard<std::mutex> guard(foreignMutex_);
    if (foreign_.size() < kForeignCapacity) {
      foreign_.push_back(Foreign{frame, options, ok, std::move(error)});
    } else {
      ++foreignDropped_;
    }
  }
  return ok;
}

UcanTxResult TrafficPaths::sendOnce(CanFrame& frame) {
  const int bus = frame.bus();
  const uint8_t status = bus < 2 ? stats_.lastStatus(bus) : 0;
  // The status changes only with the tick, so waiting inside one send cannot help.
  if (status & kUcanBusOff) {
    ucan_.setError("UCAN_Transmit: CAN%d is BUS-OFF, frame not sent !", bus + 1);
    return UcanTxResult::kRefused;
  }
  if (status & kUcanOther) {
    ucan_.setError("UCAN_Transmit: CAN%d reports other error(s), frame not sent !", bus + 1);
    return UcanTxResult::kRefused;
  }
  return ucan_.tryTransmit(bus, frame);
}

bool TrafficPaths::finishSend(CanFrame& frame, unsigned options, bool sent) {
  if (options & kTxLoopback) {
    if (!sent) {
      // Nothing was put on the bus, but the local receivers still see the frame: give it a time.
      frame.timestamp = ucan_.clockMsWhole();
      ucan_.clearLastError();
    }
    CanFrame copy = frame;
    copy.fdFlags |= CanFrame::kLoopback;
    loopback_.push(copy);  // a full queue counts the drop; the tick reports it
    return true;
  }
  return sent;
}

size_t TrafficPaths::formatLine(const CanFrame& frame, bool /*received*/) {
  const size_t len = FormatFrameLine(frame, displaySettings_, display_.extendedIdSeen, display_.previousTime,
                                     line_, kFrameLineCapacity);
  display_.previousTime = frame.timestamp;
  return len;
}

size_t TrafficPaths::appendComment(const CanFrame& frame, size_t len, bool received) {
  if (!comments_ || !displaySettings_.showComments || displaySettings_.highLevelProtocol >= 2) return len;
  const size_t n = comments_(frame, received, comment_, sizeof comment_);
  if (n == 0) return len;
  return AppendLineComment(line_, len, kFrameLineCapacity,
                           std::string_view(comment_, std::min(n, sizeof comment_)), received);
}

void TrafficPaths::logFrame(const CanFrame& frame, size_t len, char direction) {
  if (!log_ || !log_->isOpen()) return;
  if (log_->isAscii()) {
    log_->writeAscFrame(frame, direction);
  } else {
    line_[len] = '\r';
    line_[len + 1] = '\n';
    log_->writeText(std::string_view(line_, len + 2));
    line_[len] = '\0';
  }
}

void TrafficPaths::showReceived(const CanFrame& frame) {
  size_t len = formatLine(frame, true);
  len = appendComment(frame, len, true);
  const CanDisplaySettings& d = displaySettings_;
  if (!display_.rxDisplayStopped) {
    rxList_.add(d.rxListType, d.maxWindowLines, FrameSortKey(frame, true), frame.timestamp,
                std::string_view(line_, len));
  }
  if (lineSink_) lineSink_(false, std::string_view(line_, len));
  shownFrame_ = &frame;
  shownLength_ = len;
}

void TrafficPaths::logReceived(const CanFrame& frame) {
  if (!logging_.logRxMsgs || !log_ || !log_->isOpen()) return;
  size_t len = shownLength_;
  if (shownFrame_ != &frame) len = appendComment(frame, formatLine(frame, true), true);
  shownFrame_ = nullptr;
  logFrame(frame, len, 'R');
}

void TrafficPaths::ResetMessageCounters() {
  stats_.ResetMessageCounters(ucan_.clockSeconds());
}

void TrafficPaths::PrintBusStatistics(const int baudrate[2]) {
  stats_.PrintBusStatistics(baudrate, ucan_.clockSeconds());
}

void TrafficPaths::afterTransmit(const CanFrame& frame, unsigned options, bool ok, const std::string& error) {
  shownFrame_ = nullptr;  // line_ is about to hold a Tx line
  if (!ok) {
    noteTxError(error);
    return;
  }

  stats_.countSent(frame.bus());
  size_t len = formatLine(frame, false);
  const CanDisplaySettings& d = displaySettings_;
  const bool combined = d.rxTxCombined != 0;
  const bool stopped = combined ? display_.rxDisplayStopped : display_.txDisplayStopped;
  bool marked = false;
  if (!(options & kTxDontShow) && !stopped) {
    const size_t plain = len;
    len = appendComment(frame, len, false);
    marked = len != plain;
    const int64_t key = FrameSortKey(frame, false);
    if (combined) {
      if (!marked) len = AppendLineComment(line_, len, kFrameLineCapacity, kTxMark, false);
      marked = true;
      rxList_.add(d.rxListType, d.maxWindowLines, key, frame.timestamp, std::string_view(line_, len));
    } else {
      txList_.add(d.txListType, d.maxWindowLines, key, frame.timestamp, std::string_view(line_, len));
    }
  }
  if (logging_.markRxTx && !marked) len = AppendLineComment(line_, len, kFrameLineCapacity, kTxMark, false);
  if (lineSink_) lineSink_(true, std::string_view(line_, len));
  if (logging_.logTxMsgs) logFrame(frame, len, 'T');
}

// A flood of frames that all fail alike (a peer's datagram of frames for a bus that does not exist)
// must not bury the messages window: the first failure of each cause in a tick is shown as it is,
// the rest are counted and told once when the tick ends.
void TrafficPaths::noteTxError(const std::string& error) {
  for (TxErrorCause& c : txErrorCauses_) {
    if (c.text == error) {
      ++c.more;
      return;
    }
  }
  if (txErrorCauses_.size() == kTxErrorCauses) {
    ++txErrorsOtherCauses_;
    return;
  }
  txErrorCauses_.push_back(TxErrorCause{error, 0});
  reportTxErrorLine(Printable(error) ? "  <TX-error:" + error + ">" : "  <TX-error>");
}

void TrafficPaths::reportTxErrorLine(const std::string& line) {
  if (!display_.txDisplayStopped) print_(line);
  const LoggingSettings& l = logging_;
  if (l.logOthers && l.logTxMsgs && log_ && log_->isOpen() && !log_->isAscii())
    log_->writeText(line + "\r\n");
}

void TrafficPaths::endTick() {
  char count[32];
  for (const TxErrorCause& c : txErrorCauses_) {
    if (c.more == 0) continue;
    std::snprintf(count, sizeof count, "%llu", static_cast<unsigned long long>(c.more));
    std::string line = std::string("  <TX-error: ") + count + " more frames not sent";
    if (Printable(c.text)) line += ": " + c.text;
    reportTxErrorLine(line + ">");
  }
  if (txErrorsOtherCauses_ > 0) {
    std::snprintf(count, sizeof count, "%llu", static_cast<unsigned long long>(txErrorsOtherCauses_));
    reportTxErrorLine(std::string("  <TX-error: ") + count + " more frames not sent, for other reasons>");
  }
  txErrorCauses_.clear();
  txErrorsOtherCauses_ = 0;
}

void TrafficPaths::drainForeignTransmissions() {
  std::vector<Foreign> batch;
  uint64_t dropped;
  {
    std::lock_guard<std::mutex> guard(foreignMutex_);
    if (foreign_.empty()) return;
    batch.swap(foreign_);
    dropped = foreignDropped_;
  }
  std::lock_guard<UcanLock> lock(ucan_.lock());
  for (const Foreign& f : batch) afterTransmit(f.frame, f.options, f.ok, f.error);
  if (dropped != reportedForeignDropped_) {
    char line[128];
    std::snprintf(line, sizeof line, "%llu relayed frames not shown or logged so far (queue full) !",
                  static_cast<unsigned long long>(dropped));
    printCan_(line);
    reportedForeignDropped_ = dropped;
  }
}

uint64_t TrafficPaths::foreignDropped() const {
  std::lock_guard<std::mutex> guard(foreignMutex_);
  return foreignDropped_;
}

void TrafficPaths::EraseList(int listNumber) {
  if (listNumber == kRxList) rxList_.reset(displaySettings_.rxListType);
  if (listNumber == kTxList) txList_.reset(displaySettings_.txListType);
}

}  // namespace busprobe
