// The keys of the CANopen sections as users find them in their files.
#pragma once

#include "base/key_list_check.h"

namespace busprobe::test {

inline std::vector<Key> SdoKeys() {
  std::vector<Key> keys = Keys(
      {{"SdoSettings",
        "ClientNodeID ServerNodeID ServerNodeID2..8 ServerEnable ClientEnable ServerTimeout ClientTimeout"}},
      8000);
  // Node IDs outside 1..127 are corrected when read, so these two need values that stand.
  keys[0].value = "17";
  keys[1].value = "18";
  return keys;
}

}  // namespace busprobe::test
