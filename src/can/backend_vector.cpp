// Interface type 8: the Vector XL driver library, loaded by file name. Bus 0 and bus 1 each open a
// port on the channel chosen by name (or by the access mask when no channel carries that name).
// The driver's own folders of another platform are not searched here: the row's file names are
// the only attempts, and the trace still says when they failed. An entry point the library lacks
// makes just the calls that need it answer "not loaded".
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "can/can_backend.h"
#include "can/interface_types.h"
#include "can/shared_library.h"
#include "can/ucan.h"

namespace busprobe {

namespace {

struct XlChannelConfig {
  char name[32];
  uint64_t channelMask;
};

struct XlDriverConfig {
  uint32_t dllVersion;
  uint32_t channelCount;
  XlChannelConfig channel[64];
};

struct XlEvent {
  uint8_t tag;
  uint8_t chanIndex;
  uint8_t busStatus;
  uint8_t reserved;
  uint32_t id;
  uint64_t timeStamp;
  uint16_t flags;
  uint16_t dlc;
  uint8_t data[8];
  uint8_t pad[4];
};
static_assert(sizeof(XlEvent) == 32, "the XL event layout");

extern "C" {
using XlVoidFn = int (*)();
using XlGetDriverConfigFn = int (*)(XlDriverConfig* config);
using XlOpenPortFn = int (*)(long* port, const char* user, uint64_t mask, uint64_t* permission,
                             unsigned queue, unsigned version, unsigned busType);
using XlPortFn = int (*)(long port);
using XlPortMaskFn = int (*)(long port, uint64_t mask);
using XlSetBitrateFn = int (*)(long port, uint64_t mask, unsigned long bitrate);
using XlActivateFn = int (*)(long port, uint64_t mask, unsigned busType, unsigned flags);
using XlReceiveFn = int (*)(long port, unsigned* count, XlEvent* event);
using XlTransmitFn = int (*)(long port, uint64_t mask, unsigned* count, void* events);
using XlAcceptanceFn = int (*)(long port, uint64_t mask, unsigned long code, unsigned long idMask,
                               unsigned range);
using XlGetSyncTimeFn = int (*)(long port, uint64_t* time);
using XlGetErrorStringFn = const char* (*)(int status);
using XlPopupHwConfigFn = int (*)(char* callSign, unsigned timeout);
}

constexpr int kSuccess = 0;
constexpr int kQueueEmpty = 10;
constexpr int kOtherError = 255;
constexpr unsigned kBusTypeCan = 1;
constexpr unsigned kInterfaceVersion = 3;
constexpr unsigned kReceiveQueue = 256;
constexpr uint8_t kTagReceived = 1;
constexpr uint8_t kTagChipState = 4;
constexpr uint8_t kTagTransmit = 10;
constexpr uint16_t kFlagErrorFrame = 0x01;
constexpr uint16_t kFlagRemote = 0x10;
constexpr uint16_t kFlagsNotDelivered = 0x40 | 0x80;
constexpr uint32_t kXlExtended = 0x80000000u;
constexpr uint8_t kChipBusOff = 1, kChipPassive = 2, kChipWarning = 4, kChipActive = 8;

struct ErrorText {
  int code;
  const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {0, "success"},
    {1, "pending"},
    {10, "Error: queue is empty"},
    {11, "Error: queue is full"},
    {12, "TX not possible"},
    {14, "no license"},
    {101, "wrong parameter"},
    {110, "twice registered"},
    {111, "invalid channel index"},
    {112, "invalid access"},
    {113, "port is off-line"},
    {116, "port is on-line"},
    {117, "not implemented"},
    {118, "invalid port"},
    {120, "hardware not ready"},
    {121, "command timeout"},
    {129, "hardware not present"},
    {131, "notify already active"},
    {152, "no resources"},
    {153, "wrong chip type"},
    {154, "wrong command"},
    {155, "invalid handle"},
    {201, "cannot open driver"},
    {202, "wrong bus type"},
    {255, "other error (255)"},
};

// kbit/s -> bit/s as the XL driver is given it; 666 and 667 run at 633333 on these adapters.
unsigned long XlBitrate(int kbit) {
  if (kbit == 83) return 83333;
  if (kbit == 666 || kbit == 667) return 633333;
  return static_cast<unsigned long>(kbit) * 1000;
}

class VectorBackend final : public CanBackend {
 public:
  VectorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row)
      : CanBackend(host, row.type), row_(row) {}
  ~VectorBackend() override { close(); }

