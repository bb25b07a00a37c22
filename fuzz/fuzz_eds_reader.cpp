// Any bytes as an EDS or a DCF: reading must not fail or leak pool blocks, the dictionary must
// hold only real entries, and what is then written must read back as the same objects.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "canopen/eds_file.h"

using namespace busprobe;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Side {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> od = std::make_unique<ObjectDictionary>(pool);
  EdsFileInfo file;
  EdsDeviceInfo device;
  std::string problem;
};

// Made once: building pools and dictionaries for every input would take most of the time.
Side& FirstSide() {
  static Side side;
  return side;
}
Side& SecondSide() {
  static Side side;
  return side;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool dcf = (data[0] & 0x80) != 0;
  const uint8_t nodeId = data[0] & 0x7F;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  Side& first = FirstSide();
  const bool ok = ReadEdsText(text, dcf, nodeId, first.file, first.device, *first.od, first.problem);
  const int count = first.od->count();
  Check(ok == (count > 0));
  Check(ok || !first.problem.empty());
  for (int i = 0; i < count; ++i) Check(first.od->slot(i).index != 0);
  for (int i = count; i < kOdSlotCount; ++i) Check(first.od->slot(i).index == 0);

  EdsWriteOptions options;
  options.isDcf = dcf;
  options.fileName = "fuzz.eds";
  const std::string fileText = WriteEdsText(first.file, first.device, *first.od, options);

  Side& second = SecondSide();
  ReadEdsText(fileText, dcf, nodeId, second.file, second.device, *second.od, second.problem);
  // The data type area below 0x1000 is not written.
  int written = 0;
  for (int i = 0; i < count; ++i) written += first.od->slot(i).index >= 0x1000 ? 1 : 0;
  Check(second.od->count() == written);
  for (int i = 0; i < count; ++i) {
    const OdEntry& e = first.od->slot(i);
    if (e.index < 0x1000) continue;
    const OdEntry* back = second.od->find(e.index, e.subIndex);
    Check(back != nullptr);
    Check(back->defaultValue.dataType == e.defaultValue.dataType);
    Check((back->access & 0x08) == (e.access & 0x08));
  }
  Check(second.device.baudRates == first.device.baudRates);
  Check(second.device.dummyUsage == first.device.dummyUsage);

  first.od->clear();
  Check(first.pool.freeCount() == kOdBlockCount);
  second.od->clear();
  Check(second.pool.freeCount() == kOdBlockCount);
  return 0;
}
