#include "traffic/bus_statistics.h"

#include <cstdio>
#include <mutex>

namespace busprobe {

namespace {

struct StatusBit {
  uint8_t bit;
  const char* name;
};
// Report order: the "other" bit, though the lowest, comes last.
constexpr StatusBit kStatusBits[] = {{kUcanRxOvf, " RX_OVF"},      {kUcanTxOvf, " TX_OVF"},
                                     {kUcanIrqFail, " IRQ_FAIL"},  {kUcanTxError, " TX_ERROR"},
                                     {kUcanBusError, " BUSERROR"}, {kUcanWarning, " WARNING"},
                                     {kUcanBusOff, " BUS_OFF"},    {kUcanOther, " other error(s)"}};

std::string StatusNames(uint8_t status, bool plusOther) {
  std::string text;
  for (const StatusBit& b : kStatusBits) {
    if (!(status & b.bit)) continue;
    text += (b.bit == kUcanOther && plusOther) ? " + other error(s)" : b.name;
  }
  return text;
}

}  // namespace

BusStatistics::BusStatistics(Ucan& ucan, Printer print, Printer printCan)
    : ucan_(ucan), print_(std::move(print)), printCan_(std::move(printCan)) {}

int32_t BusStatistics::errorFrames(int bus) const {
  const uint32_t count = ucan_.errorFrameCount(bus & 1);
  // A re-opened interface starts its count again below the base taken at the last reset.
  const uint32_t base = errorBase_[bus & 1];
  return static_cast<int32_t>(count >= base ? count - base : count);
}

void BusStatistics::ReportCanErrors(const int baudrate[2], uint64_t droppedLoopback) {
  UcanErrorEntry e;
  char line[160];
  while (ucan_.popErrorHistory(e)) {
    std::snprintf(line, sizeof line,
                  "CAN-Error-History: ti=%lu, flags=0x%2.2x, reg=0x%2.2x, ext=0x%2.2x, line=%d (%s)",
                  static_cast<unsigned long>(e.timeMs), e.status, e.reg, e.ext, e.line, e.tag);
    print_(line);
  }
  for (int bus = 0; bus < 2; ++bus) {
    if (baudrate[bus] <= 0) continue;
    uint8_t status;
    {
      std::lock_guard<UcanLock> lock(ucan_.lock());
      status = static_cast<uint8_t>(ucan_.UCAN_Status(bus));
      if (!ucan_.lastError().empty()) printCan_(ucan_.takeLastError());
    }
    if (status == lastStatus_[bus].load(std::memory_order_relaxed)) continue;
    lastStatus_[bus].store(status, std::memory_order_relaxed);
    std::snprintf(line, sizeof line,
                  "t=%lu: CAN-Status changed: 0x%4.4x = ", static_cast<unsigned long>(ucan_.clockMsWhole()),
                  status);
    std::string text = line;
    if (status == 0) text += " all_ok";
    text += StatusNames(status, true);
    print_(text);
  }
  // Frames are never lost without a word: full receive queues of the drivers and a full loopback
  // queue are each reported with their running total.
  const uint64_t dropped = ucan_.droppedFrames();
  if (dropped != lastDroppedReported_) {
    std::snprintf(line, sizeof line, "%llu received frames lost so far (receive queue full) !",
                  static_cast<unsigned long long>(dropped));
    printCan_(line);
    lastDroppedReported_ = dropped;
  }
  if (droppedLoopback != lastLoopbackDroppedReported_) {
    std::snprintf(line, sizeof line, "%llu looped-back frames lost so far (loopback queue full) !",
                  static_cast<unsigned long long>(droppedLoopback));
    printCan_(line);
    lastLoopbackDroppedReported_ = droppedLoopback;
  }
  const uint64_t lostDatagrams = ucan_.cvudpDatagramsLost();
  if (lostDatagrams != lastDatagramsLostReported_) {
    std::snprintf(line, sizeof line, "CvUDP: %llu datagrams lost so far (socket receive buffer full) !",
                  static_cast<unsigned long long>(lostDatagrams));
    printCan_(line);
    lastDatagramsLostReported_ = lostDatagrams;
  }
  // A misbehaving peer shows itself by what it makes us throw away.
  const uint64_t malformed = ucan_.cvudpMalformedBytes();
  if (malformed != lastMalformedReported_) {
    std::snprintf(line, sizeof line, "CvUDP: %llu bytes of malformed input discarded",
                  static_cast<unsigned long long>(malformed));
    printCan_(line);
    lastMalformedReported_ = malformed;
  }
}

void BusStatistics::ReportErrorFrames(double nowMs) {
  char line[96];
  for (int bus = 0; bus < 2; ++bus) {
    ErrorFrameWatch& w = errorWatch_[bus];
    const uint32_t count = static_cast<uint32_t>(errorFrames(bus));
    if (count <= w.lastReported) continue;
    // A clock that went backwards must not silence the notice for good.
    if (nowMs - w.lastReportMs <= 1000.0 && nowMs >= w.lastReportMs) continue;
    std::snprintf(line, sizeof line, "t=%lu: ERROR FRAME RECEIVED (#%ld) on CAN%d !",
                  static_cast<unsigned long>(nowMs), static_cast<long>(count), bus + 1);
    print_(line);
    w.lastReported = count;
    w.lastReportMs = nowMs;
  }
}

void BusStatistics::PrintBusStatistics(const int baudrate[2], double nowSeconds) {
  char line[256];
  std::snprintf(line, sizeof line,
                "CAN bus statistics after %.1lf seconds test duration:", nowSeconds - startSeconds_);
  print_(line);
  for (int bus = 0; bus < 2; ++bus) {
    if (baudrate[bus] <= 0) continue;
    uint8_t status;
    {
      std::lock_guard<UcanLock> lock(ucan_.lock());
      status = static_cast<uint8_t>(ucan_.UCAN_Status(bus));
      if (!ucan_.lastError().empty()) printCan_(ucan_.takeLastError());
    }
    std::string text = "CAN" + std::to_string(bus + 1) + ": ";
    if (status != 0) text += StatusNames(status, false) + ", ";
    const long received = received_[bus], sent = sent_[bus], errors = errorFrames(bus);
    std::snprintf(line, sizeof line, "%ld frames received, %ld sent, %ld error frames", received, sent,
                  errors);
    text += line;
    const long total = received + sent;
    if (total > 0 && errors > 0) {
      std::snprintf(line, sizeof line, " (%ld %%)", (errors * 100 + total / 2) / total);
      text += line;
    }
    text += ".";
    print_(text);
  }
}

void BusStatistics::ResetMessageCounters(double nowSeconds) {
  for (int bus = 0; bus < 2; ++bus) {
    received_[bus] = 0;
    sent_[bus] = 0;
    errorBase_[bus] = ucan_.errorFrameCount(bus);
    errorWatch_[bus].lastReported = 0;
  }
  startSeconds_ = nowSeconds;
}

void BusStatistics::resetErrorFrameWatch() {
  for (ErrorFrameWatch& w : errorWatch_) w = ErrorFrameWatch{};
}

}  // namespace busprobe