  int open() override {
    close();
    trace("xlLoadLibrary: trying to load library...\n");
    if (!lib_.open(row_.libraryNames)) {
      trace("xlLoadLibrary: first attempt failed, trying c:\\XL Driver Library ...\n");
      trace("xlLoadLibrary: Failed loading the XL Driver Library (dynamically) !!\n");
      host_.setError("%s", row_.notLoadedText.c_str());
      return 0;
    }
    auto openDriver = lib_.entry<XlVoidFn>("xlOpenDriver");
    trace("xlLoadLibrary: calling xlDllOpenDriver..\n");
    const int status = openDriver ? openDriver() : kOtherError;
    char line[160];
    std::snprintf(line, sizeof line, "xlLoadLibrary returned, stat=\"%s\" .\n", errorText(status).c_str());
    trace(line);
    if (status != kSuccess) {
      lib_.close();
      host_.setError("%s", row_.notLoadedText.c_str());
      return 0;
    }
    driverOpen_ = true;
    {
      std::lock_guard<std::mutex> guard(timeMutex_);
      getSyncTime_ = lib_.entry<XlGetSyncTimeFn>("xlGetSyncTime");
      haveTimeBase_ = false;
    }
    config_ = XlDriverConfig{};
    auto getConfig = lib_.entry<XlGetDriverConfigFn>("xlGetDriverConfig");
    if (!getConfig || getConfig(&config_) != kSuccess) config_ = XlDriverConfig{};
    // A driver claiming more channels than the structure holds is believed only as far as it can be.
    if (config_.channelCount > 64) config_.channelCount = 64;
    for (XlChannelConfig& c : config_.channel) c.name[sizeof c.name - 1] = '\0';
    host_.setError("UCAN_Init: Loaded %s .", versionText().c_str());
    return 1;
  }

  void close() override {
    if (!lib_.isOpen()) return;
    for (int bus = 0; bus < 2; ++bus) closePort(bus);
    if (driverOpen_) {
      if (auto closeDriver = lib_.entry<XlVoidFn>("xlCloseDriver")) closeDriver();
    }
    driverOpen_ = false;
    {
      std::lock_guard<std::mutex> guard(timeMutex_);
      getSyncTime_ = nullptr;
    }
    lib_.close();
  }

  int initCtrl(int bus, int baudKbit, int) override {
    if (!driverOpen_) return notLoaded("UCAN_InitCtrl");
    closePort(bus);
    const uint64_t mask = channelMask();
    auto openPort = lib_.entry<XlOpenPortFn>("xlOpenPort");
    if (!openPort) return notLoaded("UCAN_InitCtrl");
    long port = -1;
    uint64_t permission = mask;
    const int status =
        openPort(&port, "NVK", mask, &permission, kReceiveQueue, kInterfaceVersion, kBusTypeCan);
    if (status != kSuccess || port < 0) {
      host_.setError("UCAN_InitCtrl: %s", errorText(status != kSuccess ? status : kOtherError).c_str());
      return 0;
    }
    Port& p = ports_[bus];
    p = Port{};
    p.handle = port;
    p.mask = mask;
    clockPort_[bus] = port;
    if (!setBaudrate(bus, baudKbit, 0)) {
      closePort(bus);
      return 0;
    }
    return 1;
  }

  int setBaudrate(int bus, int baudKbit, int) override {
    if (!driverOpen_) return notLoaded("UCAN_SetBaudrate");
    Port& p = ports_[bus];
    auto setBitrate = lib_.entry<XlSetBitrateFn>("xlCanSetChannelBitrate");
    if (!setBitrate) return notLoaded("UCAN_SetBaudrate");
    if (p.handle < 0) {
      host_.setError("UCAN: SetBaud error : %s", errorText(118).c_str());
      return 0;
    }
    if (p.active) deactivate(p);
    const int status = setBitrate(p.handle, p.mask, XlBitrate(baudKbit));
    if (status != kSuccess) {
      host_.setError("UCAN: SetBaud error : %s", errorText(status).c_str());
      return 0;
    }
    p.baudKbit = baudKbit;
    return 1;
  }

