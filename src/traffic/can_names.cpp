#include "traffic/can_names.h"

namespace busprobe {

std::string_view CanNameTable::nameFor(uint32_t identifier) const {
  for (const CanMessageName& entry : entries_) {
    // The identifier compare comes first: it is what rules out nearly every entry per frame.
    if (entry.canId >= 0 && static_cast<uint32_t>(entry.canId) == identifier && !entry.name.empty()) {
      return entry.name;
    }
  }
  return {};
}

int CanNameTable::findName(std::string_view name) const {
  if (name.empty()) return -1;
  for (const CanMessageName& entry : entries_) {
    if (entry.name == name) return entry.canId;
  }
  return -1;
}

int CanNameTable::idForName(std::string_view name) {
  if (name.empty()) return -1;
  for (const CanMessageName& entry : entries_) {
    if (entry.name == name) return entry.canId;
  }
  // Unknown: show it to the user. A name longer than the table holds is stored cut, and only
  // once, so a log full of it does not take every free entry.
  const std::string_view stored = name.substr(0, kMaxNameLength);
  for (const CanMessageName& entry : entries_) {
    if (entry.name == stored) return -1;
  }
  for (CanMessageName& entry : entries_) {
    if (entry.name.empty() && entry.canId == -1) {
      entry.name.assign(stored);
      break;
    }
  }
  return -1;
}

}  // namespace busprobe
