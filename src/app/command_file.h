// The command editor's document: the script text, the file it came from and its modified flag.
// The GUI's editor mirrors it; headless it is the only copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace busprobe {

class CommandFile {
 public:
  // Loads the file; false (and the document unchanged) when it cannot be read.
  bool load(const std::string& path);
  // Writes the text as plain text; false with an error text on failure.
  bool save(const std::string& path, std::string* error);

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const std::string& path() const { return path_; }
  void setPath(std::string path) { path_ = std::move(path); }
  int lineCount() const { return lineCount_; }
  // Line `index` (0-based) without its line end; false at or beyond the last line.
  bool line(int index, std::string_view& out) const;
  // Counts every change of the text (load, edit), so readers can tell that their copy is stale.
  uint64_t revision() const { return revision_; }
  bool modified() const { return modified_; }
  void setModified(bool modified) { modified_ = modified; }

 private:
  std::string text_;
  std::string path_;
  void indexLines();

  int lineCount_ = 0;
  std::vector<std::size_t> lineStarts_;
  uint64_t revision_ = 0;
  bool modified_ = false;
};

}  // namespace busprobe
