// The two roads every frame takes. TransmitFrame is the only way the program sends: it refuses
// while the bus is off, retries a failure that may clear once after 10 ms (never one that cannot,
// and never waiting while it holds the UCAN lock), may loop the frame back into the receive pump,
// counts it, shows it in the Tx list (or the Rx list when combined) and logs it. On the receive
// side the application's pump hands each frame here for its text line, its Rx list entry and its
// log line, at their fixed place among the other consumers. The display state, both lists, the
// bus statistics and the loopback queue live here.
//
// Threads: everything runs on the thread that created the object, except that a CAN-via-UDP
// server's relay thread sends its client's frames through TransmitFrame. Such a call transmits at
// once and leaves its counting, display and logging to the owner thread, which catches up at the
// next pump or tick (drainForeignTransmissions); nothing else is touched from that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "can/frame_ring.h"
#include "can/ucan.h"
#include "traffic/bus_statistics.h"
#include "traffic/frame_format.h"
#include "traffic/frame_list.h"
#include "traffic/traffic_settings.h"

namespace busprobe {

// TransmitFrame options.
enum TransmitOption : unsigned {
  kTxDontShow = 1u,  // not shown in a list (still counted and logged)
  kTxLoopback = 2u,  // also received locally through the loopback queue; the call then succeeds
};

// Where the traffic paths write log lines; the application adapts its logger to it.
class TrafficLog {
 public:
  virtual ~TrafficLog() = default;
  virtual bool isOpen() const = 0;
  // Vector ASCII format; otherwise the text format.
  virtual bool isAscii() const = 0;
  virtual void writeText(std::string_view text) = 0;
  virtual void writeAscFrame(const CanFrame& frame, char direction) = 0;
};

class TrafficPaths {
 public:
  static constexpr uint32_t kLoopbackCapacity = 4096;
  static constexpr size_t kForeignCapacity = 4096;
  static constexpr int kRxList = 1;
  static constexpr int kTxList = 2;

  // Writes a comment for the frame (no line end) into out and returns its length; 0: none.
  using CommentProvider =
      std::function<size_t(const CanFrame& frame, bool received, char* out, size_t capacity)>;
  using Printer = std::function<void(const std::string&)>;
  // Every traffic line as shown or logged (no line end): received or sent.
  using LineSink = std::function<void(bool transmitted, std::string_view line)>;

  // displaySettings, logging: read on every frame, so changes of the settings window apply at once.
  // print: a plain messages-window line; printCan: a CAN-driver category line.
  TrafficPaths(Ucan& ucan, Clock& clock, const CanDisplaySettings& displaySettings,
               const LoggingSettings& logging, Printer print, Printer printCan);
  TrafficPaths(const TrafficPaths&) = delete;
  TrafficPaths& operator=(const TrafficPaths&) = delete;

  void setLog(TrafficLog* log) { log_ = log; }
  void setCommentProvider(CommentProvider provider) { comments_ = std::move(provider); }
  void setLineSink(LineSink sink) { lineSink_ = std::move(sink); }

  // The common send path. Returns true when the frame was sent (or looped back). frame.timestamp
  // is set by the driver.
  bool TransmitFrame(CanFrame& frame, unsigned options = 0);

  // Receive pump, first step: a frame looped back by the send path, before any from the driver.
  bool takeLoopback(CanFrame& out) { return loopback_.pop(out); }
  // Receive pump: counts the frame for its bus.
  void countReceived(const CanFrame& frame) { stats_.countReceived(frame.bus()); }
  // Receive pump: text line (with comment) and Rx list entry unless stopped.
  void showReceived(const CanFrame& frame);
  // Receive pump, right after showReceived of the same frame: its log line (the line formatted
  // for the display, so the log shows what the pane shows).
  void logReceived(const CanFrame& frame);
  // The Messages menu's counter reset and bus statistics report.
  void ResetMessageCounters();
  void PrintBusStatistics(const int baudrate[2]);
  // Owner thread: counting, display and logging of frames sent from the relay thread.
  void drainForeignTransmissions();
  // Owner thread, at the end of every tick: the "  <TX-error" lines held back during the tick (a
  // cause's first failure is shown at once, later ones of the same cause are counted) are told as
  // one line per cause.
  void endTick();

  // EraseList for the Rx (1) and Tx (2) lists: re-initialised with the configured type.
  void EraseList(int listNumber);

  DisplayState& display() { return display_; }
  FrameList& rxList() { return rxList_; }
  FrameList& txList() { return txList_; }
  BusStatistics& statistics() { return stats_; }
  uint64_t loopbackDropped() const { return loopback_.dropped(); }
  // Relay-thread transmissions whose display and logging were lost (owner thread too slow).
  uint64_t foreignDropped() const;

 private:
  struct Foreign {
    CanFrame frame;
    unsigned options;
    bool ok;
    std::string error;
  };
  struct TxErrorCause {
    std::string text;  // the last-error text
    uint64_t more;     // failures after the first one shown this tick
  };
  // Distinct causes told one by one per tick; failures beyond them are only counted.
  static constexpr size_t kTxErrorCauses = 8;

  bool onOwnerThread() const { return std::this_thread::get_id() == owner_; }
  UcanTxResult sendOnce(CanFrame& frame);
  // Loopback, and the result the caller gets.
  bool finishSend(CanFrame& frame, unsigned options, bool sent);
  void afterTransmit(const CanFrame& frame, unsigned options, bool ok, const std::string& error);
  void noteTxError(const std::string& error);
  void reportTxErrorLine(const std::string& line);
  size_t formatLine(const CanFrame& frame, bool received);
  size_t appendComment(const CanFrame& frame, size_t len, bool received);
  void logFrame(const CanFrame& frame, size_t len, char direction);

  Ucan& ucan_;
  Clock& clock_;
  const CanDisplaySettings& displaySettings_;
  const LoggingSettings& logging_;
  Printer print_, printCan_;
  std::thread::id owner_;
  DisplayState display_;
  FrameList rxList_, txList_;
  BusStatistics stats_;
  FrameRing loopback_{kLoopbackCapacity};
  TrafficLog* log_ = nullptr;
  CommentProvider comments_;
  LineSink lineSink_;
  char line_[kFrameLineCapacity + 4];  // +"\r\n"
  char comment_[kFrameLineCapacity];
  const CanFrame* shownFrame_ = nullptr;  // the frame line_ holds the Rx line of
  size_t shownLength_ = 0;

  mutable std::mutex foreignMutex_;
  std::vector<Foreign> foreign_;
  uint64_t foreignDropped_ = 0;
  uint64_t reportedForeignDropped_ = 0;

  std::vector<TxErrorCause> txErrorCauses_;
  uint64_t txErrorsOtherCauses_ = 0;
};

}  // namespace busprobe
