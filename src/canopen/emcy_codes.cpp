#include "canopen/emcy_codes.h"

namespace busprobe {

namespace {

struct EmcyRow {
  uint16_t code;
  std::string_view text;
};

constexpr EmcyRow kEmcyTexts[] = {
    {0x0000, "Cleared errors / no error"},
    {0x1000, "Generic error"},
    {0x2000, "Current"},
    {0x2100, "Input Current"},
    {0x2200, "Internal Current"},
    {0x2300, "Output Current"},
    {0x3000, "Voltage"},
    {0x3100, "Input Voltage"},
    {0x3200, "Internal Voltage"},
    {0x3300, "Output Voltage"},
    {0x4000, "Temperature"},
    {0x4100, "Ambient Temperature"},
    {0x4200, "Internal Temperature"},
    {0x5000, "Device Hardware"},
    {0x6000, "Device Software"},
    {0x6100, "Internal Software"},
    {0x6200, "User Software"},
    {0x6300, "Data Set"},
    {0x7000, "Additional modules"},
    {0x8000, "Monitoring"},
    {0x8100, "Communication"},
    {0x8110, "CAN overrun"},
    {0x8120, "CAN error passive"},
    {0x8130, "Life guard or heartbeat error"},
    {0x8140, "recovered from bus-off"},
    {0x8150, "CAN-ID collision"},
    {0x8200, "Protocol Error"},
    {0x8210, "PDO length error"},
    {0x8220, "PDO length exceeded"},
    {0x8230, "DAM MPDO not processed"},
    {0x8240, "Unexpected SYNC length"},
    {0x8250, "RPDO timeout"},
    {0x9000, "External Error"},
    {0xF000, "Additional function"},
    {0xFF00, "Device specific"},
};

std::string_view ExactText(uint16_t code) {
  for (const EmcyRow& row : kEmcyTexts) {
    if (row.code == code) return row.text;
  }
  return {};
}

}  // namespace

std::string_view EmcyCodeText(uint16_t code) {
  const std::string_view exact = ExactText(code);
  if (!exact.empty()) return exact;
  return ExactText(static_cast<uint16_t>(code & 0xFF00));
}

}  // namespace busprobe
