// Interface type 7: Kvaser's CANLIB, loaded by file name. The library is usable only with every
// entry point present; one that lacks any is unloaded again and the type stays "not loaded". The
// back-end uses at most two channels (buses 0 and 1 are the library's channels 0 and 1).
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "can/can_backend.h"
#include "can/interface_types.h"
#include "can/shared_library.h"
#include "can/ucan.h"

namespace busprobe {

namespace {

extern "C" {
using CanInitializeLibraryFn = void (*)();
using CanHandleFn = int (*)(int handle);
using CanUnloadLibraryFn = int (*)();
using CanSetBusParamsFn = int (*)(int handle, long freq, unsigned tseg1, unsigned tseg2, unsigned sjw,
                                  unsigned samples, unsigned syncMode);
using CanGetBusParamsFn = int (*)(int handle, long* freq, unsigned* tseg1, unsigned* tseg2, unsigned* sjw,
                                  unsigned* samples, unsigned* syncMode);
using CanSetBusParamsFdFn = int (*)(int handle, long freq, unsigned tseg1, unsigned tseg2, unsigned sjw);
using CanGetBusParamsFdFn = int (*)(int handle, long* freq, unsigned* tseg1, unsigned* tseg2, unsigned* sjw);
using CanSetBusOutputControlFn = int (*)(int handle, unsigned driverType);
using CanSetAcceptanceFilterFn = int (*)(int handle, unsigned code, unsigned mask, int extended);
using CanReadStatusFn = int (*)(int handle, unsigned long* flags);
using CanWriteFn = int (*)(int handle, long id, void* msg, unsigned length, unsigned flags);
using CanWriteWaitFn = int (*)(int handle, long id, void* msg, unsigned length, unsigned flags,
                               unsigned long timeoutMs);
using CanReadFn = int (*)(int handle, long* id, void* msg, unsigned* length, unsigned* flags,
                          unsigned long* time);
using CanGetErrorTextFn = int (*)(int code, char* buf, unsigned size);
using CanGetVersionExFn = unsigned (*)(unsigned item);
using CanIoCtlFn = int (*)(int handle, unsigned item, void* buf, unsigned size);
using CanReadTimerFn = int (*)(int handle, unsigned long* time);
using CanOpenChannelFn = int (*)(int channel, int flags);
using CanGetNumberOfChannelsFn = int (*)(int* count);
using CanGetChannelDataFn = int (*)(int channel, int item, void* buffer, size_t size);
}

// Every entry point the library must have to count as usable, used or not.
constexpr const char* kEntryPoints[] = {
    "canInitializeLibrary",
    "canClose",
    "canUnloadLibrary",
    "canBusOn",
    "canBusOff",
    "canResetBus",
    "canSetBusParams",
    "canGetBusParams",
    "canSetBusParamsFd",
    "canGetBusParamsFd",
    "canSetBusOutputControl",
    "canGetBusOutputControl",
    "canAccept",
    "canSetAcceptanceFilter",
    "canReadStatus",
    "canReadErrorCounters",
    "canWrite",
    "canWriteWait",
    "canWriteSync",
    "canRead",
    "canReadWait",
    "canReadSpecific",
    "canReadSync",
    "canReadSyncSpecific",
    "canReadSpecificSkip",
    "canSetNotify",
    "canTranslateBaud",
    "canGetErrorText",
    "canGetVersion",
    "canGetVersionEx",
    "canIoCtl",
    "canReadTimer",
    "canOpenChannel",
    "canGetNumberOfChannels",
    "canGetChannelData",
};

constexpr int kOk = 0;
constexpr int kErrNoMsg = -2;
constexpr int kErrInvalidHandle = -10;
constexpr int kOpenFlags = 0x20;
constexpr int kOpenFlagsFd = 0x620;
constexpr int kChannelDataName = 13;
constexpr unsigned kIoCtlTxBufferLevel = 9;
// The item that reports whether the channel runs in CAN FD mode.
constexpr unsigned kIoCtlFdMode = 40;
constexpr unsigned kDriverNormal = 4;
constexpr unsigned long kWriteWaitMs = 20;
constexpr int kMaxChannels = 2;
constexpr int kRunningWildNotices = 10;
constexpr double kRunningWildMs = 200.0;

// Message flags.
constexpr unsigned kMsgRtr = 0x01;
constexpr unsigned kMsgStd = 0x02;
constexpr unsigned kMsgExt = 0x04;
constexpr unsigned kMsgErrorFrame = 0x20;
constexpr unsigned kMsgNotDelivered = 0x40;
constexpr unsigned kMsgFdf = 0x10000;
constexpr unsigned kMsgBrs = 0x20000;
constexpr unsigned kMsgEsi = 0x40000;

// Status flags.
constexpr unsigned long kStatBusOff = 0x02;
constexpr unsigned long kStatErrorWarning = 0x04;
constexpr unsigned long kStatTxPending = 0x10;
constexpr unsigned long kStatRxPending = 0x20;
constexpr unsigned long kStatTxError = 0x80;
constexpr unsigned long kStatRxError = 0x100;
constexpr unsigned long kStatOverrun = 0x200 | 0x400;

struct PredefinedRate {
  int kbit;
  long code;
};
constexpr PredefinedRate kNominalCodes[] = {
    {10, -9}, {50, -7}, {83, -8}, {100, -5}, {125, -4}, {250, -3}, {500, -2}, {1000, -1},
};
constexpr PredefinedRate kFdCodes[] = {
    {500, -1000}, {1000, -1001}, {2000, -1002}, {4000, -1003}, {8000, -1004},
};

struct ErrorText {
  int code;
  const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {-18, "Error when initializing DLL"},
    {-17, "DLL seems to be wrong version"},
    {-16, "Can't find requested DLL"},
    {-15, "Some hardware error has occurred"},
    {-14, "Some RESERVED error"},
    {-13, "Transmit buffer overflow"},
    {-12, "CAN driver type not supported"},
    {-11, "Error in the ini-file (16-bit only)"},
    {-10, "Handle is invalid"},
    {-9, "Can't get handle"},
    {-8, "Lib not initialized"},
};

// The rate the library is given: a predefined code, or bit/s with its bit timing.
struct BusParams {
  long freq = 0;
  unsigned tseg1 = 0, tseg2 = 0, sjw = 0, samples = 0;
};

bool PredefinedCode(const PredefinedRate* table, size_t size, int kbit, long& code) {
  for (size_t i = 0; i < size; ++i) {
    if (table[i].kbit == kbit) {
      code = table[i].code;
      return true;
    }
  }
  return false;
}

// Nominal rate in kbit/s -> what canSetBusParams takes; false for a rate the adapter cannot run.
// In FD mode the library knows the nominal rate only by its FD codes.
bool NominalParams(int kbit, bool fdMode, BusParams& out) {
  out = BusParams{};
  if (kbit < 0) {
    out.freq = kbit;
    return true;
  }
  if (fdMode) return PredefinedCode(kFdCodes, std::size(kFdCodes), kbit, out.freq);
  if (PredefinedCode(kNominalCodes, std::size(kNominalCodes), kbit, out.freq)) return true;
  if (kbit == 666 || kbit == 667) {
    out = {666667, 19, 4, 2, 1};
    return true;
  }
  if (kbit == 800) {
    out = {800000, 7, 2, 1, 1};
    return true;
  }
  return false;
}

BusParams FdDataParams(int kbit) {
  BusParams p;
  if (kbit < 0) {
    p.freq = kbit;
  } else if (!PredefinedCode(kFdCodes, std::size(kFdCodes), kbit, p.freq)) {
    p = {static_cast<long>(kbit) * 1000, 15, 4, 4, 0};
  }
  return p;
}

// "ts1=.., ts2=.., sjw=.., tq=.. ns": what the controller really runs, for the bit-timing display.
std::string TimingText(long freq, unsigned tseg1, unsigned tseg2, unsigned sjw, unsigned samples,
                       bool withSamples) {
  const long long quanta = static_cast<long long>(tseg1) + tseg2 + 1;
  const long long tq = freq > 0 ? 1000000000LL / (quanta * freq) : 0;
  char text[96];
  std::snprintf(text, sizeof text, "ts1=%u, ts2=%u, sjw=%u, tq=%lld ns", tseg1, tseg2, sjw, tq);
  std::string result = text;
  if (withSamples && samples != 1) {
    std::snprintf(text, sizeof text, ", nSamp=%u", samples);
    result += text;
  }
  return result;
}

class KvaserBackend final : public CanBackend {
 public:
  KvaserBackend(CanBackendHost& host, const CanInterfaceTypeRow& row)
      : CanBackend(host, row.type), row_(row) {
    for (auto& h : handle_) h = -1;
  }
  ~KvaserBackend() override { close(); }

