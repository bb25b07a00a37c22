// Any bytes as a dictionary text file: reading must not fail or leak pool blocks, the dictionary
// must come out sorted, and what is then written must read back as the same entries.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "canopen/dictionary_text.h"

using namespace busprobe;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Made once: building the pool and the dictionaries for every input would take most of the time.
  static OdBlockPool pool;
  static const auto first = std::make_unique<ObjectDictionary>(pool);
  static const auto second = std::make_unique<ObjectDictionary>(pool);
  std::string problem;
  const int count = ReadDictionaryText(text, *first, problem);
  Check(count == first->count());
  Check(count <= kOdSlotCount);
  for (int i = 1; i < count; ++i) {
    const OdEntry& a = first->slot(i - 1);
    const OdEntry& b = first->slot(i);
    Check(a.index < b.index || (a.index == b.index && a.subIndex <= b.subIndex));
  }

  const std::string written = WriteDictionaryText(*first);
  std::string problem2;
  // Both dictionaries share the pool: long texts may not all fit twice, which only empties values.
  Check(ReadDictionaryText(written, *second, problem2) == count);
  for (int i = 0; i < count; ++i) {
    Check(second->slot(i).index == first->slot(i).index);
    Check(second->slot(i).subIndex == first->slot(i).subIndex);
  }
  first->clear();
  second->clear();
  Check(pool.freeCount() == kOdBlockCount);
  return 0;
}
