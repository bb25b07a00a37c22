// Checking a key table against the key names as users find them in their files, written out in
// the tests independently of the tables themselves.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/ini_file.h"

namespace busprobe::test {

struct Key {
  std::string section, key, value;
};

// "Name0..31" stands for 32 keys; a leading '$' marks a text key. Each key gets a distinct
// non-default value (numbering from `first`, so lists of several tables can be joined), so a key
// the table spells differently reads as its default and shows up.
inline std::vector<Key> Keys(std::initializer_list<std::pair<const char*, const char*>> table, int first) {
  std::vector<Key> keys;
  int n = first;
  for (const auto& [section, names] : table) {
    std::istringstream in(names);
    for (std::string name; in >> name;) {
      const bool text = name[0] == '$';
      if (text) name.erase(0, 1);
      int from = 0, to = -1;
      const size_t dots = name.find("..");
      if (dots != std::string::npos) {
        to = std::stoi(name.substr(dots + 2));
        name.erase(dots);
        const size_t digits = name.find_last_not_of("0123456789") + 1;
        from = std::stoi(name.substr(digits));
        name.erase(digits);
      }
      for (int i = from; i <= std::max(from, to); ++i) {
        const std::string key = to < 0 ? name : name + std::to_string(i);
        keys.push_back({section, key, (text ? "t" : "") + std::to_string(++n)});
      }
    }
  }
  return keys;
}

inline std::vector<Key> Joined(std::initializer_list<std::vector<Key>> lists) {
  std::vector<Key> all;
  for (const auto& list : lists) all.insert(all.end(), list.begin(), list.end());
  return all;
}

inline IniFile FileOf(const std::vector<Key>& keys) {
  IniFile ini;
  for (const Key& k : keys) ini.setString(k.section, k.key, k.value);
  return ini;
}

inline size_t KeyLines(const std::string& text) {
  size_t count = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) count += line.find('=') != std::string::npos;
  return count;
}

// Every listed key was read into its field and written back under the same name, spelt exactly as
// listed, and nothing else was written.
inline void ExpectAllKeysCarried(const std::vector<Key>& keys, const IniFile& written) {
  const std::string text = "\n" + written.text();
  for (const Key& k : keys) {
    EXPECT_EQ(written.getString(k.section, k.key, "<missing>"), k.value) << k.key;
    EXPECT_NE(text.find("\n" + k.key + "="), std::string::npos) << "spelling of " << k.key;
  }
  EXPECT_EQ(KeyLines(written.text()), keys.size());
}

// Reads a record from a file of `keys`, writes it into an empty document and checks the result.
template <class Record, class Read, class Write>
void ExpectTableCarries(const std::vector<Key>& keys, Read read, Write write) {
  Record r;
  read(FileOf(keys), r);
  IniFile out;
  write(out, r);
  ExpectAllKeysCarried(keys, out);
}

}  // namespace busprobe::test
