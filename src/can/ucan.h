// UCAN: the single, driver-independent doorway to the CAN bus. One Ucan object (owned by the
// application) selects a back-end by interface type, keeps per-bus controller state, time-stamps
// frames on one millisecond clock and turns every back-end failure into a one-line text in the
// last-error buffer, which the caller prints and clears. Operations return 1 for success, 0 for
// failure unless said otherwise. Bus index is 0 or 1.
//
// Back-ends come from the interface-type table (interface_types.h): none (0), CAN-via-UDP (1),
// SocketCAN (9), the virtual bus (10), and types the owner registers. The vendor library types
// (2, 4..8) load their drivers' libraries at run time; without one, UCAN_Init fails with the type's
// "not loaded" text.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/message_queue.h"
#include "can/can_backend.h"
#include "can/can_frame.h"
#include "can/cvudp.h"
#include "can/frame_ring.h"
#include "can/interface_settings.h"
#include "can/interface_types.h"
#include "can/virtual_bus.h"

namespace busprobe {

// Status byte bits.
constexpr uint8_t kUcanOther = 0x01;
constexpr uint8_t kUcanRxOvf = 0x02;
constexpr uint8_t kUcanTxOvf = 0x04;
constexpr uint8_t kUcanIrqFail = 0x08;
constexpr uint8_t kUcanTxError = 0x10;
constexpr uint8_t kUcanBusError = 0x20;
constexpr uint8_t kUcanWarning = 0x40;
constexpr uint8_t kUcanBusOff = 0x80;
// "all_ok" for 0, else the names of the set bits separated by blanks ("RX_OVF BUS_OFF ...").
std::string UcanStatusText(uint8_t status);

struct UcanErrorEntry {
  uint32_t timeMs = 0;
  uint8_t status = 0, reg = 0, ext = 0;
  int line = 0;
  char tag[9] = {};  // up to 8 characters: "CAN_INIT" must fit
};

// The result of one transmission attempt. kFailed may clear by itself (a full transmit queue);
// kRefused cannot (a bus index outside the buses, a channel that is not open, a frame the bus can
// never carry), so nobody should wait to try it again.
enum class UcanTxResult { kSent, kFailed, kRefused };

// The UCAN lock: recursive, and it knows how deep its holder holds it, so that the send path can
// tell whether letting go of it for a wait really lets go.
class UcanLock {
 public:
  void lock() {
    mutex_.lock();
    ++depth_;
  }
  bool try_lock() {
    if (!mutex_.try_lock()) return false;
    ++depth_;
    return true;
  }
  void unlock() {
    --depth_;
    mutex_.unlock();
  }
  // How many times the calling thread holds it. Only the holder may ask.
  int depth() const { return depth_; }

 private:
  std::recursive_mutex mutex_;
  int depth_ = 0;  // changed and read only by the holder
};

class Translator;

class Ucan final : public CanBackendHost {
 public:
  Ucan(Clock& clock, DeferredMessageQueue& messages);
  ~Ucan();
  Ucan(const Ucan&) = delete;
  Ucan& operator=(const Ucan&) = delete;

  // --- environment, set by the owner before UCAN_Init
  // The virtual bus joined by type 10 (a private one is created when none is given).
  void setVirtualBus(std::shared_ptr<VirtualBus> bus);
  std::shared_ptr<VirtualBus> virtualBus() override;
  // Every last-error text passes it (null: the texts stay English). Not owned.
  void setTranslator(const Translator* translator);
  // Messages of the convenience layer (CAN-driver category) and "top priority" lines (the slow
  // driver warning); both called on the user-interface thread only.
  void setPrinters(std::function<void(const std::string&)> printCan,
                   std::function<void(const std::string&)> printAlways);
  // The common send path through which a CAN-via-UDP server sends its client's transmit requests.
  void setRelayTransmit(std::function<bool(CanFrame&)> transmit);
  // Lets the owner supply the back-end for any interface type ahead of the table (a null result
  // falls back to the table's). Consulted by UCAN_Init; tests use it for scripted drivers.
  void setBackendFactory(std::function<std::unique_ptr<CanBackend>(int type)> factory);
  // The interface types this Ucan knows; a back-end from another library adds its own type here
  // (or replaces a row) before UCAN_Init selects it.
  const CanInterfaceTable& interfaceTypes() const { return interfaces_; }
  void registerInterfaceType(CanInterfaceTypeRow row);

