// The adapter vendors' driver library types that have no back-end of their own: UCAN_Init fails
// with the type's text and every later call says the driver is missing.
#include "can/can_backend.h"
#include "can/interface_types.h"

namespace busprobe {

namespace {

class VendorBackend final : public CanBackend {
 public:
  VendorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row)
      : CanBackend(host, row.type), caption_(row.caption), notLoadedText_(row.notLoadedText) {}

  int open() override {
    host_.setError("%s", notLoadedText_.c_str());
    return 0;
  }

  int initCtrl(int, int, int) override { return missing("UCAN_InitCtrl"); }
  int setBaudrate(int, int, int) override { return missing("UCAN_SetBaudrate"); }
  int getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    return missing("UCAN_GetBaudrate");
  }
  int isChannelOpen(int) override { return 0; }
  // Polled on every tick: the missing library was reported by UCAN_Init already.
  uint8_t status(int) override { return 0; }
  int setRcvId(int, uint32_t, uint32_t) override { return missing("UCAN_SetRcvID"); }
  int receive(int, CanFrame&) override { return 0; }
  int txBusy(int) override { return 1; }
  int transmit(int, CanFrame&) override {
    missing("UCAN_Transmit");
    return kTransmitRefused;
  }

 private:
  int missing(const char* operation) {
    host_.setError("%s: %s not loaded !", operation, caption_.c_str());
    return 0;
  }

  std::string caption_, notLoadedText_;
};

}  // namespace

std::unique_ptr<CanBackend> MakeVendorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row) {
  return std::make_unique<VendorBackend>(host, row);
}

}  // namespace busprobe