  int open() override {
    close();
    trace("KVASER_CAN_LoadAndCheckCanLib: trying to load library..");
    if (!lib_.open(row_.libraryNames) || !fetchEntryPoints()) {
      lib_.close();
      host_.setError("%s", row_.notLoadedText.c_str());
      return 0;
    }
    trace("KVASER_CAN_LoadAndCheckCanLib: trying to initialize library..");
    initializeLibrary_();
    int count = 0;
    if (getNumberOfChannels_(&count) != kOk) count = 0;
    channels_ = count < 0 ? 0 : (count > kMaxChannels ? kMaxChannels : count);
    for (int ch = 0; ch < channels_; ++ch) {
      char name[128] = {};
      if (getChannelData_(ch, kChannelDataName, name, sizeof name - 1) == kOk && name[0] != '\0') {
        names_[ch] = name;
      } else {
        names_[ch] = "HorseWithNoName" + std::to_string(ch);
      }
    }
    loaded_ = true;
    {
      std::lock_guard<std::mutex> guard(clockMutex_);
      clockTimer_ = readTimer_;
    }
    trace("KVASER_CAN_LoadAndCheckCanLib: returning, success.");
    host_.setError("UCAN_Init: Loaded %s .", versionText().c_str());
    return 1;
  }

  void close() override {
    if (!lib_.isOpen()) return;
    {
      std::lock_guard<std::mutex> guard(clockMutex_);
      clockTimer_ = nullptr;
    }
    if (loaded_) {
      for (int bus = 0; bus < kMaxChannels; ++bus) closeChannel(bus);
      unloadLibrary_();
    }
    loaded_ = false;
    trace("KVASER_CAN_UnloadDriver: trying to unload library..");
    lib_.close();
    channels_ = 0;
  }

