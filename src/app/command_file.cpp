#include "app/command_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace busprobe {

namespace {
int CountLines(const std::string& text) {
  if (text.empty()) return 0;
  int n = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  return text.back() == '\n' ? n : n + 1;
}
}  // namespace

bool CommandFile::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buf;
  buf << in.rdbuf();
  text_ = buf.str();
  path_ = path;
  lineCount_ = CountLines(text_);
  modified_ = false;
  return true;
}

bool CommandFile::save(const std::string& path, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text_;
  out.flush();
  if (!out) {
    if (error) *error = "Could not save \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  modified_ = false;
  return true;
}

void CommandFile::setText(std::string text) {
  text_ = std::move(text);
  lineCount_ = CountLines(text_);
  modified_ = true;
}

}  // namespace busprobe
