#include "can/backend_ntcan.h"

#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

#include "can/shared_library.h"
#include "can/ucan.h"  // the status bits

extern char** environ;

namespace busprobe {

namespace {

struct NtcanBaud {
  int kbit;
  int code;
};
// The first row of a code is what reading the code back reports (666, not 667).
constexpr std::array<NtcanBaud, 15> kNtcanBauds = {{
    {1000, 0},
    {666, 1},
    {667, 1},
    {500, 2},
    {333, 3},
    {250, 4},
    {166, 5},
    {125, 6},
    {100, 7},
    {66, 8},
    {50, 9},
    {33, 10},
    {20, 11},
    {12, 12},
    {10, 13},
}};

struct NtcanResultName {
  uint32_t code;
  const char* name;
};
constexpr std::array<NtcanResultName, 19> kNtcanResults = {{
    {0x00000000, "NTCAN_SUCCESS"},
    {0xE0000001, "NTCAN_RX_TIMEOUT"},
    {0xE0000002, "NTCAN_TX_TIMEOUT"},
    {0xE0000004, "NTCAN_TX_ERROR"},
    {0xE0000005, "NTCAN_CONTR_OFF_BUS"},
    {0xE0000006, "NTCAN_CONTR_BUSY"},
    {0xE0000007, "NTCAN_CONTR_WARN"},
    {0xE0000009, "NTCAN_NO_ID_ENABLED"},
    {0xE000000A, "NTCAN_ID_ALREADY_ENABLED"},
    {0xE000000B, "NTCAN_ID_NOT_ENABLED"},
    {0xE000000D, "NTCAN_INVALID_FIRMWARE"},
    {0xE000000E, "NTCAN_MESSAGE_LOST"},
    {0x00000057, "NTCAN_INVALID_PARAMETER"},
    {0x00000006, "NTCAN_INVALID_HANDLE"},
    {0x000003E4, "NTCAN_IO_INCOMPLETE"},
    {0x000003E5, "NTCAN_IO_PENDING"},
    {0x00000002, "NTCAN_NET_NOT_FOUND"},
    {0xE000000F, "NTCAN_INVALID_HARDWARE"},
    {0x000005AA, "NTCAN_INSUFFICIENT_RESOURCES"},
}};

using NtcanResult = uint32_t;
using NtcanHandle = int32_t;

constexpr NtcanResult kSuccess = 0;
// Also what a call answers whose entry point the library lacks.
constexpr NtcanResult kInvalidHandle = 0x00000006;
constexpr NtcanResult kTxTimeout = 0xE0000002;
constexpr NtcanResult kTxError = 0xE0000004;
constexpr NtcanResult kContrOffBus = 0xE0000005;
constexpr NtcanResult kContrBusy = 0xE0000006;
constexpr NtcanResult kContrWarn = 0xE0000007;
constexpr NtcanResult kInsufficientResources = 0x000005AA;

// The library's message record. The length byte carries the remote-request flag above the length.
struct NtcanMsg {
  int32_t id;
  uint8_t len;
  uint8_t msgLost;
  uint8_t reserved[2];
  uint8_t data[8];
};
constexpr uint8_t kNtcanLenMask = 0x0F;
constexpr uint8_t kNtcanRtr = 0x10;
constexpr uint32_t kNtcanExtended = 0x20000000;

struct NtcanIfStatus {
  uint16_t hardware;
  uint16_t firmware;
  uint16_t driver;
  uint16_t dll;
  uint32_t boardStatus;
  uint8_t boardId[14];
  uint16_t features;
};

using CanOpenFn = NtcanResult (*)(int32_t net, uint32_t flags, int32_t txQueueSize, int32_t rxQueueSize,
                                  int32_t txTimeoutMs, int32_t rxTimeoutMs, NtcanHandle* handle);
using CanCloseFn = NtcanResult (*)(NtcanHandle);
using CanStatusFn = NtcanResult (*)(NtcanHandle, NtcanIfStatus*);
using CanSetBaudrateFn = NtcanResult (*)(NtcanHandle, uint32_t);
using CanGetBaudrateFn = NtcanResult (*)(NtcanHandle, uint32_t*);
using CanIdFn = NtcanResult (*)(NtcanHandle, int32_t);
using CanIdRangeFn = NtcanResult (*)(NtcanHandle, int32_t, int32_t);
using CanTakeFn = NtcanResult (*)(NtcanHandle, NtcanMsg*, int32_t* count);
using CanWriteFn = NtcanResult (*)(NtcanHandle, NtcanMsg*, int32_t* count, void* overlapped);

struct NtcanEntryPoints {
  CanOpenFn canOpen = nullptr;
  CanCloseFn canClose = nullptr;
  CanStatusFn canStatus = nullptr;
  CanSetBaudrateFn canSetBaudrate = nullptr;
  CanGetBaudrateFn canGetBaudrate = nullptr;
  CanIdFn canIdAdd = nullptr;
  CanIdRangeFn canIdRangeDelete = nullptr;
  CanTakeFn canTake = nullptr;
  CanWriteFn canWrite = nullptr;
};

// A call through an entry point the library lacks answers as a call with an invalid handle.
template <class Fn, class... Args>
NtcanResult Call(Fn fn, Args... args) {
  return fn ? fn(args...) : kInvalidHandle;
}

constexpr int kFilterIds = 2048;
constexpr double kResourceRetryMs = 100.0;

class NtcanBackend final : public CanBackend {
 public:
  NtcanBackend(CanBackendHost& host, const CanInterfaceTypeRow& row, std::shared_ptr<NtcanSession> session)
      : CanBackend(host, row.type),
        libraryNames_(row.libraryNames),
        notLoadedText_(row.notLoadedText),
        session_(std::move(session)) {}
  ~NtcanBackend() override { close(); }