  int initCtrl(int bus, int baudKbit, int fdDataRate) override {
    if (!loaded_) return notLoaded("UCAN_InitCtrl");
    closeChannel(bus);
    const int handle = openChannel_(bus, fdDataRate != 0 ? kOpenFlagsFd : kOpenFlags);
    if (handle < 0) {
      host_.setError("UCAN: Can't open Kvaser Ch %d: %s", bus + 1, errorText(handle).c_str());
      return 0;
    }
    handle_[bus] = handle;
    const double before = host_.localMs();
    noteTimerOffset(bus, before);
    if (!setBaudrate(bus, baudKbit, fdDataRate)) {
      closeChannel(bus);
      return 0;
    }
    setBusOutputControl_(handle, kDriverNormal);
    const int on = busOn_(handle);
    if (on != kOk) {
      host_.setError("UCAN: Can't open Kvaser Ch %d: %s", bus + 1, errorText(on).c_str());
      closeChannel(bus);
      return 0;
    }
    const double after = host_.localMs();
    noteTimerOffset(bus, after);
    const double delta = after - before;
    if ((delta < 0 || delta > kRunningWildMs) && runningWildNotices_ < kRunningWildNotices) {
      ++runningWildNotices_;
      char line[96];
      std::snprintf(line, sizeof line, "Windows QueryPerformanceCounter() is running wild, delta t = %d ms !",
                    static_cast<int>(delta));
      host_.printNotice(line);
    }
    return 1;
  }

