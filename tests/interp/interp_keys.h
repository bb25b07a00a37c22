// The keys of section "Interpreter" as users find them in their files.
#pragma once

#include "base/key_list_check.h"

namespace busprobe::test {

inline std::vector<Key> InterpreterKeys() {
  std::vector<Key> k = Keys({{"Interpreter", "SoundEnabled SaveVarValues"}}, 4000);
  k.push_back({"Interpreter", "TxDelay", "250.5"});  // one decimal is all its layout keeps
  return k;
}

}  // namespace busprobe::test
