#include "app/command_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace busprobe {

void CommandFile::indexLines() {
  lineStarts_.clear();
  if (!text_.empty()) lineStarts_.push_back(0);
  for (std::size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] == '\n' && i + 1 < text_.size()) lineStarts_.push_back(i + 1);
  }
  lineCount_ = static_cast<int>(lineStarts_.size());
  ++revision_;
}

bool CommandFile::line(int index, std::string_view& out) const {
  if (index < 0 || index >= lineCount_) return false;
  const std::size_t start = lineStarts_[static_cast<std::size_t>(index)];
  std::size_t end = text_.find('\n', start);
  if (end == std::string::npos) end = text_.size();
  if (end > start && text_[end - 1] == '\r') --end;
  out = std::string_view(text_).substr(start, end - start);
  return true;
}

bool CommandFile::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buf;
  buf << in.rdbuf();
  text_ = buf.str();
  path_ = path;
  indexLines();
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
  indexLines();
  modified_ = true;
}

}  // namespace busprobe
