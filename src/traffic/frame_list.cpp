#include "traffic/frame_list.h"

#include <algorithm>
#include <cstring>

namespace busprobe {

namespace {

constexpr size_t kMask = FrameList::kCapacity - 1;
static_assert((FrameList::kCapacity & kMask) == 0, "the list is a ring indexed by mask");

// Appends decimal digits of a signed value; returns the new length (bounded by limit).
size_t AppendNumber(char* text, size_t len, size_t limit, int64_t v) {
  char digits[24];
  int n = 0;
  const bool negative = v < 0;
  uint64_t u = negative ? static_cast<uint64_t>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (negative) digits[n++] = '-';
  while (n > 0 && len < limit) text[len++] = digits[--n];
  return len;
}

size_t AppendText(char* text, size_t len, size_t limit, const char* s) {
  while (*s && len < limit) text[len++] = *s++;
  return len;
}

}  // namespace

void FrameListEntry::setText(std::string_view line) {
  length = static_cast<uint16_t>(std::min(line.size(), kMaxText));
  std::memcpy(text, line.data(), length);
  text[length] = '\0';
}

FrameList::FrameList(int type) : slots_(new FrameListEntry[kCapacity]), type_(type) {}

void FrameList::reset(int type) {
  for (size_t row = 0; row < count_; ++row) at(row).dirty = false;
  type_ = type;
  head_ = 0;
  count_ = 0;
  rebuild_ = true;
  changed_ = true;
  ++modifications_;
  paneRows_ = 0;
  removedFront_ = 0;
  dirtyLo_ = dirtyHi_ = 0;
  descents_ = 0;
}

void FrameList::add(int configuredType, int maxWindowLines, int64_t sortKey, uint32_t timestamp,
                    std::string_view line) {
  if (type_ != configuredType) reset(configuredType);
  if (type_ == kListSorted) {
    addSorted(sortKey, timestamp, line);
  } else {
    addHistory(maxWindowLines, timestamp, line);
  }
  changed_ = true;
  ++modifications_;
}

void FrameList::addHistory(int maxWindowLines, uint32_t timestamp, std::string_view line) {
  if (maxWindowLines < 20 || maxWindowLines > 10000) maxWindowLines = 500;
  // Beyond the list's own capacity the oldest line makes room too, as below it: a long history
  // must keep scrolling, not freeze at its last line.
  const size_t limit = std::min(static_cast<size_t>(maxWindowLines), kCapacity);
  while (count_ >= limit) removeAt(leastRecentlySeen());

  if (count_ > 0 && timestamp < at(count_ - 1).lastTime) ++descents_;
  FrameListEntry& e = at(count_++);
  e.sortKey = 0;
  e.prevTime = 0;
  e.lastTime = timestamp;
  e.frameCount = 1;
  e.setText(line);
  markDirty(count_ - 1);
}

void FrameList::addSorted(int64_t sortKey, uint32_t timestamp, std::string_view line) {
  // Keys are kept in ascending order, so the first entry whose key is not below the new one is
  // found by bisection.
  size_t lo = 0, hi = count_;
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (at(mid).sortKey < sortKey) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == count_ || at(lo).sortKey != sortKey) {
    // Only a new key needs room; a frame of a known key never pushes another one out.
    if (count_ > kSortedEvictAbove) {
      const size_t victim = leastRecentlySeen();
      removeAt(victim);
      if (victim < lo) --lo;
    }
    insertAt(lo);
    at(lo).sortKey = sortKey;
  }
  FrameListEntry& e = at(lo);
  e.prevTime = e.lastTime;
  e.lastTime = timestamp;
  ++e.frameCount;

  constexpr size_t limit = FrameListEntry::kMaxText;
  size_t len = std::min(line.size(), limit);
  std::memcpy(e.text, line.data(), len);
  len = AppendText(e.text, len, limit, " N=");
  len = AppendNumber(e.text, len, limit, e.frameCount);
  len = AppendText(e.text, len, limit, " P=");
  // The period is taken on the 32-bit millisecond clock, so a clock wrap gives the true period.
  len = AppendNumber(e.text, len, limit, static_cast<int32_t>(e.lastTime - e.prevTime));
  e.text[len] = '\0';
  e.length = static_cast<uint16_t>(len);
  markDirty(lo);
}

