// Any bytes as a can-utils candump log.
#include "log_reader_fuzz.h"

namespace {

void ChooseFormat(uint8_t select, std::string_view input, busprobe::LogFormat& format) {
  (void)select;
  (void)input;
  format.form = busprobe::LogForm::kCandump;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return logfuzz::FuzzLogReader(data, size, ChooseFormat);
}
