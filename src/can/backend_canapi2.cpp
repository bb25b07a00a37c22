#include "can/backend_canapi2.h"

#include <mutex>
#include <string>
#include <vector>

#include "can/peak_status.h"
#include "can/shared_library.h"
#include "can/ucan.h"  // the status bits

namespace busprobe {

namespace {

constexpr uint16_t kNetParamHardware = 19;
constexpr uint16_t kHwParamBtr0Btr1 = 7;
// Results of CAN_Write that mean the frame was not sent.
constexpr uint32_t kWriteFailureBits = 0x1E90;
// A driver clock that steps back this little is jitter between its sources, not a restart.
constexpr uint32_t kDriverTimeJitterMs = 20;
constexpr uint32_t kFilterIds = 2048;

using RegisterClientFn = uint32_t (*)(const char* name, uintptr_t window, uint32_t* client);
using RemoveClientFn = uint32_t (*)(uint32_t client);
using ConnectToNetFn = uint32_t (*)(uint32_t client, const char* netName, uint32_t* net);
using DisconnectFromNetFn = uint32_t (*)(uint32_t client, uint32_t net);
using RegisterMsgFn = uint32_t (*)(uint32_t client, uint32_t net, uint32_t fromId, uint32_t toId,
                                   uint8_t msgType);
using GetParamFn = uint32_t (*)(uint32_t object, uint16_t param, uint32_t* value);
using SetParamFn = uint32_t (*)(uint32_t object, uint16_t param, uint32_t value);
using ResetHardwareFn = uint32_t (*)(uint32_t hardware);
using StatusFn = uint32_t (*)(uint32_t hardware);
using ReadFn = uint32_t (*)(uint32_t client, PeakMessage* msg, uint32_t* receiveTimeMs);
using WriteFn = uint32_t (*)(uint32_t client, uint32_t net, PeakMessage* msg, uint32_t sendTimeMs);
using GetSystemTimeFn = uint32_t (*)(uint32_t* timeMs);
using VersionInfoFn = uint32_t (*)(char* text);

struct Api2EntryPoints {
  RegisterClientFn registerClient = nullptr;
  RemoveClientFn removeClient = nullptr;
  ConnectToNetFn connectToNet = nullptr;
  DisconnectFromNetFn disconnectFromNet = nullptr;
  RegisterMsgFn registerMsg = nullptr;
  GetParamFn getNetParam = nullptr;
  GetParamFn getHwParam = nullptr;
  SetParamFn setHwParam = nullptr;
  ResetHardwareFn resetHardware = nullptr;
  StatusFn status = nullptr;
  ReadFn read = nullptr;
  WriteFn write = nullptr;
  GetSystemTimeFn getSystemTime = nullptr;
  VersionInfoFn versionInfo = nullptr;
};

// A call through an entry point the library lacks answers as a driver that is not there.
template <class Fn, class... Args>
uint32_t Call(Fn fn, Args... args) {
  return fn ? fn(args...) : kPeakNoVxd;
}

// The comma-separated net names; blanks after a comma belong to no name.
std::vector<std::string> NetNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    while (start < list.size() && list[start] == ' ') ++start;
    const size_t comma = list.find(',', start);
    const std::string name =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!name.empty()) names.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

class CanApi2Backend final : public CanBackend {
 public:
  CanApi2Backend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                 std::shared_ptr<CanApi2Session> session)
      : CanBackend(host, row.type),
        libraryNames_(row.libraryNames),
        notLoadedText_(row.notLoadedText),
        session_(std::move(session)) {}
  ~CanApi2Backend() override { close(); }

  int open() override {
    if (!library_.open(libraryNames_)) {
      host_.setError("%s", notLoadedText_.c_str());
      return 0;
    }
    fetchEntryPoints();
    // A client the driver accepts proves it is running; this one only asks.
    uint32_t client = 0;
    if (Call(fn_.registerClient, "TestClient", uintptr_t{0}, &client) != kPeakOk) {
      unload();
      host_.setError("%s", notLoadedText_.c_str());
      return 0;
    }
    Call(fn_.removeClient, client);
    host_.setError("UCAN_Init: Peak's CANAPI2 driver loaded.");
    return 1;
  }