  int open() override {
    opened_ = true;
    const CanInterfaceSettings& p = host_.params();
    if (p.ntcanStartPcc && !session_->pccStarted) {
      if (session_->runCommand && session_->runCommand("cpcc start")) {
        session_->pccStarted = true;
      } else {
        host_.setError("UCAN_Init: WinExec(\"cpcc start\") failed.");
      }
    }
    if (!library_.open(libraryNames_)) {
      host_.setError("%s", notLoadedText_.c_str());
      return 0;
    }
    fn_.canOpen = library_.entry<CanOpenFn>("canOpen");
    fn_.canClose = library_.entry<CanCloseFn>("canClose");
    fn_.canStatus = library_.entry<CanStatusFn>("canStatus");
    fn_.canSetBaudrate = library_.entry<CanSetBaudrateFn>("canSetBaudrate");
    fn_.canGetBaudrate = library_.entry<CanGetBaudrateFn>("canGetBaudrate");
    fn_.canIdAdd = library_.entry<CanIdFn>("canIdAdd");
    fn_.canIdRangeDelete = library_.entry<CanIdRangeFn>("canIdRangeDelete");
    fn_.canTake = library_.entry<CanTakeFn>("canTake");
    fn_.canWrite = library_.entry<CanWriteFn>("canWrite");
    if (session_->probed || probe()) return 1;
    // A library that cannot reach its net is not used at all until the next init probes again.
    fn_ = NtcanEntryPoints{};
    library_.close();
    return 0;
  }

  void close() override {
    if (!opened_) return;
    opened_ = false;
    closeHandle();
    fn_ = NtcanEntryPoints{};
    library_.close();
    const CanInterfaceSettings& p = host_.params();
    if (p.ntcanStopPcc && session_->pccStarted) {
      session_->pccStarted = false;
      if (!session_->runCommand || !session_->runCommand("cpcc stop"))
        host_.setError("UCAN_Exit: WinExec(\"cpcc stop\") failed.");
    }
  }

  int initCtrl(int bus, int baudKbit, int fdDataRate) override {
    if (!handleOpen_) {
      NtcanHandle handle = -1;
      const NtcanResult r = Call(fn_.canOpen, host_.params().ntcanNetNumber, 0u, 50, 50, 500, 100, &handle);
      if (r != kSuccess) {
        host_.setError("UCAN_InitCtrl: %s", NtcanErrorText(r).c_str());
        return 0;
      }
      handle_ = handle;
      handleOpen_ = true;
      statusByte_ = 0;
      statusComplained_ = false;
    }
    return setBaudrate(bus, baudKbit, fdDataRate);
  }

  int setBaudrate(int, int baudKbit, int) override {
    // The wording names GetBaudrate here as well; users know this line.
    if (!handleOpen_) return notInitialised("UCAN_GetBaudrate");
    const int code = NtcanBaudCode(baudKbit);
    if (code < 0) {
      host_.setError("UCAN: Baudrate not supported");
      return 0;
    }
    const NtcanResult r = Call(fn_.canSetBaudrate, handle_, static_cast<uint32_t>(code));
    if (r != kSuccess) {
      host_.setError("UCAN_SetBaudrate: %s", NtcanErrorText(r).c_str());
      return 0;
    }
    return 1;
  }