  int getBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    if (!driverOpen_) return notLoaded("UCAN_GetBaudrate");
    if (ports_[bus].handle < 0) {
      host_.setError("UCAN: GetBaud error : %s", errorText(118).c_str());
      return 0;
    }
    *baudKbit = ports_[bus].baudKbit;
    return 1;
  }

  int isChannelOpen(int bus) override { return ports_[bus].handle >= 0 ? 1 : 0; }
  uint8_t status(int bus) override { return ports_[bus].status; }
  int txBusy(int) override { return 0; }

  int setRcvId(int bus, uint32_t id, uint32_t mask) override {
    if (!driverOpen_) return notLoaded("UCAN_SetRcvID");
    auto acceptance = lib_.entry<XlAcceptanceFn>("xlCanSetChannelAcceptance");
    if (!acceptance) return notLoaded("UCAN_SetRcvID");
    const Port& p = ports_[bus];
    const int status = p.handle < 0 ? 118 : acceptance(p.handle, p.mask, id, mask, 1);
    if (status != kSuccess) {
      host_.setError("UCAN_SetID Error : %s .", errorText(status).c_str());
      return 0;
    }
    return 1;
  }

  int receive(int bus, CanFrame& out) override {
    if (!driverOpen_) return 0;
    if (bus != 255) return receiveFrom(bus, out) == 1 ? 1 : 0;
    for (int b = 0; b < 2; ++b) {
      const int got = receiveFrom(b, out);
      if (got == 1) return 1;
      if (got < 0) return 0;  // a real failure ends the pass
    }
    return 0;
  }

  int transmit(int bus, CanFrame& frame) override {
    if (!driverOpen_) {
      notLoaded("UCAN_Transmit");
      return kTransmitRefused;
    }
    auto transmitFn = lib_.entry<XlTransmitFn>("xlCanTransmit");
    if (!transmitFn) {
      notLoaded("UCAN_Transmit");
      return kTransmitRefused;
    }
    Port& p = ports_[bus];
    if (p.handle < 0) {
      host_.setError("xlCanTransmit: %s", errorText(118).c_str());
      return kTransmitRefused;
    }
    if (!activate(p)) return 0;
    frame.timestamp = host_.clockMsWhole();
    XlEvent event{};
    event.tag = kTagTransmit;
    event.id = frame.extended() ? (frame.identifier() | kXlExtended) : (frame.identifier() & 0x7FF);
    if (frame.rtr) event.flags = kFlagRemote;
    const int length = frame.length > 8 ? 8 : frame.length;
    event.dlc = static_cast<uint16_t>(length);
    std::memcpy(event.data, frame.data, static_cast<size_t>(length));
    unsigned count = 1;
    const int status = transmitFn(p.handle, p.mask, &count, &event);
    if (status != kSuccess) {
      host_.setError("xlCanTransmit: %s", errorText(status).c_str());
      p.status |= kUcanTxError;
      return 0;
    }
    p.status &= static_cast<uint8_t>(~kUcanTxError);
    return 1;
  }

  int resetController(int bus) override {
    if (!driverOpen_) return 0;
    Port& p = ports_[bus];
    if (p.handle < 0) return 0;
    double before = 0, after = 0;
    bool timed;
    {
      std::lock_guard<std::mutex> guard(timeMutex_);
      timed = syncTimeMsLocked(p.handle, before);
    }
    deactivate(p);
    if (auto flush = lib_.entry<XlPortFn>("xlFlushReceiveQueue")) flush(p.handle);
    if (auto flush = lib_.entry<XlPortMaskFn>("xlCanFlushTransmitQueue")) flush(p.handle, p.mask);
    const int ok = activate(p) ? 1 : 0;
    // A driver clock that restarted with the controller must not take the UCAN clock back with it.
    std::lock_guard<std::mutex> guard(timeMutex_);
    if (timed && syncTimeMsLocked(p.handle, after) && after < before) timeBaseMs_ -= before - after;
    return ok;
  }

