// An INI document held in memory for read-modify-write of the configuration file.
//
// Every line of the file is kept as it was read, with its own line end, so comments, blank lines,
// garbage and sections or keys that this version does not know survive a load and save byte for
// byte; only the lines of keys that are set change. Section and key names compare without regard
// to ASCII case. When a key appears twice, the first one counts (for reading and for setting).
// Saving replaces the file atomically: the old file stays intact when anything goes wrong.
//
// Used by the configuration loader (config_file.h) and by tool windows that keep their own sections.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace busprobe {

class IniFile {
 public:
  enum class LoadResult {
    kOk,
    kMissing,  // the file does not exist: an empty document
    kFailed,   // the file exists but could not be read: an empty document, error text set
    kRefused,  // not a regular file (a FIFO, a device) or too large: as kFailed, never waited on
  };

  IniFile() = default;

  // Builds the document from file contents. Any bytes are accepted.
  static IniFile parse(std::string_view text);

  // Reads the whole file; the previous contents of the document are replaced in any case.
  LoadResult load(const std::string& path, std::string* error = nullptr);

  // Writes the document to a temporary file beside `path`, flushes it to disk and renames it over
  // `path`. On failure returns false with a text for the user and leaves the old file untouched;
  // a file this user may not write (made read-only) is not replaced either, with its own text.
  bool save(const std::string& path, std::string* error = nullptr) const;

  // The file contents the document stands for.
  std::string text() const;

  bool has(std::string_view section, std::string_view key) const;

  // Values are read with surrounding blanks removed and one pair of enclosing double quotes taken
  // off. A missing key yields the default.
  std::string getString(std::string_view section, std::string_view key, std::string_view def) const;
  // Optional sign, then decimal digits up to the first other character. No digits: the default.
  // Values beyond the int range saturate at INT_MIN / INT_MAX.
  int getInt(std::string_view section, std::string_view key, int def) const;
  // A decimal or exponent number at the start of the value, independent of the locale. Text that
  // is not a number, infinities and NaN yield the default: no setting wants them.
  double getDouble(std::string_view section, std::string_view key, double def) const;

  // Setters change the first occurrence of the key or add it at the end of its section (the
  // section is appended to the file when missing). They return false, changing nothing, when the
  // name cannot be stored in a line of its own: empty, blanks at either end, a line break, '='
  // in a key, ']' in a section, or a key starting with '[', ';' or '#'.
  //
  // A string value is stored up to its first line break, since the rest would become lines of
  // its own. Values with blanks at either end, or enclosed in double quotes, are written inside
  // double quotes so that they read back unchanged.
  bool setString(std::string_view section, std::string_view key, std::string_view value);
  bool setInt(std::string_view section, std::string_view key, int value);
  // The shortest text that reads back to the same value.
  bool setDouble(std::string_view section, std::string_view key, double value);
  // Fixed-point text with `decimals` digits after the point, right-aligned in `width` characters
  // (the layout of printf's "%W.Df", but always with a '.').
  bool setDoubleFixed(std::string_view section, std::string_view key, double value, int width, int decimals);

 private:
  enum class Kind { kOther, kSection, kKey };
  struct Line {
    std::string raw;  // the line without its end
    std::string eol;  // "\n", "\r\n", "\r" or "" for a last line without one
    Kind kind = Kind::kOther;
    size_t nameBegin = 0, nameLen = 0;    // section or key name within raw
    size_t valueBegin = 0, valueLen = 0;  // key value within raw, blanks removed
    std::string_view name() const { return std::string_view(raw).substr(nameBegin, nameLen); }
  };
  // A header and the lines up to the next header. The first one has no header: it holds what
  // comes before the first section.
  struct Section {
    bool hasHeader = false;
    Line header;
    std::vector<Line> lines;
    // Lower-case key name -> index in `lines` of its first occurrence. Keys are only ever added
    // after a section's last key, so these indices never move.
    std::unordered_map<std::string, size_t> keys;
    size_t keyEnd = 0;  // index just after the last key line: where new keys go
  };
  struct Position {
    size_t section, line;
  };

  static Line classify(std::string raw, std::string eol);
  void addLine(Line line);
  std::optional<Position> find(std::string_view section, std::string_view key) const;
  bool setRaw(std::string_view section, std::string_view key, std::string_view encodedValue);

  std::vector<Section> sections_ = std::vector<Section>(1);
  // Lower-case section name -> indices in `sections_` of every section of that name, in order.
  std::unordered_map<std::string, std::vector<size_t>> sectionIndex_;
  std::string eol_ = "\n";  // the line end of the file's first line, used for lines we add
};

}  // namespace busprobe
