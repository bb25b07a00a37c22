// The keys of section "Directories" as users find them in their files.
#pragma once

#include "base/key_list_check.h"

namespace busprobe::test {

inline std::vector<Key> DirectoryKeys() {
  return Keys({{"Directories",
                "$Programs $Objects $HelpFile $LogFileDir $HtmlBrowser $MyObjectDictionary "
                "$HisObjectDictionary"}},
              2000);
}

}  // namespace busprobe::test
