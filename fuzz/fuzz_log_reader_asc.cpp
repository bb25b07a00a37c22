// Any bytes as a Vector ASCII log, in either radix and time-stamp mode.
#include "log_reader_fuzz.h"

namespace {

void ChooseFormat(uint8_t select, std::string_view input, busprobe::LogFormat& format) {
  (void)input;
  format.form = busprobe::LogForm::kVector;
  format.radix = (select & 1) ? 10 : 16;
  format.relativeTimes = (select & 2) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return logfuzz::FuzzLogReader(data, size, ChooseFormat);
}
