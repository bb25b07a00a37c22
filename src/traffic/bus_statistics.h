// Bus statistics: per-bus frame counters (buses 1 and 2; frames relayed with bus index 2 or 3 are
// not counted), the CAN controller status changes and error-history entries reported on every
// tick, the error-frame notice, and the statistics report of the Messages menu. The receive and
// transmit paths count; the application's tick reports; the menu and the interpreter reset.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "can/ucan.h"

namespace busprobe {

class BusStatistics {
 public:
  using Printer = std::function<void(const std::string&)>;

  // print: a plain messages-window line; printCan: a line of the CAN-driver category (the printer
  // adds "CAN: " and honours the category switch).
  BusStatistics(Ucan& ucan, Printer print, Printer printCan);

  void countReceived(int bus) {
    if (bus == 0 || bus == 1) ++received_[bus];
  }
  void countSent(int bus) {
    if (bus == 0 || bus == 1) ++sent_[bus];
  }
  int32_t received(int bus) const { return received_[bus & 1]; }
  int32_t sent(int bus) const { return sent_[bus & 1]; }
  // The "N=" figures above the Rx and Tx panes.
  int32_t receivedTotal() const { return received_[0] + received_[1]; }
  int32_t sentTotal() const { return sent_[0] + sent_[1]; }
  // Error frames since the last reset (the driver's count never goes back).
  int32_t errorFrames(int bus) const;

  // The last status byte reported for the bus; the send path refuses while it shows BUS_OFF or
  // other errors. Read from any thread.
  uint8_t lastStatus(int bus) const { return lastStatus_[bus & 1].load(std::memory_order_relaxed); }

  // Prints the error-history entries, status changes of each bus with a bit rate above 0, frames
  // lost by full receive queues (droppedLoopback: looped-back frames lost so far), CAN-via-UDP
  // datagrams the kernel dropped and bytes of malformed CAN-via-UDP input; each count when it grew.
  void ReportCanErrors(const int baudrate[2], uint64_t droppedLoopback);
  // "t=..: ERROR FRAME RECEIVED" once the error-frame count rose, at most once per second per bus.
  void ReportErrorFrames(double nowMs);
  // "CAN bus statistics after ..." and one line per bus with a bit rate above 0.
  void PrintBusStatistics(const int baudrate[2], double nowSeconds);
  // Counters, error frames and the error-frame notice start again from 0; the statistics period
  // restarts at nowSeconds.
  void ResetMessageCounters(double nowSeconds);
  // Forgets the error-frame notice times (the interface was (re)initialised).
  void resetErrorFrameWatch();
  double startTime() const { return startSeconds_; }

 private:
  Ucan& ucan_;
  Printer print_, printCan_;
  int32_t received_[2] = {0, 0};
  int32_t sent_[2] = {0, 0};
  uint32_t errorBase_[2] = {0, 0};
  struct ErrorFrameWatch {
    uint32_t lastReported = 0;
    double lastReportMs = -1e18;
  } errorWatch_[2];
  std::atomic<uint8_t> lastStatus_[2] = {0, 0};
  uint64_t lastDroppedReported_ = 0;
  uint64_t lastLoopbackDroppedReported_ = 0;
  uint64_t lastDatagramsLostReported_ = 0, lastMalformedReported_ = 0;
  double startSeconds_ = 0;
};

}  // namespace busprobe
