#include "app/command_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "base/guarded_file.h"
#include "interp/script_program.h"

namespace busprobe {

namespace {

// Where each line starts. A CR LF pair is one line end; a break at the very end starts no line.
std::vector<std::size_t> LineStarts(std::string_view text) {
  std::vector<std::size_t> starts;
  if (!text.empty()) starts.push_back(0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if ((text[i] == '\n' || text[i] == '\r') && i + 1 < text.size()) starts.push_back(i + 1);
  }
  return starts;
}

}  // namespace

void CommandFile::indexLines() {
  lineStarts_ = LineStarts(text_);
  lineCount_ = static_cast<int>(lineStarts_.size());
  ++revision_;
}

bool CommandFile::line(int index, std::string_view& out) const {
  if (index < 0 || index >= lineCount_) return false;
  const std::size_t start = lineStarts_[static_cast<std::size_t>(index)];
  std::size_t end = text_.find_first_of("\r\n", start);
  if (end == std::string::npos) end = text_.size();
  out = std::string_view(text_).substr(start, end - start);
  return true;
}

CommandFile::LoadResult CommandFile::load(const std::string& path, std::string* reason, int* lines) {
  std::string text;
  switch (ReadRegularFile(path, kMaxFileBytes, text, reason)) {
    case GuardedReadStatus::kOk:
      break;
    case GuardedReadStatus::kMissing:
      return LoadResult::kMissing;
    case GuardedReadStatus::kCannotOpen:
      return LoadResult::kUnreadable;
    case GuardedReadStatus::kRefused:
      return LoadResult::kRefused;
  }
  std::vector<std::size_t> starts = LineStarts(text);
  if (lines) *lines = static_cast<int>(starts.size());
  if (starts.size() > static_cast<std::size_t>(kMaxScriptLines)) return LoadResult::kTooManyLines;
  text_ = std::move(text);
  path_ = path;
  lineStarts_ = std::move(starts);
  lineCount_ = static_cast<int>(lineStarts_.size());
  ++revision_;
  modified_ = false;
  return LoadResult::kOk;
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
