#include "can/backend_pcan_light.h"

#include <string>
#include <vector>

#include "can/peak_status.h"
#include "can/shared_library.h"
#include "can/ucan.h"  // the status bits

namespace busprobe {

namespace {

// Frame types CAN_Init accepts: the probe asks for standard frames only, a controller for both.
constexpr int32_t kInitStandard = 0;
constexpr int32_t kInitExtended = 1;
constexpr uint32_t kProbeBtr0Btr1 = 0x001C;

// Results of CAN_Write that mean the frame was not sent: RESOURCE, NOVXD, QXMTFULL, BUSOFF.
constexpr uint32_t kWriteFailureBits = 0x2290;

using DongleInitFn = uint32_t (*)(uint16_t btr0btr1, int32_t msgType, int32_t hwType, uint32_t ioPort,
                                  uint16_t interrupt);
using UsbInitFn = uint32_t (*)(uint16_t btr0btr1, int32_t msgType);
using CloseFn = uint32_t (*)();
using StatusFn = uint32_t (*)();
using WriteFn = uint32_t (*)(PeakMessage*);
using ReadFn = uint32_t (*)(PeakMessage*);
using VersionInfoFn = uint32_t (*)(char* text);

class PcanLightBackend final : public CanBackend {
 public:
  PcanLightBackend(CanBackendHost& host, const CanInterfaceTypeRow& row, int dongleHardwareType)
      : CanBackend(host, row.type),
        libraryNames_(row.libraryNames),
        notLoadedText_(row.notLoadedText),
        dongle_(row.type == kIntfPcanDongle),
        hardwareType_(dongleHardwareType) {}
  ~PcanLightBackend() override { close(); }

  int open() override {
    const char* dll = dongle_ ? "PCAN_DNG.DLL" : "PCAN_USB.DLL";
    loadFailure_ = std::string("Could not load '") + dll + "' !";
    if (dongle_ && hardwareType_ != 5 && hardwareType_ != 6) {
      host_.setError("%s", notLoadedText_.c_str());
      return 0;
    }
    if (!library_.open(libraryNames_)) {
      host_.setError("%s", notLoadedText_.c_str());
      return 0;
    }
    loadFailure_.clear();
    if (dongle_) {
      dongleInit_ = library_.entry<DongleInitFn>("CAN_Init");
    } else {
      usbInit_ = library_.entry<UsbInitFn>("CAN_Init");
    }
    close_ = library_.entry<CloseFn>("CAN_Close");
    status_ = library_.entry<StatusFn>("CAN_Status");
    write_ = library_.entry<WriteFn>("CAN_Write");
    read_ = library_.entry<ReadFn>("CAN_Read");
    versionInfo_ = library_.entry<VersionInfoFn>("CAN_VersionInfo");
    // The library answers for the hardware only once it was initialised: a round trip tells the
    // driver is there before a controller is opened for real.
    init(kProbeBtr0Btr1, kInitStandard);
    callClose();
    host_.setError(dongle_ ? "UCAN_Init: Loaded PCAN-DONGLE-LIGHT . Use PCAN-API2 if you have !"
                           : "UCAN_Init: Loaded PCAN-USB-LIGHT . Use PCAN-API2 if you have !");
    return 1;
  }

  void close() override {
    if (controllerOpen_) callClose();
    controllerOpen_ = false;
    dongleInit_ = nullptr;
    usbInit_ = nullptr;
    close_ = nullptr;
    status_ = nullptr;
    write_ = nullptr;
    read_ = nullptr;
    versionInfo_ = nullptr;
    library_.close();
  }

  int initCtrl(int, int baudKbit, int) override {
    const int btr = PeakBtr0Btr1(baudKbit);
    const uint32_t r = btr < 0 ? kPeakIllParamVal : init(static_cast<uint16_t>(btr), kInitExtended);
    if (r != kPeakOk) {
      host_.setError("UCAN_InitCtrl: %s", statusText(r).c_str());
      return 0;
    }
    controllerOpen_ = true;
    btr0btr1_ = btr;
    return 1;
  }

  // The library sets the rate only as part of its initialisation.
  int setBaudrate(int, int baudKbit, int) override {
    const int btr = PeakBtr0Btr1(baudKbit);
    const uint32_t r = btr < 0 ? kPeakIllParamVal : init(static_cast<uint16_t>(btr), kInitExtended);
    if (r != kPeakOk) {
      host_.setError("UCAN: SetBaud error : %s", statusText(r).c_str());
      return 0;
    }
    controllerOpen_ = true;
    btr0btr1_ = btr;
    return 1;
  }