  int getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    if (!handleOpen_) return notInitialised("UCAN_GetBaudrate");
    uint32_t code = 0;
    const NtcanResult r = Call(fn_.canGetBaudrate, handle_, &code);
    if (r != kSuccess) {
      host_.setError("UCAN_GetBaudrate: %s", NtcanErrorText(r).c_str());
      return 0;
    }
    const int kbit = code <= 0xFFFF ? NtcanBaudFromCode(static_cast<int>(code)) : -1;
    if (kbit < 0) {
      host_.setError("UCAN: unknown Baud-Code (0x%04X)", static_cast<unsigned>(code));
      return 0;
    }
    *baudKbit = kbit;
    return 1;
  }

  int isChannelOpen(int) override { return handleOpen_ ? 1 : 0; }

  uint8_t status(int) override {
    if (!handleOpen_) {
      // Polled on every tick: once is enough to know the controller never opened.
      if (library_.isOpen() && !statusComplained_) {
        statusComplained_ = true;
        host_.setError("UCAN_Status: NTCAN not initialized !");
      }
      return 0;
    }
    return statusByte_;
  }

  int setRcvId(int, uint32_t id, uint32_t mask) override {
    if (!handleOpen_) return notInitialised("UCAN_SetID");
    Call(fn_.canIdRangeDelete, handle_, 0, kFilterIds - 1);
    bool failed = false;
    for (uint32_t i = 0; i < kFilterIds; ++i) {
      if (((id ^ i) & mask) != 0) continue;
      NtcanResult r = Call(fn_.canIdAdd, handle_, static_cast<int32_t>(i));
      // The driver runs out of resources when adds come too fast: give it time, and ask once more.
      if (r == kInsufficientResources) {
        host_.sleepMs(kResourceRetryMs);
        r = Call(fn_.canIdAdd, handle_, static_cast<int32_t>(i));
        if (r != kSuccess) failed = true;
      }
    }
    if (failed) {
      host_.setError("UCAN_SetRcvID: Couldn't set CAN-ID.");
      return 0;
    }
    return 1;
  }

  int receive(int, CanFrame& out) override {
    if (!handleOpen_) return notInitialised("UCAN_Receive");
    NtcanMsg msg{};
    int32_t count = 1;
    const NtcanResult r = Call(fn_.canTake, handle_, &msg, &count);
    if (r != kSuccess) {
      host_.setError("UCAN_Receive failed.");
      return 0;
    }
    if (count < 1) return 0;
    out.clear();
    const uint32_t rawId = static_cast<uint32_t>(msg.id);
    // Bits the library has no business setting (the bus bits above the flag) are dropped; a
    // standard identifier keeps its 11 bits.
    if (rawId & kNtcanExtended) {
      out.id = (rawId & CanFrame::kIdMask) | CanFrame::kExtended;
    } else {
      out.id = rawId & 0x7FF;
    }
    out.rtr = (msg.len & kNtcanRtr) ? 1 : 0;
    // The record holds 8 data bytes, whatever length the library claims.
    int length = msg.len & kNtcanLenMask;
    if (length > 8) length = 8;
    out.length = static_cast<uint8_t>(length);
    for (int i = 0; i < length; ++i) out.data[i] = msg.data[i];
    out.timestamp = host_.clockMsWhole();
    return 1;
  }

  int txBusy(int) override {
    if (!handleOpen_) notInitialised("UCAN_TxBusy");
    return 0;
  }

  int transmit(int, CanFrame& frame) override {
    if (!handleOpen_) {
      host_.setError("UCAN_Transmit: %s", NtcanErrorText(kInvalidHandle).c_str());
      return kTransmitRefused;
    }
    if (frame.length > 8) {
      // A classic controller cannot carry it; cutting the payload would send a different frame.
      host_.setError("UCAN_Transmit: NTCAN cannot send %d data bytes !", frame.length);
      return kTransmitRefused;
    }
    NtcanMsg msg{};
    msg.id = static_cast<int32_t>(frame.extended() ? (frame.identifier() | kNtcanExtended)
                                                   : (frame.identifier() & 0x7FF));
    msg.len = static_cast<uint8_t>(frame.length | (frame.rtr ? kNtcanRtr : 0));
    for (int i = 0; i < frame.length; ++i) msg.data[i] = frame.data[i];
    frame.timestamp = host_.clockMsWhole();
    int32_t count = 1;
    NtcanResult r = Call(fn_.canWrite, handle_, &msg, &count, static_cast<void*>(nullptr));
    // A write that returns without taking the frame ran into the transmit timeout.
    if (r == kSuccess && count < 1) r = kTxTimeout;
    if (r == kSuccess) {
      statusByte_ &= static_cast<uint8_t>(~(kUcanBusOff | kUcanTxError | kUcanTxOvf));
      return 1;
    }
    if (r == kTxTimeout || r == kTxError) statusByte_ |= kUcanTxError;
    if (r == kContrOffBus) statusByte_ |= kUcanBusOff;
    if (r == kContrBusy) statusByte_ |= kUcanTxOvf;
    if (r == kContrWarn) statusByte_ |= kUcanWarning;
    host_.setError("UCAN_Transmit: %s", NtcanErrorText(r).c_str());
    return r == kInvalidHandle ? kTransmitRefused : 0;
  }

