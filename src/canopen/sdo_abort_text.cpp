#include "canopen/sdo_abort_text.h"

namespace busprobe {

namespace {

struct AbortRow {
  uint32_t code;
  std::string_view text;
};

constexpr AbortRow kAbortTexts[] = {
    {0, "unknown/timeout?"},
    {0x05030000, "toggle bit not alternated"},
    {0x05040000, "timeout"},
    {0x05040001, "invalid cmd specifier"},
    {0x05040002, "invalid block size"},
    {0x05040003, "invalid sequence nr"},
    {0x05040004, "CRC error"},
    {0x05040005, "out of memory"},
    {0x06010000, "unsupported access"},
    {0x06010001, "object is WRITE-ONLY"},
    {0x06010002, "object is READ-ONLY"},
    {0x06010047, "incompatible access"},
    {0x06020000, "object doesn't exist"},
    {0x06020010, "object non-existent, invalid service"},
    {0x06040041, "object cannot be mapped"},
    {0x06040042, "PDO length exceeded"},
    {0x06040043, "general parameter incompatibility"},
    {0x06040047, "general internal incompatibility"},
    {0x06060000, "access failed due to hardware error"},
    {0x0606002F, "access failed due to CAN error"},
    {0x06070010, "data types to not match"},
    {0x06070012, "length of parameter too high"},
    {0x06070013, "length of parameter too low"},
    {0x06090011, "subindex does not exist"},
    {0x06090030, "value range exceeded"},
    {0x06090031, "value too high"},
    {0x06090032, "value too low"},
    {0x06090036, "max value less than min value"},
    {0x08000000, "general error"},
    {0x08000020, "data cannot be transferred"},
    {0x08000021, "data cannot be transferred (21)"},
    {0x08000022, "data cannot be transferred (22)"},
    {0x08000023, "could not create OD"},
};

}  // namespace

std::string_view SdoAbortText(uint32_t code) {
  for (const AbortRow& row : kAbortTexts)
    if (row.code == code) return row.text;
  return "unknown abort code";
}

}  // namespace busprobe
