#include "app/messages.h"

#include <cstdio>

#include "app/user_interface.h"
#include "base/translator.h"

namespace busprobe {

namespace {
std::string FormatV(const char* format, va_list args) {
  char buf[2048];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buf, sizeof buf, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(static_cast<size_t>(n));
  return big;
}
}  // namespace

void MessageLog::PrintMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintMessageV(format, args);
  va_end(args);
}

const char* MessageLog::translated(const char* format) const {
  return translator_ ? translator_->translate(format) : format;
}

void MessageLog::PrintMessageV(const char* format, va_list args) {
  printText(FormatV(translated(format), args));
}

void MessageLog::PrintSdoMessage(int flags, const char* format, ...) {
  if (!sdoMessages) return;
  std::string text;
  if (flags & 2) {
    char t[32];
    std::snprintf(t, sizeof t, "t=%lu: ", static_cast<unsigned long>(seconds_ ? seconds_() : 0.0));
    text += t;
  }
  if (flags & 1) text += "SDO: ";
  va_list args;
  va_start(args, format);
  text += FormatV(translated(format), args);
  va_end(args);
  printText(text);
}

void MessageLog::PrintCanMessage(const char* format, ...) {
  if (!canDriverMessages) return;
  va_list args;
  va_start(args, format);
  std::string text = "CAN: " + FormatV(translated(format), args);
  va_end(args);
  printText(text);
}

void MessageLog::printText(std::string_view text) {
  // A trailing line break ends the last line rather than starting an empty one.
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    do {
      appendLine(std::string(line.substr(0, kMaxLineChars)));
      line.remove_prefix(line.size() < kMaxLineChars ? line.size() : kMaxLineChars);
    } while (!line.empty());
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void MessageLog::appendLine(std::string line) {
  while (lines_.size() > maxLines_) lines_.pop_front();
  lines_.push_back(std::move(line));
  ++appended_;
  notify_.changed(UiTopic::kMessages);
}

void MessageLog::clear() {
  lines_.clear();
  ++cleared_;
  notify_.changed(UiTopic::kMessages);
}

void MessageLog::forEachSince(uint64_t& seen, const std::function<void(const std::string&)>& line) const {
  const uint64_t firstHeld = appended_ - lines_.size();
  for (uint64_t n = seen < firstHeld ? firstHeld : seen; n < appended_; ++n)
    line(lines_[static_cast<size_t>(n - firstHeld)]);
  seen = appended_;
}

}  // namespace busprobe