  int setBaudrate(int bus, int baudKbit, int fdDataRate) override {
    if (!loaded_) return notLoaded("UCAN_SetBaudrate");
    const int handle = handle_[bus];
    if (handle < 0) {
      host_.setError("UCAN: SetBaud error : %s", "channel not opened");
      return 0;
    }
    BusParams nominal;
    if (!NominalParams(baudKbit, fdDataRate != 0, nominal)) {
      host_.setError("UCAN: Baudrate not supported");
      return 0;
    }
    const int result =
        setBusParams_(handle, nominal.freq, nominal.tseg1, nominal.tseg2, nominal.sjw, nominal.samples, 0);
    if (result != kOk) {
      host_.setError("UCAN: SetBaud error : %s", errorText(result).c_str());
      return 0;
    }
    if (fdDataRate != 0 && baudKbit > 0) {
      const BusParams data = FdDataParams(fdDataRate);
      const int fd = setBusParamsFd_(handle, data.freq, data.tseg1, data.tseg2, data.sjw);
      if (fd != kOk) {
        host_.setError("UCAN: Failed to set 'FD' rate : %s", "failed to set CAN FD bus parameters");
        return 0;
      }
    }
    return 1;
  }

  int getBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string* text) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    if (!loaded_) return notLoaded("UCAN_GetBaudrate");
    const int handle = handle_[bus];
    long freq = 0;
    unsigned tseg1 = 0, tseg2 = 0, sjw = 0, samples = 0, syncMode = 0;
    const int result = handle < 0 ? kErrInvalidHandle
                                  : getBusParams_(handle, &freq, &tseg1, &tseg2, &sjw, &samples, &syncMode);
    if (result != kOk) {
      host_.setError("UCAN: GetBaud error : %s", errorText(result).c_str());
      return 0;
    }
    *baudKbit = static_cast<int>(freq / 1000);
    if (text) *text = TimingText(freq, tseg1, tseg2, sjw, samples, true);
    int fdMode = 0;
    if (ioCtl_(handle, kIoCtlFdMode, &fdMode, sizeof fdMode) == kOk && fdMode != 0) {
      long fdFreq = 0;
      unsigned fdTseg1 = 0, fdTseg2 = 0, fdSjw = 0;
      if (getBusParamsFd_(handle, &fdFreq, &fdTseg1, &fdTseg2, &fdSjw) == kOk) {
        if (fdDataRate) *fdDataRate = static_cast<int>(fdFreq / 1000);
        if (text) *text += "; FD:" + TimingText(fdFreq, fdTseg1, fdTseg2, fdSjw, 1, false);
      }
    }
    return 1;
  }

  int isChannelOpen(int bus) override { return loaded_ && handle_[bus] >= 0 ? 1 : 0; }

  uint8_t status(int bus) override {
    if (!loaded_ || handle_[bus] < 0) return 0;
    unsigned long flags = 0;
    if (readStatus_(handle_[bus], &flags) != kOk) return kUcanOther | txErrorBit_[bus];
    uint8_t status = txErrorBit_[bus];
    if (flags & kStatOverrun) {
      if (flags & kStatTxPending) status |= kUcanTxOvf;
      if (flags & kStatRxPending) status |= kUcanRxOvf;
    }
    if (flags & (kStatErrorWarning | kStatTxError | kStatRxError)) status |= kUcanWarning;
    if (flags & kStatBusOff) status |= kUcanBusOff;
    return status;
  }

  int setRcvId(int bus, uint32_t id, uint32_t mask) override {
    if (!loaded_) return notLoaded("UCAN_SetRcvID");
    if (bus == kAnyBus) return setRcvId(0, id, mask) & setRcvId(1, id, mask);
    const int result = handle_[bus] < 0 ? kErrInvalidHandle : setAcceptanceFilter_(handle_[bus], id, mask, 0);
    if (result != kOk) {
      host_.setError("UCAN_SetID Error : %s .", errorText(result).c_str());
      return 0;
    }
    return 1;
  }

  int receive(int bus, CanFrame& out) override {
    if (!loaded_) return 0;
    if (bus != kAnyBus) return receiveFrom(bus, out);
    for (int b = 0; b < kMaxChannels; ++b) {
      if (receiveFrom(b, out)) return 1;
    }
    return 0;
  }

  int txBusy(int bus) override {
    if (!loaded_ || handle_[bus] < 0) return 1;
    if (host_.driverSlow()) return 0;
    unsigned long flags = 0;
    if (readStatus_(handle_[bus], &flags) != kOk) return 0;
    return (flags & kStatTxPending) ? 1 : 0;
  }