  bool popupHardwareConfig() override {
    auto popup = lib_.entry<XlPopupHwConfigFn>("xlPopupHwConfig");
    return driverOpen_ && popup && popup(nullptr, 0) == kSuccess;
  }

  // The driver's time, relative to the smallest value seen. Read on whichever thread reads the UCAN
  // clock: only the atomic port copies, the time base under its lock and the library are touched.
  bool referenceTimeMs(double& out) override {
    std::lock_guard<std::mutex> guard(timeMutex_);
    for (const std::atomic<long>& port : clockPort_) {
      const long handle = port.load();
      double ms = 0;
      if (handle >= 0 && syncTimeMsLocked(handle, ms)) {
        if (!haveTimeBase_ || ms < timeBaseMs_) timeBaseMs_ = ms;
        haveTimeBase_ = true;
        out = ms - timeBaseMs_;
        return true;
      }
    }
    return false;
  }

  int channelCount() const override { return static_cast<int>(config_.channelCount); }
  uint32_t errorFrames(int bus) const override { return bus >= 0 && bus < 2 ? ports_[bus].errorFrames : 0; }

 private:
  struct Port {
    long handle = -1;
    uint64_t mask = 0;
    bool active = false;
    bool activationReported = false;
    int baudKbit = 0;
    uint8_t status = 0;
    uint32_t errorFrames = 0;
  };

  std::string versionText() const {
    if (!driverOpen_) return "VXLAPI.DLL not found ?!";
    char text[80];
    std::snprintf(text, sizeof text, "VXLAPI.DLL Vers=0x%08lX Channels=%d",
                  static_cast<unsigned long>(config_.dllVersion), static_cast<int>(config_.channelCount));
    return text;
  }