  // The library cannot be asked for its rate: what it was last set to is what it runs at.
  int getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    const uint32_t r = !library_.isOpen() ? kPeakNoVxd : !controllerOpen_ ? kPeakIllHw : kPeakOk;
    if (r != kPeakOk) {
      host_.setError("UCAN: GetBaud error : %s", statusText(r).c_str());
      return 0;
    }
    *baudKbit = PeakBaudFromBtr0Btr1(static_cast<uint32_t>(btr0btr1_));
    return 1;
  }

  int isChannelOpen(int) override {
    char text[256] = {};
    return versionInfo_ && versionInfo_(text) == kPeakOk ? 1 : 0;
  }

  uint8_t status(int) override {
    const uint32_t s = status_ ? status_() : kPeakNoVxd;
    // The driver knows best whether the bus is off; a transmit error stays until a frame goes out.
    if (!(s & kPeakBusOff)) keptStatus_ &= static_cast<uint8_t>(~kUcanBusOff);
    return static_cast<uint8_t>(PeakStatusToUcan(s) | keptStatus_);
  }

  int setRcvId(int, uint32_t, uint32_t) override {
    host_.setError("UCAN_SetRcvID: Caution, PCAN-Light does not support ID filtering !");
    return 0;
  }

  int receive(int, CanFrame& out) override {
    if (!read_) {
      // Polled all the time: one word that the driver cannot read is enough.
      if (!readComplained_) host_.setError("UCAN_Receive: %s", statusText(kPeakNoVxd).c_str());
      readComplained_ = true;
      return 0;
    }
    PeakMessage msg{};
    const uint32_t r = read_(&msg);
    if ((r & kPeakQRcvEmpty) || (r & kPeakHandleField)) return 0;
    if (r & (kPeakNoVxd | kPeakResource | kPeakIllParamType | kPeakIllParamVal)) {
      host_.setError("UCAN_Receive: %s", statusText(r).c_str());
      return 0;
    }
    if (!PeakMessageToFrame(msg, out)) return 0;
    out.timestamp = host_.clockMsWhole();
    return 1;
  }

  int txBusy(int) override { return 0; }

  int transmit(int, CanFrame& frame) override {
    if (frame.length > 8) {
      // A classic controller cannot carry it; cutting the payload would send a different frame.
      host_.setError("UCAN_Transmit: PCAN-Light cannot send %d data bytes !", frame.length);
      return kTransmitRefused;
    }
    PeakMessage msg = PeakMessageFromFrame(frame);
    frame.timestamp = host_.clockMsWhole();
    const uint32_t r = write_ ? write_(&msg) : kPeakNoVxd;
    if (!(r & kWriteFailureBits)) {
      keptStatus_ &= static_cast<uint8_t>(~kUcanTxError);
      return 1;
    }
    if (r & kPeakQXmtFull) keptStatus_ |= kUcanTxError;
    if (r & kPeakBusOff) keptStatus_ |= kUcanBusOff;
    host_.setError("UCAN_Transmit: %s", statusText(r).c_str());
    return (r & kPeakNoVxd) ? kTransmitRefused : 0;
  }

 private:
  uint32_t init(uint16_t btr0btr1, int32_t msgType) {
    const CanInterfaceSettings& p = host_.params();
    if (dongle_) {
      return dongleInit_ ? dongleInit_(btr0btr1, msgType, hardwareType_,
                                       static_cast<uint32_t>(p.pcanIoAddress), p.pcanInterrupt)
                         : kPeakNoVxd;
    }
    return usbInit_ ? usbInit_(btr0btr1, msgType) : kPeakNoVxd;
  }
  void callClose() {
    if (close_) close_();
  }
  std::string statusText(uint32_t status) const { return PeakStatusText(status, loadFailure_); }

  std::vector<std::string> libraryNames_;
  std::string notLoadedText_;
  bool dongle_;
  int hardwareType_;
  std::string loadFailure_;
  SharedLibrary library_;
  DongleInitFn dongleInit_ = nullptr;
  UsbInitFn usbInit_ = nullptr;
  CloseFn close_ = nullptr;
  StatusFn status_ = nullptr;
  WriteFn write_ = nullptr;
  ReadFn read_ = nullptr;
  VersionInfoFn versionInfo_ = nullptr;
  bool controllerOpen_ = false;
  bool readComplained_ = false;
  int btr0btr1_ = -1;
  uint8_t keptStatus_ = 0;
};

}  // namespace

std::unique_ptr<CanBackend> MakePcanLightBackend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                                                 int dongleHardwareType) {
  return std::make_unique<PcanLightBackend>(host, row, dongleHardwareType);
}

}  // namespace busprobe