  int transmit(int bus, CanFrame& frame) override {
    if (!loaded_) {
      notLoaded("UCAN_Transmit");
      return kTransmitRefused;
    }
    const int handle = handle_[bus];
    if (handle < 0) {
      host_.setError("KvaserCanTransmit(%d): %s", bus, errorText(kErrInvalidHandle).c_str());
      return kTransmitRefused;
    }
    frame.timestamp = host_.clockMsWhole();
    waitForTransmitBuffer(handle);

    unsigned flags = frame.extended() ? kMsgExt : kMsgStd;
    if (frame.rtr) flags |= kMsgRtr;
    if (frame.fdFlags & CanFrame::kFdf) flags |= kMsgFdf;
    if (frame.fdFlags & CanFrame::kBrs) flags |= kMsgBrs;
    if (frame.fdFlags & CanFrame::kEsi) flags |= kMsgEsi;
    int length = frame.length > 64 ? 64 : frame.length;
    if (!frame.isFd() && length > 8) length = 8;
    length = CanRoundUpFdLength(length);
    const long id = static_cast<long>(frame.extended() ? frame.identifier() : (frame.identifier() & 0x7FF));

    uint8_t data[64] = {};
    std::memcpy(data, frame.data, static_cast<size_t>(length));
    char detail[160];
    int result;
    if (writeWait_) {
      result = writeWait_(handle, id, data, static_cast<unsigned>(length), flags, kWriteWaitMs);
      if (result != kOk) {
        std::snprintf(detail, sizeof detail, "canWriteWait(%ld ms) : %s", static_cast<long>(kWriteWaitMs),
                      errorText(result).c_str());
      }
    } else {
      result = write_(handle, id, data, static_cast<unsigned>(length), flags);
      if (result != kOk) std::snprintf(detail, sizeof detail, "canWrite() : %s", errorText(result).c_str());
    }
    if (result != kOk) {
      host_.setError("KvaserCanTransmit(%d): %s", bus, detail);
      txErrorBit_[bus] = kUcanTxError;
      if (txFailures_[bus] < 0x7FFF) ++txFailures_[bus];
      return 0;
    }
    txErrorBit_[bus] = 0;
    return 1;
  }

  int resetController(int bus) override {
    if (!loaded_ || handle_[bus] < 0) return 0;
    const int result = resetBus_(handle_[bus]);
    noteTimerOffset(bus, host_.localMs());
    if (result != kOk) {
      host_.setError("UCAN: Can't open Kvaser Ch %d: %s", bus + 1, errorText(result).c_str());
      return 0;
    }
    return 1;
  }

  int channelCount() const override { return channels_; }
  std::string channelName(int bus) const override {
    return bus >= 0 && bus < channels_ ? names_[bus] : CanBackend::channelName(bus);
  }

  bool referenceTimeMs(double& out) override {
    // Read on whichever thread reads the UCAN clock: the lock keeps the library loaded meanwhile.
    std::lock_guard<std::mutex> guard(clockMutex_);
    if (!clockTimer_) return false;
    for (int bus = 0; bus < kMaxChannels; ++bus) {
      const int handle = handle_[bus].load();
      unsigned long timer = 0;
      if (handle >= 0 && clockTimer_(handle, &timer) == kOk) {
        out = static_cast<double>(timer) + timerOffsetMs_[bus].load();
        return true;
      }
    }
    return false;
  }

  uint32_t errorFrames(int bus) const override { return bus >= 0 && bus < 2 ? errorFrames_[bus] : 0; }

 private:
  static constexpr int kAnyBus = 255;

