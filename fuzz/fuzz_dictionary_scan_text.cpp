// The scanner window's fields come from the user: any excluded list and any index text must parse
// without crashing, their normalised form must read back as the same slots, and the next-index rule
// must never step backwards or into an excluded range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "canopen/dictionary_scanner.h"

using namespace busprobe;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  DictionaryScanSettings s;
  s.excluded = ParseExcludedRanges(text);
  s.scanFrom = ParseScanIndex(text, 0);
  s.scanTo = 0xFFFF;
  // Every slot empties itself or names an index; the shown form keeps the non-empty ones in order.
  DictionaryScanExclusions again = ParseExcludedRanges(ExcludedRangesText(s.excluded));
  size_t n = 0;
  for (const DictionaryScanRange& r : s.excluded) {
    if (r.empty()) continue;
    const DictionaryScanRange shown = again[n++];
    if (shown.first != r.first || (r.last > r.first && shown.last != r.last)) std::abort();
  }
  // From the start and from either edge of every range: never backwards, never into a range.
  int probes[2 * kDictionaryScanExcludedSlots + 1] = {-1};
  size_t count = 1;
  for (const DictionaryScanRange& r : s.excluded) {
    probes[count++] = r.first - 1;
    probes[count++] = r.last;
  }
  for (size_t i = 0; i < count; ++i) {
    const int next = DictionaryScanner::NextIndex(probes[i], s);
    if (next <= probes[i]) std::abort();
    if (next > 0xFFFF) continue;
    for (const DictionaryScanRange& r : s.excluded)
      if (r.contains(next)) std::abort();
  }
  return 0;
}
