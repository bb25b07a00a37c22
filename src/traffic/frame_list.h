// The list behind the Rx pane and the one behind the Tx pane. A history list is a scrolling record
// of the newest lines (at most MaxWindowLines, at most 4096); a sorted list holds one line per
// identifier, direction and remote flag, in key order, with a frame counter "N=" and the period
// "P=" between its last two frames. The traffic paths add lines; the pane pulls what changed
// since its last refresh with takeRefresh(), so it only ever writes changed rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace busprobe {

enum FrameListType : int { kListHistory = 0, kListSorted = 1 };

struct FrameListEntry {
  static constexpr size_t kMaxText = 239;

  int64_t sortKey = 0;  // 0 in history lists
  uint32_t prevTime = 0, lastTime = 0;
  uint32_t frameCount = 0;
  bool dirty = false;  // changed since the last refresh
  uint16_t length = 0;
  char text[kMaxText + 1] = {};

  std::string_view view() const { return std::string_view(text, length); }
  void setText(std::string_view line);
};

// What a pane must do, in this order, to show the list as it is now, given that it applied every
// earlier refresh. Rows are indices into the list (after the removals they are the pane's too).
struct FrameListRefresh {
  bool rebuild = false;      // clear the pane and write every entry; the other fields are then 0
  size_t removeFront = 0;    // delete this many rows from the top
  size_t removeBack = 0;     // then this many from the bottom
  std::vector<size_t> rows;  // then replace these rows (ascending)
  size_t appendFrom = 0;     // then append the entries [appendFrom, count)
  size_t count = 0;          // entries in the list now
};

class FrameList {
 public:
  static constexpr size_t kCapacity = 4096;
  // A sorted list evicts its least recently seen entry before a new key would take it past this.
  static constexpr size_t kSortedEvictAbove = 4094;

  explicit FrameList(int type = kListHistory);
  FrameList(const FrameList&) = delete;
  FrameList& operator=(const FrameList&) = delete;

  // AddLineToList: configuredType is RxListType or TxListType; a list built for another type is
  // re-initialised first. maxWindowLines outside 20..10000 counts as 500 (history lists only).
  void add(int configuredType, int maxWindowLines, int64_t sortKey, uint32_t timestamp,
           std::string_view line);
  // EraseList: empties the list, builds it for the given type and asks the pane for a rebuild.
  void reset(int type);

  int type() const { return type_; }
  size_t count() const { return count_; }
  // Row 0 is the top line of the pane.
  const FrameListEntry& entry(size_t row) const { return slots_[(head_ + row) & (kCapacity - 1)]; }
  bool changed() const { return changed_; }
  // Rises with every added line and every reset: tells whether the list changed since a moment.
  uint64_t modifications() const { return modifications_; }
  bool rebuildPending() const { return rebuild_; }

  // Fills out with what changed since the last call, clears the dirty marks and the changed flag.
  void takeRefresh(FrameListRefresh& out);

 private:
  FrameListEntry& at(size_t row) { return slots_[(head_ + row) & (kCapacity - 1)]; }
  void addHistory(int maxWindowLines, uint32_t timestamp, std::string_view line);
  void addSorted(int64_t sortKey, uint32_t timestamp, std::string_view line);
  void removeAt(size_t row);
  void insertAt(size_t row);
  size_t leastRecentlySeen() const;
  void markDirty(size_t row);
  void markDirtyFrom(size_t row);
  bool descentAt(size_t row) const;  // entry row was seen before entry row - 1

  std::unique_ptr<FrameListEntry[]> slots_;
  int type_;
  size_t head_ = 0;  // slot of row 0
  size_t count_ = 0;
  bool rebuild_ = true;
  bool changed_ = false;
  uint64_t modifications_ = 0;
  // Rows the pane holds, as of the last refresh less the rows removed from its top since.
  size_t paneRows_ = 0;
  size_t removedFront_ = 0;
  // Dirty rows lie within [dirtyLo_, dirtyHi_); empty when dirtyLo_ >= dirtyHi_.
  size_t dirtyLo_ = 0, dirtyHi_ = 0;
  // Adjacent pairs whose later row was seen before the earlier one; while 0, the least recently
  // seen entry of a history list is its top row and eviction needs no search.
  size_t descents_ = 0;
};

}  // namespace busprobe