  bool fetchEntryPoints() {
    for (const char* name : kEntryPoints) {
      if (!lib_.symbol(name)) return false;
    }
    initializeLibrary_ = lib_.entry<CanInitializeLibraryFn>("canInitializeLibrary");
    close_ = lib_.entry<CanHandleFn>("canClose");
    unloadLibrary_ = lib_.entry<CanUnloadLibraryFn>("canUnloadLibrary");
    busOn_ = lib_.entry<CanHandleFn>("canBusOn");
    resetBus_ = lib_.entry<CanHandleFn>("canResetBus");
    setBusParams_ = lib_.entry<CanSetBusParamsFn>("canSetBusParams");
    getBusParams_ = lib_.entry<CanGetBusParamsFn>("canGetBusParams");
    setBusParamsFd_ = lib_.entry<CanSetBusParamsFdFn>("canSetBusParamsFd");
    getBusParamsFd_ = lib_.entry<CanGetBusParamsFdFn>("canGetBusParamsFd");
    setBusOutputControl_ = lib_.entry<CanSetBusOutputControlFn>("canSetBusOutputControl");
    setAcceptanceFilter_ = lib_.entry<CanSetAcceptanceFilterFn>("canSetAcceptanceFilter");
    readStatus_ = lib_.entry<CanReadStatusFn>("canReadStatus");
    write_ = lib_.entry<CanWriteFn>("canWrite");
    writeWait_ = lib_.entry<CanWriteWaitFn>("canWriteWait");
    read_ = lib_.entry<CanReadFn>("canRead");
    getErrorText_ = lib_.entry<CanGetErrorTextFn>("canGetErrorText");
    getVersionEx_ = lib_.entry<CanGetVersionExFn>("canGetVersionEx");
    ioCtl_ = lib_.entry<CanIoCtlFn>("canIoCtl");
    readTimer_ = lib_.entry<CanReadTimerFn>("canReadTimer");
    openChannel_ = lib_.entry<CanOpenChannelFn>("canOpenChannel");
    getNumberOfChannels_ = lib_.entry<CanGetNumberOfChannelsFn>("canGetNumberOfChannels");
    getChannelData_ = lib_.entry<CanGetChannelDataFn>("canGetChannelData");
    return true;
  }

  std::string versionText() const {
    if (!loaded_) return "CANLIB-API not initialized; can't get version-info";
    if (!getVersionEx_) return "Can't find canGetVersionEx() in the CANLIB API DLL !";
    const unsigned version = getVersionEx_(0);
    const unsigned letter = (version >> 16) & 0xFF;
    char text[64];
    std::snprintf(text, sizeof text, "Kvaser CANLIB32 V%u.%u%c", (version >> 8) & 0xFF, version & 0xFF,
                  letter >= 0x21 && letter < 0x7F ? static_cast<char>(letter) : ' ');
    std::string result = text;
    if (getVersionEx_(3) != 0) result += "BETA";
    return result;
  }