  // The UCAN lock, held by the common send path around UCAN_Transmit and its bookkeeping.
  UcanLock& lock() { return lock_; }

  // --- operations
  int UCAN_Init(const CanInterfaceSettings& params);
  int UCAN_Exit();
  int UCAN_InitCtrl(int bus, int baudKbit, int fdDataRate);
  int UCAN_SetBaudrate(int bus, int baudKbit, int fdDataRate);
  int UCAN_GetBaudrate(int bus, int* baudKbit, int* fdDataRate = nullptr, std::string* text = nullptr);
  int UCAN_IsChannelOpen(int bus);
  int UCAN_Status(int bus);
  int UCAN_SetRcvID(int bus, uint32_t id, uint32_t mask);
  // Non-blocking; bus 255 = any bus (the index then comes from the id's bus bits).
  int UCAN_Receive(int bus, CanFrame& out);
  int UCAN_TxBusy(int bus);
  int UCAN_Transmit(int bus, CanFrame& frame) {
    return tryTransmit(bus, frame) == UcanTxResult::kSent ? 1 : 0;
  }
  // UCAN_Transmit, telling a failure worth another attempt from one that is not.
  UcanTxResult tryTransmit(int bus, CanFrame& frame);
  // The table's fixed count for the type in use, else what its driver reports.
  int channelCount() const;
  std::string channelName(int bus) const;
  // The loaded driver's hardware configuration tool (see CanBackend::popupHardwareConfig).
  bool popupHardwareConfig() { return backend_ && backend_->popupHardwareConfig(); }
  // The reset-controller helper: restarts the bus's controller, watched like a receive.
  int resetController(int bus);

  // --- the UCAN clock (ms, resynchronised with the back-end at most once per second)
  double clockMs();
  double clockSeconds() { return clockMs() / 1000.0; }
  uint32_t clockMsWhole() override { return static_cast<uint32_t>(static_cast<int64_t>(clockMs())); }

  // --- last error text
  const std::string& lastError() const { return lastError_; }
  void clearLastError() { lastError_.clear(); }
  std::string takeLastError();
  // setError (CanBackendHost) sets the text, translated, unless one is pending already.

  // --- state
  bool ready() const { return ready_; }
  bool controllerInitialised() const { return controllerInitialised_; }
  int interfaceType() const { return params_.interfaceType; }
  const CanInterfaceSettings& params() const override { return params_; }
  int baudrate(int bus) const override;
  int fdDataRate(int bus) const override;
  uint16_t receiveCounter() const { return rxCounter_; }
  uint16_t transmitCounter() const { return txCounter_; }
  uint32_t errorFrameCount(int bus) const;
  // Every frame dropped by a full receive queue of any back-end; never reset, so a watcher can
  // compare it with the count it reported last.
  uint64_t droppedFrames() const { return droppedTotal_; }
  // Datagrams the kernel dropped at the CAN-via-UDP socket (its receive buffer was full; they mark
  // both buses RX_OVF once, as a full receive queue does), and bytes of malformed CAN-via-UDP input
  // discarded. Never reset either, over every endpoint UCAN_Init opened.
  uint64_t cvudpDatagramsLost();
  uint64_t cvudpMalformedBytes();
  bool slowDriver() const { return slowDriver_; }
  CvUdpHub& cvudp() { return *cvudp_; }
  CvUdpEndpoint* cvudpEndpoint() override { return endpoint_; }
  void sleepMs(double ms) override { clock_.sleepMs(ms); }

