// The messages window's content and its output helpers: plain lines, SDO-protocol lines and
// CAN-driver lines, each category switchable. Lines are split at line breaks and cut into pieces
// of at most 255 characters; the window keeps at most MaxWindowLines (at least 20) lines.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace busprobe {

class ChangeNotifications;
class Translator;

class MessageLog {
 public:
  static constexpr size_t kMaxLineChars = 255;

  explicit MessageLog(ChangeNotifications& notify) : notify_(notify) {}

  // Formats pass the translator (when set) before their arguments are filled in.
  void setTranslator(const Translator* translator) { translator_ = translator; }
  const Translator* translator() const { return translator_; }

  void PrintMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // flags bit 1: "t=%lu: " with the time in whole seconds; bit 0: "SDO: ".
  void PrintSdoMessage(int flags, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // "CAN: " prefix; only while the CAN-driver category is on.
  void PrintCanMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void PrintMessageV(const char* format, va_list args);

  // Appends text as it stands (split and cut as above), regardless of categories.
  void printText(std::string_view text);
  void clear();

  // Category switches of the Messages menu.
  bool canDriverMessages = true;
  bool sdoMessages = true;
  bool interpreterMessages = true;
  // The window's "Stop" button: only suppresses the periodic error-frame notice.
  bool stopped = false;

  void setMaxLines(int maxWindowLines) {
    maxLines_ = maxWindowLines < 20 ? 20 : static_cast<size_t>(maxWindowLines);
  }
  size_t maxLines() const { return maxLines_; }
  const std::deque<std::string>& lines() const { return lines_; }
  // Lines appended since the program started, and how often the window was emptied: a reader
  // keeps both and asks for what came since (the oldest may have been dropped meanwhile).
  uint64_t appendedCount() const { return appended_; }
  uint64_t clearCount() const { return cleared_; }
  // Calls `line` for every line appended after the first `seen` lines that is still held, and
  // sets `seen` to appendedCount().
  void forEachSince(uint64_t& seen, const std::function<void(const std::string&)>& line) const;
  // Source of "now" in seconds for the SDO time prefix.
  void setSecondsSource(std::function<double()> seconds) { seconds_ = std::move(seconds); }

 private:
  void appendLine(std::string line);

  const char* translated(const char* format) const;

  ChangeNotifications& notify_;
  const Translator* translator_ = nullptr;
  uint64_t appended_ = 0;
  uint64_t cleared_ = 0;
  std::deque<std::string> lines_;
  size_t maxLines_ = 500;
  std::function<double()> seconds_;
};

}  // namespace busprobe