  std::string errorText(int code) const {
    if (getErrorText_) {
      char text[128] = {};
      if (getErrorText_(code, text, sizeof text - 1) >= kOk && text[0] != '\0') {
        text[std::strcspn(text, "\r\n")] = '\0';
        return text;
      }
    }
    for (const ErrorText& e : kErrorTexts) {
      if (e.code == code) return e.text;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Some other strange error code (%d)", code);
    return text;
  }

  void closeChannel(int bus) {
    const int handle = handle_[bus].exchange(-1);
    if (handle >= 0) close_(handle);
  }

  // Frame times are the channel's timer plus this, so they read on the local time base.
  void noteTimerOffset(int bus, double localMs) {
    unsigned long timer = 0;
    if (handle_[bus] >= 0 && readTimer_(handle_[bus], &timer) == kOk) {
      timerOffsetMs_[bus] = localMs - static_cast<double>(timer);
    }
  }

  void waitForTransmitBuffer(int handle) {
    // A driver in trouble is not asked how full its queue is.
    if (host_.driverSlow()) return;
    for (int attempt = 0; attempt < 10; ++attempt) {
      int level = 0;
      if (ioCtl_(handle, kIoCtlTxBufferLevel, &level, sizeof level) != kOk || level <= 199) return;
      host_.sleepMs(10);
    }
  }

  int receiveFrom(int bus, CanFrame& out) {
    const int handle = handle_[bus];
    if (handle < 0) return 0;
    // Error frames and frames not meant for the application are read past, but not forever: a
    // library that answers nothing else must not hold the caller.
    for (int attempt = 0; attempt < 64; ++attempt) {
      long id = 0;
      uint8_t data[64] = {};
      unsigned length = 0, flags = 0;
      unsigned long time = 0;
      const int result = read_(handle, &id, data, &length, &flags, &time);
      if (result == kErrNoMsg) return 0;
      if (result != kOk) {
        host_.setError("UCAN_Receive: %s", errorText(result).c_str());
        return 0;
      }
      if (flags & kMsgErrorFrame) {
        ++errorFrames_[bus];
        continue;
      }
      if (flags & kMsgNotDelivered) continue;

      out.clear();
      const uint32_t raw = static_cast<uint32_t>(id);
      if (flags & kMsgExt) {
        out.id = (raw & CanFrame::kIdMask) | CanFrame::kExtended;
        out.fdFlags |= CanFrame::kKvaserExtended;
      } else {
        out.id = raw & 0x7FF;
      }
      out.setBus(bus);
      if (flags & kMsgRtr) {
        out.rtr = 1;
        out.fdFlags |= CanFrame::kKvaserRemote;
      }
      if (flags & kMsgFdf) out.fdFlags |= CanFrame::kFdf;
      if (flags & kMsgBrs) out.fdFlags |= CanFrame::kBrs;
      if (flags & kMsgEsi) out.fdFlags |= CanFrame::kEsi;
      // A length the frame cannot hold is cut to what it can: 8 for a classic frame, 64 for FD.
      const unsigned limit = out.isFd() ? 64 : 8;
      const unsigned clamped = length > limit ? limit : length;
      out.length = static_cast<uint8_t>(clamped);
      if (!out.rtr) std::memcpy(out.data, data, clamped);
      out.timestamp =
          static_cast<uint32_t>(static_cast<int64_t>(static_cast<double>(time) + timerOffsetMs_[bus].load()));
      return 1;
    }
    return 0;
  }

  int notLoaded(const char* operation) {
    host_.setError("%s: %s not loaded !", operation, row_.caption.c_str());
    return 0;
  }

  void trace(const char* line) {
    if (host_.params().debugFlags & 1) std::fprintf(stderr, "%s\n", line);
  }

  CanInterfaceTypeRow row_;
  SharedLibrary lib_;
  bool loaded_ = false;
  int channels_ = 0;
  std::string names_[kMaxChannels];
  std::atomic<int> handle_[kMaxChannels];
  std::atomic<double> timerOffsetMs_[kMaxChannels] = {0.0, 0.0};
  uint8_t txErrorBit_[kMaxChannels] = {};
  int txFailures_[kMaxChannels] = {};
  uint32_t errorFrames_[kMaxChannels] = {};
  int runningWildNotices_ = 0;
  std::mutex clockMutex_;
  CanReadTimerFn clockTimer_ = nullptr;  // under clockMutex_

  CanInitializeLibraryFn initializeLibrary_ = nullptr;
  CanHandleFn close_ = nullptr, busOn_ = nullptr, resetBus_ = nullptr;
  CanUnloadLibraryFn unloadLibrary_ = nullptr;
  CanSetBusParamsFn setBusParams_ = nullptr;
  CanGetBusParamsFn getBusParams_ = nullptr;
  CanSetBusParamsFdFn setBusParamsFd_ = nullptr;
  CanGetBusParamsFdFn getBusParamsFd_ = nullptr;
  CanSetBusOutputControlFn setBusOutputControl_ = nullptr;
  CanSetAcceptanceFilterFn setAcceptanceFilter_ = nullptr;
  CanReadStatusFn readStatus_ = nullptr;
  CanWriteFn write_ = nullptr;
  CanWriteWaitFn writeWait_ = nullptr;
  CanReadFn read_ = nullptr;
  CanGetErrorTextFn getErrorText_ = nullptr;
  CanGetVersionExFn getVersionEx_ = nullptr;
  CanIoCtlFn ioCtl_ = nullptr;
  CanReadTimerFn readTimer_ = nullptr;
  CanOpenChannelFn openChannel_ = nullptr;
  CanGetNumberOfChannelsFn getNumberOfChannels_ = nullptr;
  CanGetChannelDataFn getChannelData_ = nullptr;
};

}  // namespace

std::unique_ptr<CanBackend> MakeKvaserBackend(CanBackendHost& host, const CanInterfaceTypeRow& row) {
  return std::make_unique<KvaserBackend>(host, row);
}

}  // namespace busprobe
