#include "canopen/object_dictionary.h"

#include <algorithm>
#include <cstring>

namespace busprobe {

namespace {

bool EntryOrder(const OdEntry& a, const OdEntry& b) {
  if ((a.index == 0) != (b.index == 0)) return b.index == 0;
  if (a.index != b.index) return a.index < b.index;
  return a.subIndex < b.subIndex;
}

}  // namespace

std::string_view OdEntry::nameView() const {
  return std::string_view(name, strnlen(name, sizeof name));
}

void OdEntry::setName(std::string_view text) {
  const std::size_t n = std::min(text.size(), sizeof name - 1);
  std::memcpy(name, text.data(), n);
  std::memset(name + n, 0, sizeof name - n);
}

OdEntry NewOdEntry(uint16_t index, uint8_t subIndex) {
  OdEntry e;
  e.index = index;
  e.subIndex = subIndex;
  e.objectType = kOdObjectVar;
  return e;
}

ObjectDictionary::ObjectDictionary(OdBlockPool& pool) : pool_(pool), slots_(kOdSlotCount) {}

void ObjectDictionary::releaseBlocks(OdEntry& entry) {
  pool_.release(entry.defaultValue);
  pool_.release(entry.currentValue);
}

void ObjectDictionary::releaseReplacedBlocks(OdEntry& old, const OdEntry& replacement) {
  // A caller that copied an entry out, edited it and copies it back still holds the same blocks;
  // anything else the old entry held would otherwise stay taken for good.
  for (OdValue* v : {&old.defaultValue, &old.currentValue}) {
    if (v->block == nullptr) continue;
    if (v->block == replacement.defaultValue.block || v->block == replacement.currentValue.block) continue;
    pool_.release(*v);
  }
}

void ObjectDictionary::clear() {
  for (OdEntry& e : slots_) {
    releaseBlocks(e);
    e = OdEntry();
  }
}

int ObjectDictionary::count() const {
  for (int i = 0; i < kOdSlotCount; ++i) {
    if (slots_[static_cast<std::size_t>(i)].index == 0) return i;
  }
  return kOdSlotCount;
}

int ObjectDictionary::countIndex(uint16_t index) const {
  const int used = count();
  int n = 0;
  for (int i = 0; i < used; ++i) n += slots_[static_cast<std::size_t>(i)].index == index ? 1 : 0;
  return n;
}

int ObjectDictionary::findPosition(uint16_t index, uint8_t subIndex) const {
  if (index == 0) return -1;
  for (int i = 0; i < kOdSlotCount; ++i) {
    const OdEntry& e = slots_[static_cast<std::size_t>(i)];
    if (e.index == index && e.subIndex == subIndex) return i;
  }
  return -1;
}

OdEntry* ObjectDictionary::find(uint16_t index, uint8_t subIndex) {
  const int p = findPosition(index, subIndex);
  return p < 0 ? nullptr : &slot(p);
}

const OdEntry* ObjectDictionary::find(uint16_t index, uint8_t subIndex) const {
  const int p = findPosition(index, subIndex);
  return p < 0 ? nullptr : &slot(p);
}

int ObjectDictionary::insert(const OdEntry& entry) {
  if (entry.index == 0) return -1;
  if (const int p = findPosition(entry.index, entry.subIndex); p >= 0) {
    copyIn(p, entry);
    return p;
  }
  const int used = append(entry);
  if (used < 0) return -1;
  const auto begin = slots_.begin();
  const auto end = begin + used;
  if (std::is_sorted(begin, end, EntryOrder)) {
    // Already in order (the usual case): one rotation puts the new entry in place.
    const auto at = std::upper_bound(begin, end, slot(used), EntryOrder);
    std::rotate(at, end, end + 1);
    return static_cast<int>(at - begin);
  }
  sort();
  return findPosition(entry.index, entry.subIndex);
}

int ObjectDictionary::append(const OdEntry& entry) {
  if (entry.index == 0) return -1;
  const int used = count();
  if (used >= kOdSlotCount) return -1;
  slot(used) = entry;
  return used;
}

bool ObjectDictionary::remove(int position) {
  const int used = count();
  if (position < 0 || position >= used) return false;
  releaseBlocks(slot(position));
  for (int i = position; i + 1 < used; ++i) slot(i) = std::move(slot(i + 1));
  // The last used slot's blocks moved up with it; only the slot itself is cleared.
  slot(used - 1) = OdEntry();
  return true;
}

bool ObjectDictionary::copyOut(int position, OdEntry& out) const {
  if (position < 0 || position >= count()) return false;
  out = slot(position);
  return true;
}

bool ObjectDictionary::copyIn(int position, const OdEntry& entry) {
  if (position < 0 || position >= count()) return false;
  OdEntry& target = slot(position);
  if (&target == &entry) return true;
  releaseReplacedBlocks(target, entry);
  target = entry;
  return true;
}

void ObjectDictionary::sort() {
  // Slots behind the last used one are empty and already in place: only the front is sorted.
  int last = kOdSlotCount;
  while (last > 0 && slot(last - 1).index == 0) --last;
  std::stable_sort(slots_.begin(), slots_.begin() + last, EntryOrder);
  for (int i = count(); i < kOdSlotCount; ++i) {
    OdEntry& e = slot(i);
    if (e.index == 0 && !e.defaultValue.hasBlock() && !e.currentValue.hasBlock() && e.name[0] == 0) continue;
    releaseBlocks(e);
    e = OdEntry();
  }
}

}  // namespace busprobe
