// The object dictionary model: a fixed table of 2048 entries, packed at the front and ended by the
// first slot whose index is 0. Two dictionaries exist, the local one the SDO servers serve and the
// local browser edits, and the remote one the remote browser and the scanner fill; both take their
// long values from one shared OdBlockPool. The dictionary files (od_files.h) load and save them,
// the servers reach the local one through LocalDictionaryAccess (dictionary_access.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "canopen/od_value.h"

namespace busprobe {

inline constexpr int kOdSlotCount = 2048;
inline constexpr int kOdNameSize = 256;
inline constexpr uint8_t kOdObjectVar = 7;
inline constexpr int32_t kOdHighlightAll = 0xFFFF;
inline constexpr int32_t kOdHighlightRedraw = 0x08;  // the bit a browser clears once it redrew a row

struct OdEntry {
  uint16_t index = 0;
  uint8_t subIndex = 0;
  uint8_t objectType = 0;
  uint8_t access = 0;
  OdValue defaultValue;
  OdValue currentValue;
  uint8_t hasDefault = 0;
  uint8_t currentValid = 0;
  char name[kOdNameSize] = {};
  uint8_t display = 0;
  uint8_t markFlags = 0;  // bit 0: marked by the user
  int32_t readCount = 0;
  int32_t writeCount = 0;
  int32_t errorCount = 0;
  uint32_t lastAbortCode = 0;
  int32_t highlight = 0;
  int32_t fileSize = 0;
  // The value texts a dictionary file gave when they name the node ID ("$NODEID+0x180"), with the
  // values they resolved to: saving writes the text again while the value is unchanged, so a
  // file written back still suits every node. Empty for plain values.
  std::string defaultSource;
  uint32_t defaultSourceValue = 0;
  std::string currentSource;
  uint32_t currentSourceValue = 0;

  std::string_view nameView() const;
  // Copies up to 255 characters.
  void setName(std::string_view text);
  // The value readers use: the current one when it is valid.
  const OdValue& valueInUse() const { return currentValid != 0 ? currentValue : defaultValue; }
};

// All zero, then the index, the subindex and object type VAR.
OdEntry NewOdEntry(uint16_t index, uint8_t subIndex);

class ObjectDictionary {
 public:
  explicit ObjectDictionary(OdBlockPool& pool);
  ObjectDictionary(const ObjectDictionary&) = delete;
  ObjectDictionary& operator=(const ObjectDictionary&) = delete;

  OdBlockPool& pool() { return pool_; }

  // Releases the blocks of every entry and zeroes every slot.
  void clear();
  // Slots before the first one whose index is 0.
  int count() const;
  int countIndex(uint16_t index) const;
  // Linear search over all slots, the first match wins; -1 / nullptr when absent. Index 0 is
  // never found: it marks empty slots.
  int findPosition(uint16_t index, uint8_t subIndex) const;
  OdEntry* find(uint16_t index, uint8_t subIndex);
  const OdEntry* find(uint16_t index, uint8_t subIndex) const;

  // Overwrites the entry of the same index and subindex, or appends and re-sorts. Returns the
  // entry's slot, -1 when the dictionary is full or the index is 0. The blocks the overwritten
  // entry held and the new one does not are released.
  int insert(const OdEntry& entry);
  // Appends after the last used slot without sorting (the dictionary files keep their order).
  // -1 when full or the index is 0.
  int append(const OdEntry& entry);
  // Later entries move up one slot; the freed last slot releases its blocks. False past the end.
  bool remove(int position);
  bool copyOut(int position, OdEntry& out) const;
  // Overwrites the entry at a used position, releasing blocks the new entry does not hold.
  bool copyIn(int position, const OdEntry& entry);
  // By index, then subindex, ascending; empty slots go behind every used one. Stable. Slots past
  // the used ones are then zeroed with their blocks released.
  void sort();

  OdEntry& slot(int position) { return slots_[static_cast<std::size_t>(position)]; }
  const OdEntry& slot(int position) const { return slots_[static_cast<std::size_t>(position)]; }

  // The dictionary-changed mark: set by every served access and store, taken by the browser that
  // redraws.
  void markChanged() { changed_ = true; }
  bool changed() const { return changed_; }
  bool takeChanged() {
    const bool was = changed_;
    changed_ = false;
    return was;
  }

 private:
  void releaseBlocks(OdEntry& entry);
  void releaseReplacedBlocks(OdEntry& old, const OdEntry& replacement);

  OdBlockPool& pool_;
  std::vector<OdEntry> slots_;
  bool changed_ = false;
};

}  // namespace busprobe