 private:
  int probe() {
    NtcanHandle handle = -1;
    const NtcanResult r = Call(fn_.canOpen, host_.params().ntcanNetNumber, 0u, 2, 2, 1000, 1000, &handle);
    if (r != kSuccess) {
      host_.setError("%s", NtcanErrorText(r).c_str());
      return 0;
    }
    NtcanIfStatus st{};
    if (Call(fn_.canStatus, handle, &st) == kSuccess) {
      session_->hardwareVersion = st.hardware == 0 ? "Not aplicable" : NtcanVersionText(st.hardware);
      session_->firmwareVersion = NtcanVersionText(st.firmware);
      session_->driverVersion = NtcanVersionText(st.driver);
    }
    Call(fn_.canClose, handle);
    session_->probed = true;
    return 1;
  }

  void closeHandle() {
    if (!handleOpen_) return;
    Call(fn_.canClose, handle_);
    handleOpen_ = false;
    handle_ = -1;
  }

  int notInitialised(const char* operation) {
    host_.setError("%s: NTCAN not initialized !", operation);
    return 0;
  }

  std::vector<std::string> libraryNames_;
  std::string notLoadedText_;
  std::shared_ptr<NtcanSession> session_;
  SharedLibrary library_;
  NtcanEntryPoints fn_;
  NtcanHandle handle_ = -1;
  bool opened_ = false;
  bool handleOpen_ = false;
  bool statusComplained_ = false;
  uint8_t statusByte_ = 0;
};

std::vector<std::string> SplitBlanks(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

}  // namespace

std::unique_ptr<CanBackend> MakeNtcanBackend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                                             std::shared_ptr<NtcanSession> session) {
  if (!session) session = std::make_shared<NtcanSession>();
  return std::make_unique<NtcanBackend>(host, row, std::move(session));
}

CanBackendFactory MakeNtcanFactory(std::shared_ptr<NtcanSession> session) {
  if (!session) session = std::make_shared<NtcanSession>();
  return [session](CanBackendHost& host, const CanInterfaceTypeRow& row) {
    return MakeNtcanBackend(host, row, session);
  };
}

bool RunCommandLine(const std::string& commandLine) {
  std::vector<std::string> words = SplitBlanks(commandLine);
  if (words.empty()) return false;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  // The child is reaped by a thread of its own, so a helper that keeps running never blocks us and
  // never lingers as a zombie once it ends.
  auto ended = std::make_shared<std::promise<int>>();
  std::future<int> status = ended->get_future();
  std::thread([pid, ended] {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    ended->set_value(st);
  }).detach();
  if (status.wait_for(std::chrono::seconds(1)) != std::future_status::ready) return true;
  const int st = status.get();
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

std::string NtcanVersionText(uint16_t version) {
  char text[24];
  std::snprintf(text, sizeof text, "%x.%x.%x", (version >> 12) & 0xF, (version >> 8) & 0xF, version & 0xFF);
  return text;
}

int NtcanBaudCode(int baudKbit) {
  for (const NtcanBaud& b : kNtcanBauds) {
    if (b.kbit == baudKbit) return b.code;
  }
  return -1;
}

int NtcanBaudFromCode(int code) {
  for (const NtcanBaud& b : kNtcanBauds) {
    if (b.code == code) return b.kbit;
  }
  return -1;
}

std::string NtcanErrorText(uint32_t code) {
  const char* name = "NTCAN_UNKNOWN";
  for (const NtcanResultName& r : kNtcanResults) {
    if (r.code == code) {
      name = r.name;
      break;
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s(0x%08lx)", name, static_cast<unsigned long>(code));
  return text;
}

}  // namespace busprobe
