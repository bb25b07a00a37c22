// The symbolic-name table ("CAN message table"): 32 name/identifier pairs kept in the traffic
// settings (section "CanMessages"). The ASCII logger writes a name instead of the identifier; the
// log player turns names read from a log back into identifiers. A name the player cannot resolve
// is put into the table with identifier -1 so the user sees it in the settings window and can give
// it an identifier. The table works on the settings record itself, so edits made in the settings
// window apply at once. Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "traffic/traffic_settings.h"

namespace busprobe {

class CanNameTable {
 public:
  static constexpr int kEntries = 32;
  static constexpr size_t kMaxNameLength = 15;
  using Entries = std::array<CanMessageName, kEntries>;

  explicit CanNameTable(Entries& entries) : entries_(entries) {}

  // Name for an identifier (the 29-bit identifier, without the extended and bus bits): the first
  // entry in table order with a non-empty name and that identifier. Empty when there is none.
  std::string_view nameFor(uint32_t identifier) const;

  // Identifier of a name, -1 when the name is unknown or has no identifier yet. An unknown name is
  // stored (cut to 15 characters) in the first entry with an empty name and identifier -1, unless
  // an entry of that name exists already: the table does not fill up with repeats of one name.
  int idForName(std::string_view name);

  // Looks a name up without adding it; -1 as above.
  int findName(std::string_view name) const;

  Entries& entries() { return entries_; }
  const Entries& entries() const { return entries_; }

 private:
  Entries& entries_;
};

}  // namespace busprobe