  void close() override {
    if (!library_.isOpen()) return;
    disconnect();
    unload();
  }

  int initCtrl(int, int baudKbit, int) override {
    const int btr = PeakBtr0Btr1(baudKbit);
    if (btr < 0) {
      host_.setError("UCAN_InitCtrl: %s", PeakStatusText(kPeakIllParamVal).c_str());
      return 0;
    }
    if (connected_) disconnectNet();
    if (!clientRegistered_) {
      const uint32_t r = Call(fn_.registerClient, "UCAN_Client", uintptr_t{0}, &client_);
      if (r != kPeakOk) {
        host_.setError("UCAN_InitCtrl: %s", PeakStatusText(r).c_str());
        return 0;
      }
      clientRegistered_ = true;
    }
    const std::string list = host_.params().pcanNetNames.empty() ? "NvkNet" : host_.params().pcanNetNames;
    uint32_t r = kPeakIllNet;
    std::string used;
    for (const std::string& name : NetNames(list)) {
      uint32_t net = 0;
      r = Call(fn_.connectToNet, client_, name.c_str(), &net);
      if (r == kPeakOk) {
        r = Call(fn_.registerMsg, client_, net, 0u, kFilterIds - 1, kPeakMsgStandard);
        if (r == kPeakOk) r = setBtr(net, static_cast<uint32_t>(btr));
        // A net that cannot be used is left again, whatever the next name brings.
        if (r != kPeakOk) Call(fn_.disconnectFromNet, client_, net);
      }
      if (r == kPeakOk) {
        net_ = net;
        used = name;
        break;
      }
      if ((r & kPeakHandleField) != kPeakIllNet) break;
    }
    if (r != kPeakOk) {
      if ((r & kPeakHandleField) != kPeakIllNet) {
        host_.setError("UCAN_InitCtrl: %s", PeakStatusText(r).c_str());
      } else if (!session_->noNetNameReported) {
        session_->noNetNameReported = true;
        host_.setError("InitCtrl: Peak-Error .. No valid net name in \"%s\" ??", list.c_str());
      }
      return 0;
    }
    connected_ = true;
    uint32_t hardware = 0;
    if (Call(fn_.getNetParam, net_, kNetParamHardware, &hardware) == kPeakOk) {
      hardware_ = hardware;
      Call(fn_.resetHardware, hardware_);
    }
    host_.setError("UCAN_InitCtrl: PCAN_open ok, using net name \"%s\" .", used.c_str());
    return 1;
  }

  int setBaudrate(int, int baudKbit, int) override {
    const int btr = PeakBtr0Btr1(baudKbit);
    const uint32_t r = btr < 0       ? kPeakIllParamVal
                       : !connected_ ? kPeakIllNet
                                     : setBtr(net_, static_cast<uint32_t>(btr));
    if (r != kPeakOk) {
      host_.setError("UCAN: SetBaud error : %s", PeakStatusText(r).c_str());
      return 0;
    }
    return 1;
  }

