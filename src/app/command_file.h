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
  // Far beyond kMaxScriptLines lines of kMaxScriptLineChars; a larger file is no script.
  static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

  enum class LoadResult {
    kOk,
    kMissing,       // no such file
    kUnreadable,    // it exists but may not be opened
    kRefused,       // not a regular file, or larger than kMaxFileBytes
    kTooManyLines,  // more lines than a program can run (kMaxScriptLines)
  };
  // Loads the file; the document stays unchanged unless kOk. `reason` gets a short text when the
  // file could not be read, `lines` its line count when it was. A script longer than the
  // program's line limit is refused: its lines beyond the limit would never run, and the run
  // would still end as if all had.
  LoadResult load(const std::string& path, std::string* reason = nullptr, int* lines = nullptr);
  // Writes the text as plain text; false with an error text on failure.
  bool save(const std::string& path, std::string* error);

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const std::string& path() const { return path_; }
  void setPath(std::string path) { path_ = std::move(path); }
  int lineCount() const { return lineCount_; }
  // Line `index` (0-based) without its line end; false at or beyond the last line. A line ends at
  // LF, CR LF or a lone CR, so a script saved with any of these runs line by line.
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
