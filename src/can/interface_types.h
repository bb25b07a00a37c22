// The interface types: one row per type with everything the rest of the program needs to know about
// it: its caption (the name the user sees), the line UCAN_Init leaves when its driver cannot be
// loaded, the channels it always has, and how its back-end is made. UCAN_Init makes back-ends from
// these rows; the interface selection lists them in table order.
//
// Each Ucan holds its own table, so a back-end that lives in another library (one that must not be
// linked into the CAN layer) registers its type with that Ucan at run time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "can/can_backend.h"

namespace busprobe {

struct CanInterfaceTypeRow;
using CanBackendFactory =
    std::function<std::unique_ptr<CanBackend>(CanBackendHost& host, const CanInterfaceTypeRow& row)>;

struct CanInterfaceTypeRow {
  int type = 0;
  std::string caption;
  // "UCAN_Init: ..." when the type's driver library cannot be loaded; empty for types without one.
  std::string notLoadedText;
  // Channels the type always has; 0 for none, or when the loaded driver says (CanBackend::channelCount).
  int channelCount = 0;
  // Null: the type answers every call as an interface without a back-end.
  CanBackendFactory factory = nullptr;
  // The driver library's file names, tried in order (vendor types only). Empty for a vendor that
  // ships no Linux library: the type then fails to load with its "not loaded" line.
  std::vector<std::string> libraryNames = {};
};

class CanInterfaceTable {
 public:
  // The built-in types, in the order the interface selection lists them.
  CanInterfaceTable();

  const std::vector<CanInterfaceTypeRow>& types() const { return rows_; }
  // The row of a type, or null for a type nobody knows.
  const CanInterfaceTypeRow* find(int type) const;
  // The caption of a type; "unknown" for a type nobody knows.
  std::string caption(int type) const;
  // Adds a type after the others, or replaces the row of a type already there (it keeps its place).
  void registerType(CanInterfaceTypeRow row);
  // The row's back-end, or one that answers as an unknown interface when there is none.
  std::unique_ptr<CanBackend> makeBackend(CanBackendHost& host, int type) const;

 private:
  std::vector<CanInterfaceTypeRow> rows_;
};

}  // namespace busprobe