  int getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    uint32_t hardware = 0, btr = 0;
    uint32_t r = connected_ ? Call(fn_.getNetParam, net_, kNetParamHardware, &hardware) : kPeakIllNet;
    if (r == kPeakOk) r = Call(fn_.getHwParam, hardware, kHwParamBtr0Btr1, &btr);
    const int kbit = r == kPeakOk ? PeakBaudFromBtr0Btr1(btr) : -1;
    if (r == kPeakOk && kbit < 0) r = kPeakIllParamVal;
    if (r != kPeakOk) {
      host_.setError("UCAN: GetBaud error : %s", PeakStatusText(r).c_str());
      return 0;
    }
    *baudKbit = kbit;
    return 1;
  }

  int isChannelOpen(int) override {
    char text[256] = {};
    return fn_.versionInfo && fn_.versionInfo(text) == kPeakOk ? 1 : 0;
  }

  uint8_t status(int) override {
    if (!connected_) return 0;
    const uint32_t s = Call(fn_.status, hardware_);
    // The driver knows best whether the bus is off; a transmit error stays until a frame goes out.
    if (!(s & kPeakBusOff)) keptStatus_ &= static_cast<uint8_t>(~kUcanBusOff);
    return static_cast<uint8_t>(PeakStatusToUcan(s) | keptStatus_);
  }

  int setRcvId(int, uint32_t id, uint32_t mask) override {
    uint32_t lowest = kFilterIds, highest = 0;
    for (uint32_t i = 0; i < kFilterIds; ++i) {
      if (((id ^ i) & mask) != 0) continue;
      if (lowest == kFilterIds) lowest = i;
      highest = i;
    }
    // No standard identifier passes: there is no range to ask for.
    const uint32_t r = !connected_ ? kPeakIllNet
                       : lowest == kFilterIds
                           ? kPeakIllParamVal
                           : Call(fn_.registerMsg, client_, net_, lowest, highest, kPeakMsgStandard);
    if (r != kPeakOk) {
      host_.setError("UCAN_SetID Error : %s .", PeakStatusText(r).c_str());
      return 0;
    }
    return 1;
  }

  int receive(int, CanFrame& out) override {
    if (!connected_) return 0;
    if (!fn_.read) {
      // Polled all the time: one word that the driver cannot read is enough.
      if (!readComplained_) host_.setError("UCAN_Receive: %s", PeakStatusText(kPeakNoVxd).c_str());
      readComplained_ = true;
      return 0;
    }
    PeakMessage msg{};
    uint32_t timeMs = 0;
    const uint32_t r = fn_.read(client_, &msg, &timeMs);
    if ((r & kPeakQRcvEmpty) || (r & kPeakHandleField)) return 0;
    if (r & (kPeakNoVxd | kPeakResource | kPeakIllParamType | kPeakIllParamVal)) {
      host_.setError("UCAN_Receive: %s", PeakStatusText(r).c_str());
      return 0;
    }
    if (!PeakMessageToFrame(msg, out)) return 0;
    out.timestamp = timeMs;
    return 1;
  }

  int txBusy(int) override { return 0; }

  int transmit(int, CanFrame& frame) override {
    if (!connected_) {
      host_.setError("UCAN_Transmit: %s", PeakStatusText(kPeakIllNet).c_str());
      return kTransmitRefused;
    }
    if (frame.length > 8) {
      // A classic controller cannot carry it; cutting the payload would send a different frame.
      host_.setError("UCAN_Transmit: CANAPI2 cannot send %d data bytes !", frame.length);
      return kTransmitRefused;
    }
    PeakMessage msg = PeakMessageFromFrame(frame);
    double driverMs = 0;
    frame.timestamp = referenceTimeMs(driverMs) ? static_cast<uint32_t>(driverMs) : host_.clockMsWhole();
    // Time 0: at once.
    const uint32_t r = Call(fn_.write, client_, net_, &msg, 0u);
    if (!(r & kWriteFailureBits)) {
      keptStatus_ &= static_cast<uint8_t>(~kUcanTxError);
      return 1;
    }
    if (r & kPeakQXmtFull) keptStatus_ |= kUcanTxError;
    if (r & kPeakBusOff) keptStatus_ |= kUcanBusOff;
    host_.setError("UCAN_Transmit: %s", PeakStatusText(r).c_str());
    return (r & kPeakNoVxd) ? kTransmitRefused : 0;
  }

  // The driver's clock, which also stamps received frames.
  bool referenceTimeMs(double& out) override {
    std::lock_guard<std::mutex> guard(timeMutex_);
    uint32_t now = 0;
    if (!fn_.getSystemTime || fn_.getSystemTime(&now) != kPeakOk) return false;
    if (haveLastTime_ && now < lastTimeMs_ && lastTimeMs_ - now <= kDriverTimeJitterMs) now = lastTimeMs_;
    lastTimeMs_ = now;
    haveLastTime_ = true;
    out = now;
    return true;
  }

 private:
  void fetchEntryPoints() {
    std::lock_guard<std::mutex> guard(timeMutex_);
    fn_.registerClient = library_.entry<RegisterClientFn>("CAN_RegisterClient");
    fn_.removeClient = library_.entry<RemoveClientFn>("CAN_RemoveClient");
    fn_.connectToNet = library_.entry<ConnectToNetFn>("CAN_ConnectToNet");
    fn_.disconnectFromNet = library_.entry<DisconnectFromNetFn>("CAN_DisconnectFromNet");
    fn_.registerMsg = library_.entry<RegisterMsgFn>("CAN_RegisterMsg");
    fn_.getNetParam = library_.entry<GetParamFn>("CAN_GetNetParam");
    fn_.getHwParam = library_.entry<GetParamFn>("CAN_GetHwParam");
    fn_.setHwParam = library_.entry<SetParamFn>("CAN_SetHwParam");
    fn_.resetHardware = library_.entry<ResetHardwareFn>("CAN_ResetHardware");
    fn_.status = library_.entry<StatusFn>("CAN_Status");
    fn_.read = library_.entry<ReadFn>("CAN_Read");
    fn_.write = library_.entry<WriteFn>("CAN_Write");
    fn_.getSystemTime = library_.entry<GetSystemTimeFn>("CAN_GetSystemTime");
    fn_.versionInfo = library_.entry<VersionInfoFn>("CAN_VersionInfo");
  }

  void unload() {
    {
      std::lock_guard<std::mutex> guard(timeMutex_);
      fn_ = Api2EntryPoints{};
    }
    library_.close();
  }

  uint32_t setBtr(uint32_t net, uint32_t btr) {
    uint32_t hardware = 0;
    uint32_t r = Call(fn_.getNetParam, net, kNetParamHardware, &hardware);
    if (r == kPeakOk) r = Call(fn_.setHwParam, hardware, kHwParamBtr0Btr1, btr);
    return r;
  }

  void disconnectNet() {
    Call(fn_.disconnectFromNet, client_, net_);
    connected_ = false;
  }

  void disconnect() {
    if (connected_) disconnectNet();
    if (clientRegistered_) Call(fn_.removeClient, client_);
    clientRegistered_ = false;
  }

  std::vector<std::string> libraryNames_;
  std::string notLoadedText_;
  std::shared_ptr<CanApi2Session> session_;
  SharedLibrary library_;
  // The clock may be read on another thread; the entry points change under this lock.
  std::mutex timeMutex_;
  Api2EntryPoints fn_;
  uint32_t client_ = 0, net_ = 0, hardware_ = 0;
  bool clientRegistered_ = false, connected_ = false, readComplained_ = false;
  uint8_t keptStatus_ = 0;
  uint32_t lastTimeMs_ = 0;
  bool haveLastTime_ = false;
};

}  // namespace

std::unique_ptr<CanBackend> MakeCanApi2Backend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                                               std::shared_ptr<CanApi2Session> session) {
  if (!session) session = std::make_shared<CanApi2Session>();
  return std::make_unique<CanApi2Backend>(host, row, std::move(session));
}

CanBackendFactory MakeCanApi2Factory(std::shared_ptr<CanApi2Session> session) {
  if (!session) session = std::make_shared<CanApi2Session>();
  return [session](CanBackendHost& host, const CanInterfaceTypeRow& row) {
    return MakeCanApi2Backend(host, row, session);
  };
}

}  // namespace busprobe