  std::string errorText(int status) const {
    if (auto getErrorString = lib_.entry<XlGetErrorStringFn>("xlGetErrorString")) {
      if (const char* text = getErrorString(status)) {
        std::string line(text, strnlen(text, 200));
        return line.substr(0, line.find_first_of("\r\n"));
      }
    }
    for (const ErrorText& e : kErrorTexts) {
      if (e.code == status) return e.text;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Some other strange error code (%d)", status);
    return text;
  }

  // The configured channel name wins over the access mask when the driver knows a channel by it.
  uint64_t channelMask() {
    const CanInterfaceSettings& params = host_.params();
    for (uint32_t i = 0; i < config_.channelCount; ++i) {
      if (params.vectorChannelName == config_.channel[i].name) {
        char line[96];
        std::snprintf(line, sizeof line, "Found matching channel name (%s) in xlDriverConfig\n",
                      config_.channel[i].name);
        trace(line);
        return config_.channel[i].channelMask;
      }
    }
    if (config_.channelCount == 0) {
      host_.printNotice("Problem with VXLAPI: xlGetDriverConfig reports NO CHANNELS at all !");
    } else {
      host_.printNotice(
          "Didn't find a matching channel name in Vector's xlDriverConfig. Use one of the following in the "
          "CAN Interface Selection:");
      for (uint32_t i = 0; i < config_.channelCount; ++i) {
        host_.printNotice(std::string("  ") + config_.channel[i].name);
      }
    }
    return static_cast<uint64_t>(static_cast<uint32_t>(params.vectorAccessMask));
  }

  bool activate(Port& p) {
    if (p.active) return true;
    auto activateFn = lib_.entry<XlActivateFn>("xlActivateChannel");
    const int status = activateFn ? activateFn(p.handle, p.mask, kBusTypeCan, 0) : kOtherError;
    if (status == kSuccess) {
      p.active = true;
      return true;
    }
    if (!p.activationReported) {
      p.activationReported = true;
      const std::string text = errorText(status);
      char line[200];
      std::snprintf(line, sizeof line, "xlActivateChannel failed (\"%s\") !\n", text.c_str());
      trace(line);
      host_.setError("VECTOR:xlActivateChannel failed, %s", text.c_str());
    }
    return false;
  }

  void deactivate(Port& p) {
    if (auto deactivateFn = lib_.entry<XlPortMaskFn>("xlDeactivateChannel")) deactivateFn(p.handle, p.mask);
    p.active = false;
  }

  void closePort(int bus) {
    Port& p = ports_[bus];
    if (p.handle < 0) return;
    deactivate(p);
    clockPort_[bus] = -1;
    if (auto closeFn = lib_.entry<XlPortFn>("xlClosePort")) closeFn(p.handle);
    p = Port{};
  }

  // 1 with a frame, 0 when the queue is empty (or the port closed), -1 on a failure.
  int receiveFrom(int bus, CanFrame& out) {
    Port& p = ports_[bus];
    if (p.handle < 0) return 0;
    auto receiveFn = lib_.entry<XlReceiveFn>("xlReceive");
    if (!receiveFn) return 0;
    if (!activate(p)) return -1;
    // Chip states and frames not for the application are read past, a bounded number of them.
    for (int attempt = 0; attempt < 64; ++attempt) {
      XlEvent event{};
      unsigned count = 1;
      const int status = receiveFn(p.handle, &count, &event);
      if (status == kQueueEmpty || status == kOtherError) return 0;
      if (status != kSuccess) {
        host_.setError("UCAN_Receive: %s", errorText(status).c_str());
        return -1;
      }
      if (event.tag == kTagChipState) {
        noteChipState(p, event.busStatus);
        continue;
      }
      if (event.tag != kTagReceived) continue;
      if (event.flags & kFlagErrorFrame) {
        ++p.errorFrames;
        continue;
      }
      if (event.flags & kFlagsNotDelivered) continue;
      out.clear();
      if (event.id & kXlExtended) {
        out.id = (event.id & CanFrame::kIdMask) | CanFrame::kExtended;
      } else {
        out.id = event.id & 0x7FF;
      }
      out.setBus(bus);
      out.rtr = (event.flags & kFlagRemote) ? 1 : 0;
      out.length = static_cast<uint8_t>(event.dlc > 8 ? 8 : event.dlc);
      if (!out.rtr) std::memcpy(out.data, event.data, out.length);
      out.timestamp = eventTimeMs(event.timeStamp);
      return 1;
    }
    return 0;
  }

  static void noteChipState(Port& p, uint8_t busStatus) {
    if (busStatus & kChipBusOff) p.status |= kUcanBusOff;
    if (busStatus & kChipWarning) {
      p.status |= kUcanWarning;
    } else {
      p.status &= static_cast<uint8_t>(~kUcanWarning);
    }
    if (busStatus & kChipPassive) p.status |= kUcanBusError;
    if (busStatus & kChipActive) p.status &= static_cast<uint8_t>(~(kUcanBusOff | kUcanBusError));
  }

  // Needs timeMutex_: the library is not unloaded while it is held.
  bool syncTimeMsLocked(long handle, double& ms) {
    uint64_t ns = 0;
    if (!getSyncTime_ || getSyncTime_(handle, &ns) != kSuccess) return false;
    ms = static_cast<double>(ns / 1000000u);
    return true;
  }

  // Event times on the same base as the driver time the UCAN clock follows.
  uint32_t eventTimeMs(uint64_t ns) {
    double ms = static_cast<double>(ns / 1000000u);
    std::lock_guard<std::mutex> guard(timeMutex_);
    if (haveTimeBase_) ms -= timeBaseMs_;
    return ms < 0 ? 0u : static_cast<uint32_t>(static_cast<uint64_t>(ms));
  }

  int notLoaded(const char* operation) {
    host_.setError("%s: %s not loaded !", operation, row_.caption.c_str());
    return 0;
  }

  void trace(const char* line) {
    if (host_.params().debugFlags & 1) std::fputs(line, stderr);
  }

  CanInterfaceTypeRow row_;
  SharedLibrary lib_;
  bool driverOpen_ = false;
  XlDriverConfig config_{};
  Port ports_[2];
  std::atomic<long> clockPort_[2] = {-1, -1};
  std::mutex timeMutex_;
  XlGetSyncTimeFn getSyncTime_ = nullptr;
  bool haveTimeBase_ = false;
  double timeBaseMs_ = 0;
};

}  // namespace

std::unique_ptr<CanBackend> MakeVectorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row) {
  return std::make_unique<VectorBackend>(host, row);
}

}  // namespace busprobe
