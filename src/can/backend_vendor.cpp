// Interface types 2 and 4..8: the adapter vendors' driver libraries. None of them can be loaded in
// this build, so UCAN_Init fails with the type's text and every later call says the driver is
// missing. NTCAN's rate and result-code tables live here already; its back-end maps through them.
#include <array>
#include <cstdio>

#include "can/can_backend.h"
#include "can/interface_types.h"

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

struct NtcanResult {
  uint32_t code;
  const char* name;
};
constexpr std::array<NtcanResult, 19> kNtcanResults = {{
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

// What a call into a library that is not there answers.
constexpr uint32_t kNtcanInvalidHandle = 0x00000006;

class VendorBackend final : public CanBackend {
 public:
  VendorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row)
      : CanBackend(host, row.type), caption_(row.caption), notLoadedText_(row.notLoadedText) {}

  int open() override {
    host_.setError("%s", notLoadedText_.c_str());
    return 0;
  }

  int initCtrl(int, int, int) override { return missing("UCAN_InitCtrl"); }
  int setBaudrate(int, int, int) override {
    // The NTCAN wording names GetBaudrate here as well; users know this line.
    return ntcan() ? missingText("UCAN_GetBaudrate: NTCAN not initialized !") : missing("UCAN_SetBaudrate");
  }
  int getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    return missing("UCAN_GetBaudrate");
  }
  int isChannelOpen(int) override { return 0; }
  // Polled on every tick: the missing library was reported by UCAN_Init already.
  uint8_t status(int) override { return 0; }
  int setRcvId(int, uint32_t, uint32_t) override {
    return ntcan() ? missingText("UCAN_SetID: NTCAN not initialized !") : missing("UCAN_SetRcvID");
  }
  int receive(int, CanFrame&) override { return ntcan() ? missing("UCAN_Receive") : 0; }
  int txBusy(int) override {
    if (ntcan()) missing("UCAN_TxBusy");
    return ntcan() ? 0 : 1;
  }
  int transmit(int, CanFrame&) override {
    if (ntcan()) {
      host_.setError("UCAN_Transmit: %s", NtcanErrorText(kNtcanInvalidHandle).c_str());
      return kTransmitRefused;
    }
    missing("UCAN_Transmit");
    return kTransmitRefused;
  }

 private:
  bool ntcan() const { return type() == kIntfNtcan; }
  int missingText(const char* text) {
    host_.setError("%s", text);
    return 0;
  }
  int missing(const char* operation) {
    if (ntcan()) {
      host_.setError("%s: NTCAN not initialized !", operation);
    } else {
      host_.setError("%s: %s not loaded !", operation, caption_.c_str());
    }
    return 0;
  }

  std::string caption_, notLoadedText_;
};

}  // namespace

std::unique_ptr<CanBackend> MakeVendorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row) {
  return std::make_unique<VendorBackend>(host, row);
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
  for (const NtcanResult& r : kNtcanResults) {
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
