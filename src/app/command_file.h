// The command editor's document: the script text, the file it came from and its modified flag.
// The GUI's editor mirrors it; headless it is the only copy.
#pragma once

#include <string>

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
  bool modified() const { return modified_; }
  void setModified(bool modified) { modified_ = modified; }

 private:
  std::string text_;
  std::string path_;
  int lineCount_ = 0;
  bool modified_ = false;
};

}  // namespace busprobe
