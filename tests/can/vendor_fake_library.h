// A fake vendor library opened a second time by the test, for its control functions: the loader
// hands out the very copy the back-end loaded, so the test scripts the device the back-end talks to.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "can/shared_library.h"

namespace busprobe {

class VendorFakeLibrary {
 public:
  explicit VendorFakeLibrary(const std::string& path) { EXPECT_TRUE(lib_.open({path})) << lib_.error(); }

  template <class Fn>
  Fn control(const char* name) const {
    Fn fn = lib_.entry<Fn>(name);
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }

  // A log of one call per line, as a list.
  static std::vector<std::string> Lines(const char* log) {
    std::vector<std::string> lines;
    std::istringstream in(log ? log : "");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  SharedLibrary lib_;
};

}  // namespace busprobe