  // --- CAN error history (ring of 10); the main loop prints and removes entries
  void addErrorHistory(uint8_t status, uint8_t reg, uint8_t ext, int line, const char* tag);
  bool popErrorHistory(UcanErrorEntry& out);

  // --- convenience layer
  int initController(int bus, int baudKbit, int mode, int option, int fdDataRate);
  int setReceiveFilter(int bus, uint32_t id, uint32_t mask);
  int sendFrame(int bus, CanFrame& frame);
  // Pops the receive ring, refilling it from UCAN_Receive(255) when empty.
  int receiveOne(CanFrame& out);
  // Parses "[words] id b0 b1 ..." (hex, optional "0x" or "$") as a simulated reception.
  bool simulateReception(const std::string& line);

 private:
  // What UCAN_Init reports once a CAN-via-UDP endpoint is open.
  struct CvUdpReport {
    bool open = false, client = false;
    uint32_t ip = 0;
    int port = 0;
  };
  void setErrorV(const char* format, va_list args) override;
  void printNotice(const std::string& line) override;
  double localMs() override { return clock_.nowMs(); }
  bool driverSlow() const override { return slowDriver_; }
  // The translation of a format, or the format itself when the translation would consume other
  // arguments than the original.
  const char* translateFormat(const char* format) const;
  void noteDuration(double startMs, const char* what);
  void flushPendingPrints();
  // Both need stateMutex_ held.
  void noteDurationLocked(double startMs, double endMs, const char* what);
  void expireSlowDriverLocked(double nowMs);
  void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::unique_ptr<CanBackend> makeBackend(int type);
  int openCvUdp(CvUdpReport& report);
  void closeCvUdp();
  void collectDropped();
  void updateControllerFlag();
  void printPendingError();
  bool validBus(int bus) const { return bus == 0 || bus == 1; }
  void printCan(const std::string& line);
  bool relayFromServer(CanFrame& frame);

  Clock& clock_;
  DeferredMessageQueue& messages_;
  UcanLock lock_;
  std::unique_ptr<CvUdpHub> cvudp_;
  CvUdpEndpoint* endpoint_ = nullptr;
  std::shared_ptr<VirtualBus> virtualBus_;
  std::unique_ptr<CanBackend> backend_;
  CanInterfaceTable interfaces_;
  std::function<std::unique_ptr<CanBackend>(int)> backendFactory_;
  const Translator* translator_ = nullptr;
  std::function<void(const std::string&)> printCan_, printAlways_;
  std::mutex relayMutex_;
  std::function<bool(CanFrame&)> relayTransmit_;
  std::atomic<bool> relayClosing_{false};
  CanInterfaceSettings params_;
  int loadedType_ = -1;
  bool ready_ = false;
  bool controllerInitialised_ = false;
  struct BusState {
    int baud = 0, mode = 0, fdRate = 0;
    uint32_t filterId = 0, filterMask = 0;
    bool initialised = false;
    bool pendingOverflow = false;
  } bus_[2];
  std::string lastError_;
  uint8_t lastStatus_ = 0;
  uint16_t rxCounter_ = 0, txCounter_ = 0;
  uint64_t droppedTotal_ = 0;
  uint64_t cvudpDatagramsLost_ = 0, cvudpMalformedBytes_ = 0;
  // The clock and the watchdog are read from any thread (a CAN-via-UDP server's relay transmits
  // on its receive thread), everything else runs under the UCAN lock.
  std::mutex stateMutex_;
  std::thread::id ownerThread_;
  double clockOffsetMs_ = 0, lastSyncLocalMs_ = -1e18;
  std::atomic<bool> slowDriver_{false};
  double slowSinceMs_ = 0;
  std::vector<std::string> pendingPrints_;
  // error history
  UcanErrorEntry history_[10];
  int historyHead_ = 0, historyCount_ = 0;
  UcanErrorEntry lastHistory_;
  bool haveLastHistory_ = false;
  // convenience receive ring
  FrameRing receiveRing_{256};
};

}  // namespace busprobe
