#include "base/ini_file.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <system_error>

#include "base/atomic_file.h"
#include "base/guarded_file.h"

namespace busprobe {

namespace {

// A configuration file this large is not one we wrote; reading it whole could exhaust memory.
constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Positions of `s` with the blanks at both ends removed, as [begin, end).
void Trim(std::string_view s, size_t& begin, size_t& end) {
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

bool IsTrimmed(std::string_view s) {
  return !s.empty() && !IsBlank(s.front()) && !IsBlank(s.back());
}

bool ValidSection(std::string_view s) {
  return IsTrimmed(s) && !HasLineBreak(s) && s.find(']') == std::string_view::npos;
}

bool ValidKey(std::string_view k) {
  return IsTrimmed(k) && !HasLineBreak(k) && k.find('=') == std::string_view::npos && k.front() != '[' &&
         k.front() != ';' && k.front() != '#';
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  return v;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

std::string FileError(const char* what, const std::string& path, const std::string& reason) {
  return std::string("Could not ") + what + " configuration file \"" + path + "\": " + reason;
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

IniFile::Line IniFile::classify(std::string raw, std::string eol) {
  Line line;
  line.raw = std::move(raw);
  line.eol = std::move(eol);
  const std::string_view s = line.raw;
  size_t begin = 0, end = s.size();
  Trim(s, begin, end);
  if (begin == end || s[begin] == ';' || s[begin] == '#') return line;
  if (s[begin] == '[') {
    const size_t close = s.rfind(']');
    if (close == std::string_view::npos || close < begin) return line;  // garbage, kept as is
    size_t nb = begin + 1, ne = close;
    Trim(s, nb, ne);
    line.kind = Kind::kSection;
    line.nameBegin = nb;
    line.nameLen = ne - nb;
    return line;
  }
  const size_t eq = s.find('=', begin);
  if (eq == std::string_view::npos) return line;
  size_t kb = begin, ke = eq, vb = eq + 1, ve = end;
  Trim(s, kb, ke);
  Trim(s, vb, ve);
  line.kind = Kind::kKey;
  line.nameBegin = kb;
  line.nameLen = ke - kb;
  line.valueBegin = vb;
  line.valueLen = ve - vb;
  return line;
}

void IniFile::addLine(Line line) {
  if (line.kind == Kind::kSection) {
    Section sec;
    sec.hasHeader = true;
    sec.header = std::move(line);
    sectionIndex_[Lower(sec.header.name())].push_back(sections_.size());
    sections_.push_back(std::move(sec));
    return;
  }
  Section& sec = sections_.back();
  if (line.kind == Kind::kKey) {
    sec.keys.emplace(Lower(line.name()), sec.lines.size());  // the first one stays
    sec.keyEnd = sec.lines.size() + 1;
  }
  sec.lines.push_back(std::move(line));
}

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  bool eolSeen = false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t brk = text.find_first_of("\r\n", pos);
    if (brk == std::string_view::npos) {
      ini.addLine(classify(std::string(text.substr(pos)), ""));
      break;
    }
    size_t eolLen = 1;
    if (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') eolLen = 2;
    std::string eol(text.substr(brk, eolLen));
    if (!eolSeen) ini.eol_ = eol;
    eolSeen = true;
    ini.addLine(classify(std::string(text.substr(pos, brk - pos)), std::move(eol)));
    pos = brk + eolLen;
  }
  return ini;
}

std::string IniFile::text() const {
  std::string out;
  for (const Section& sec : sections_) {
    if (sec.hasHeader) out.append(sec.header.raw).append(sec.header.eol);
    for (const Line& l : sec.lines) out.append(l.raw).append(l.eol);
  }
  return out;
}

IniFile::LoadResult IniFile::load(const std::string& path, std::string* error) {
  *this = IniFile();
  std::string data, reason;
  switch (ReadRegularFile(path, kMaxFileSize, data, &reason)) {
    case GuardedReadStatus::kOk:
      *this = parse(data);
      return LoadResult::kOk;
    case GuardedReadStatus::kMissing:
      return LoadResult::kMissing;
    case GuardedReadStatus::kCannotOpen:
      SetError(error, FileError("read", path, reason));
      return LoadResult::kFailed;
    case GuardedReadStatus::kRefused:
      break;
  }
  SetError(error, FileError("read", path, reason));
  return LoadResult::kRefused;
}

bool IniFile::save(const std::string& path, std::string* error) const {
  if (const int err = WriteFileAtomically(path, text()); err != 0) {
    if (err == EROFS) {
      SetError(error, "Configuration file \"" + path + "\" is read-only: settings not saved.");
      return false;
    }
    SetError(error, FileError("write", path, ErrnoText(err)));
    return false;
  }
  return true;
}

std::optional<IniFile::Position> IniFile::find(std::string_view section, std::string_view key) const {
  if (key.empty()) return std::nullopt;
  const std::string lowerKey = Lower(key);
  auto search = [&](size_t index) -> std::optional<Position> {
    const auto it = sections_[index].keys.find(lowerKey);
    if (it == sections_[index].keys.end()) return std::nullopt;
    return Position{index, it->second};
  };
  // Keys ahead of the first header belong to the unnamed section.
  if (section.empty()) {
    if (auto p = search(0)) return p;
  }
  const auto found = sectionIndex_.find(Lower(section));
  if (found == sectionIndex_.end()) return std::nullopt;
  for (size_t index : found->second) {
    if (auto p = search(index)) return p;
  }
  return std::nullopt;
}

bool IniFile::has(std::string_view section, std::string_view key) const {
  return find(section, key).has_value();
}

std::string IniFile::getString(std::string_view section, std::string_view key, std::string_view def) const {
  const auto p = find(section, key);
  if (!p) return std::string(def);
  const Line& l = sections_[p->section].lines[p->line];
  return std::string(Unquote(std::string_view(l.raw).substr(l.valueBegin, l.valueLen)));
}

int IniFile::getInt(std::string_view section, std::string_view key, int def) const {
  const std::string v = getString(section, key, "");
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  const size_t firstDigit = i;
  // Kept one beyond INT_MAX's magnitude so that INT_MIN itself still reads exactly.
  constexpr int64_t kLimit = static_cast<int64_t>(INT_MAX) + 1;
  int64_t magnitude = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (v[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (i == firstDigit) return def;
  if (negative) return static_cast<int>(-magnitude);
  return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

double IniFile::getDouble(std::string_view section, std::string_view key, double def) const {
  const std::string v = getString(section, key, "");
  const char* first = v.data();
  const char* last = v.data() + v.size();
  if (first != last && *first == '+' && first + 1 != last &&
      (first[1] == '.' || (first[1] >= '0' && first[1] <= '9')))
    ++first;
  double d = 0.0;
  const auto r = std::from_chars(first, last, d);
  if (r.ec != std::errc() || !std::isfinite(d)) return def;
  return d;
}

bool IniFile::setRaw(std::string_view section, std::string_view key, std::string_view encodedValue) {
  if (!ValidSection(section) || !ValidKey(key)) return false;
  if (const auto p = find(section, key)) {
    Line& l = sections_[p->section].lines[p->line];
    // The key keeps the spelling the file had; only the value and what followed it change.
    std::string raw = l.raw.substr(0, l.nameBegin + l.nameLen) + "=" + std::string(encodedValue);
    l = classify(std::move(raw), std::move(l.eol));
    return true;
  }
  Line keyLine = classify(std::string(key) + "=" + std::string(encodedValue), eol_);
  const auto found = sectionIndex_.find(Lower(section));
  if (found != sectionIndex_.end()) {
    Section& sec = sections_[found->second.front()];
    // After the section's last key, so that comments and blank lines ahead of the next section
    // stay with that section.
    const size_t insertAt = sec.keyEnd++;
    Line& before = insertAt == 0 ? sec.header : sec.lines[insertAt - 1];
    if (before.eol.empty()) before.eol = eol_;  // it was the file's last line
    sec.keys.emplace(Lower(key), insertAt);
    sec.lines.insert(sec.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(keyLine));
    return true;
  }
  Section& last = sections_.back();
  Line* lastLine = !last.lines.empty() ? &last.lines.back() : (last.hasHeader ? &last.header : nullptr);
  if (lastLine) {
    if (lastLine->eol.empty()) lastLine->eol = eol_;
    // A blank line ahead of a new section, as people write them.
    size_t b = 0, e = lastLine->raw.size();
    Trim(lastLine->raw, b, e);
    if (b != e) addLine(classify("", eol_));
  }
  addLine(classify("[" + std::string(section) + "]", eol_));
  addLine(std::move(keyLine));
  return true;
}

bool IniFile::setString(std::string_view section, std::string_view key, std::string_view value) {
  const size_t brk = value.find_first_of("\r\n");
  if (brk != std::string_view::npos) value = value.substr(0, brk);
  const bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                        (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  if (!quote) return setRaw(section, key, value);
  return setRaw(section, key, "\"" + std::string(value) + "\"");
}

bool IniFile::setInt(std::string_view section, std::string_view key, int value) {
  return setRaw(section, key, std::to_string(value));
}

bool IniFile::setDouble(std::string_view section, std::string_view key, double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return setRaw(section, key, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

bool IniFile::setDoubleFixed(std::string_view section, std::string_view key, double value, int width,
                             int decimals) {
  decimals = decimals < 0 ? 0 : (decimals > 17 ? 17 : decimals);
  // Room for the 309 integer digits of the largest double, sign, point and decimals.
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  std::string text(buf, static_cast<size_t>(r.ptr - buf));
  if (width > 0 && text.size() < static_cast<size_t>(width))
    text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return setRaw(section, key, text);
}

}  // namespace busprobe
