// Any bytes as a PCAN-View trace of any version, with 2.x columns of the input's choosing.
#include "log_reader_fuzz.h"

namespace {

void ChooseFormat(uint8_t select, std::string_view input, busprobe::LogFormat& format) {
  static constexpr int kVersions[] = {10, 11, 12, 13, 20, 21};
  format.form = busprobe::LogForm::kPcanTrace;
  busprobe::TrcDefaultLayout(kVersions[(select & 0x0F) % 6], format.trc);
  // A 2.x layout of the input's own choosing: its first line as a $COLUMNS value.
  if ((select & 0x08) && format.trc.version >= 20) {
    const std::string_view head = input.substr(0, input.find('\n'));
    busprobe::TrcParseColumns(head, format.trc);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return logfuzz::FuzzLogReader(data, size, ChooseFormat);
}