bool FrameList::descentAt(size_t row) const {
  return row > 0 && row < count_ && entry(row).lastTime < entry(row - 1).lastTime;
}

size_t FrameList::leastRecentlySeen() const {
  if (type_ != kListSorted && descents_ == 0) return 0;
  size_t best = 0;
  for (size_t row = 1; row < count_; ++row)
    if (entry(row).lastTime < entry(best).lastTime) best = row;
  return best;
}

void FrameList::removeAt(size_t row) {
  if (row >= count_) return;
  if (type_ != kListSorted) {
    const bool left = descentAt(row);
    const bool right = descentAt(row + 1);
    const bool joined = row > 0 && row + 1 < count_ && entry(row + 1).lastTime < entry(row - 1).lastTime;
    descents_ = descents_ + (joined ? 1 : 0) - (left ? 1 : 0) - (right ? 1 : 0);
  }
  if (row == 0) {
    at(0).dirty = false;
    head_ = (head_ + 1) & kMask;
    --count_;
    if (paneRows_ > 0) {
      --paneRows_;
      ++removedFront_;
    }
    dirtyLo_ = dirtyLo_ > 0 ? dirtyLo_ - 1 : 0;
    dirtyHi_ = dirtyHi_ > 0 ? dirtyHi_ - 1 : 0;
    return;
  }
  for (size_t i = row; i + 1 < count_; ++i) at(i) = at(i + 1);
  at(count_ - 1).dirty = false;
  --count_;
  markDirtyFrom(row);
}

void FrameList::insertAt(size_t row) {
  for (size_t i = count_; i > row; --i) at(i) = at(i - 1);
  ++count_;
  FrameListEntry& e = at(row);
  e.sortKey = 0;
  e.prevTime = e.lastTime = 0;
  e.frameCount = 0;
  e.length = 0;
  e.text[0] = '\0';
  markDirtyFrom(row);
}

void FrameList::markDirty(size_t row) {
  at(row).dirty = true;
  if (dirtyLo_ >= dirtyHi_) {
    dirtyLo_ = row;
    dirtyHi_ = row + 1;
  } else {
    dirtyLo_ = std::min(dirtyLo_, row);
    dirtyHi_ = std::max(dirtyHi_, row + 1);
  }
}

void FrameList::markDirtyFrom(size_t row) {
  if (row >= count_) return;
  for (size_t i = row; i < count_; ++i) at(i).dirty = true;
  if (dirtyLo_ >= dirtyHi_) {
    dirtyLo_ = row;
    dirtyHi_ = count_;
  } else {
    dirtyLo_ = std::min(dirtyLo_, row);
    dirtyHi_ = std::max(dirtyHi_, count_);
  }
}

void FrameList::takeRefresh(FrameListRefresh& out) {
  out.rows.clear();
  out.count = count_;
  const size_t hi = std::min(dirtyHi_, count_);
  if (rebuild_) {
    out.rebuild = true;
    out.removeFront = out.removeBack = 0;
    out.appendFrom = 0;
  } else {
    out.rebuild = false;
    out.removeFront = removedFront_;
    out.removeBack = paneRows_ > count_ ? paneRows_ - count_ : 0;
    const size_t keep = std::min(paneRows_, count_);
    for (size_t row = dirtyLo_; row < std::min(hi, keep); ++row)
      if (at(row).dirty) out.rows.push_back(row);
    out.appendFrom = keep;
  }
  for (size_t row = dirtyLo_; row < hi; ++row) at(row).dirty = false;
  dirtyLo_ = dirtyHi_ = 0;
  paneRows_ = count_;
  removedFront_ = 0;
  rebuild_ = false;
  changed_ = false;
}

}  // namespace busprobe
