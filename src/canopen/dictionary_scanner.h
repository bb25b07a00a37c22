// The dictionary scanner: reads every object of one node within an index range into the remote
// dictionary, subindex by subindex, skipping the excluded ranges. It only decides what to read
// next and keeps the count; the remote browser's pass does the reading, one object a timer step,
// and hands each result back (see DictionaryBrowser::startScan).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace busprobe {

class IniFile;

// One excluded range; a single index is a range of one. A slot of 0 and 0 is empty (that is what
// the configuration holds for a slot nobody filled), so it never excludes index 0.
struct DictionaryScanRange {
  int first = 0;
  int last = 0;
  bool empty() const { return first == 0 && last == 0; }
  bool contains(int index) const;
  bool operator==(const DictionaryScanRange&) const = default;
};

inline constexpr int kDictionaryScanExcludedSlots = 20;
using DictionaryScanExclusions = std::array<DictionaryScanRange, kDictionaryScanExcludedSlots>;

// Section "CANopenODScanner" (the range and the excluded slots, and the option set) plus the node,
// which is the remote browser's and not stored.
struct DictionaryScanSettings {
  static constexpr int kStopOnError = 0x01;

  int nodeId = 1;
  int scanFrom = 0x1000;
  int scanTo = 0x6FFF;
  DictionaryScanExclusions excluded{};
  int options = 0;

  bool stopOnError() const { return (options & kStopOnError) != 0; }
};

void ReadDictionaryScanSettings(const IniFile& ini, DictionaryScanSettings& s);
void WriteDictionaryScanSettings(IniFile& ini, const DictionaryScanSettings& s);

// The excluded list as typed: comma-separated entries, each an index or two joined by '-',
// hexadecimal with or without "0x". Entry n fills slot n; an entry that does not start with a
// hexadecimal digit leaves its slot empty; entries past the 20th are dropped.
DictionaryScanExclusions ParseExcludedRanges(std::string_view text);
// The slots as the window shows them again: "0x%04lX" or "0x%04lX-0x%04lX", joined by ", ".
std::string ExcludedRangesText(const DictionaryScanExclusions& excluded);
// An index field: hexadecimal with or without "0x"; `fallback` when it holds no digit.
int ParseScanIndex(std::string_view text, int fallback);

class DictionaryScanner {
 public:
  static constexpr int kIndexDone = 256;

  // Resets the progress and the counts for a scan with these settings.
  void start(const DictionaryScanSettings& settings);
  const DictionaryScanSettings& settings() const { return settings_; }

  // The object to read next: false when the scan has gone past its last index.
  bool nextObject(uint16_t& index, uint8_t& subIndex);
  // The result of reading what nextObject gave. A failure ends the object; it counts as an access
  // error unless it only says that the object or subindex is not there. Returns false when the
  // scan should end here (an error while "stop on error" is set).
  bool recordResult(bool ok, uint32_t abortCode);

  // The next index after `current` (-1 before the first) by the range and the exclusions; a
  // value above `last` means the scan is over.
  static int NextIndex(int current, const DictionaryScanSettings& settings);
  // Abort codes that only say "not there": the object (0x0602xxxx) or the subindex (0x06090011).
  static bool IsAbsenceCode(uint32_t abortCode);

  int currentIndex() const { return index_; }
  int currentSubIndex() const { return subIndex_; }
  int objectsRead() const { return objectsRead_; }
  int accessErrors() const { return accessErrors_; }

  // "Reading  0x%04lX.%02lX" for the object being read; empty before the first.
  const std::string& progressText() const { return progress_; }
  // "Obj 0x%04lX.%02lX: abort code=0x%08lX=%s" of the last counted error; empty while none.
  const std::string& lastErrorText() const { return lastError_; }
  // "Finished reading OD,  %d objects accessed,  %d access error(s) ."
  std::string finalStatusText() const;

 private:
  DictionaryScanSettings settings_;
  int index_ = -1;
  int subIndex_ = kIndexDone;
  int objectsRead_ = 0;
  int accessErrors_ = 0;
  std::string progress_;
  std::string lastError_;
};

}  // namespace busprobe
