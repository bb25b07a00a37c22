#include "canopen/dictionary_scanner.h"

#include <algorithm>
#include <cstdio>

#include "base/ini_file.h"
#include "base/number_lex.h"
#include "base/settings_keys.h"
#include "canopen/sdo_abort_text.h"

namespace busprobe {
namespace {

constexpr int kLastIndex = 0xFFFF;
constexpr uint32_t kAbortNoSubIndex = 0x06090011;

template <class S, class V>
void VisitDictionaryScan(S& s, V& v) {
  const DictionaryScanSettings d;
  const char* sec = "CANopenODScanner";
  v.integer(sec, "ScanFrom", s.scanFrom, d.scanFrom);
  v.integer(sec, "ScanTo", s.scanTo, d.scanTo);
  for (size_t i = 0; i < s.excluded.size(); ++i) {
    v.integer(sec, IndexedKey("ExcludeFrom", i), s.excluded[i].first, 0);
    v.integer(sec, IndexedKey("ExcludeTo", i), s.excluded[i].last, 0);
  }
  v.integer(sec, "Options", s.options, d.options);
}

int ClampedIndex(int value, int fallback) {
  return value >= 0 && value <= kLastIndex ? value : fallback;
}

void SkipBlanks(std::string_view text, size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
}

// Hexadecimal digits at `pos`, after an optional "0x"; false when there are none. Values past
// 0xFFFF are taken as 0xFFFF: no index lies beyond.
bool ScanHexIndex(std::string_view text, size_t& pos, int& value) {
  pos += HexPrefixLength(text.substr(pos), false);
  const char* p = text.data() + pos;
  uint64_t v = 0;
  const int digits = ScanDigits(p, text.data() + text.size(), 16, 8, v);
  if (digits == 0) return false;
  pos = static_cast<size_t>(p - text.data());
  value = v > kLastIndex ? kLastIndex : static_cast<int>(v);
  return true;
}

DictionaryScanRange ParseExcludedEntry(std::string_view entry) {
  DictionaryScanRange range;
  size_t pos = 0;
  SkipBlanks(entry, pos);
  if (pos >= entry.size() || HexDigitValue(entry[pos]) < 0) return range;
  if (!ScanHexIndex(entry, pos, range.first)) return range;
  range.last = range.first;
  SkipBlanks(entry, pos);
  if (pos < entry.size() && entry[pos] == '-') {
    ++pos;
    SkipBlanks(entry, pos);
    int last = range.first;
    if (ScanHexIndex(entry, pos, last)) range.last = last;
  }
  return range;
}

}  // namespace

bool DictionaryScanRange::contains(int index) const {
  // A slot whose last index lies below its first (a hand-edited file) is its first index alone.
  return !empty() && index >= first && index <= std::max(first, last);
}

void ReadDictionaryScanSettings(const IniFile& ini, DictionaryScanSettings& s) {
  SettingsReader r(ini);
  VisitDictionaryScan(s, r);
  const DictionaryScanSettings d;
  s.scanFrom = ClampedIndex(s.scanFrom, d.scanFrom);
  s.scanTo = ClampedIndex(s.scanTo, d.scanTo);
  for (DictionaryScanRange& range : s.excluded) {
    range.first = ClampedIndex(range.first, 0);
    range.last = ClampedIndex(range.last, 0);
  }
}

void WriteDictionaryScanSettings(IniFile& ini, const DictionaryScanSettings& s) {
  SettingsWriter w(ini);
  VisitDictionaryScan(s, w);
}

DictionaryScanExclusions ParseExcludedRanges(std::string_view text) {
  DictionaryScanExclusions out{};
  size_t start = 0;
  for (size_t slot = 0; slot < out.size() && start <= text.size(); ++slot) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    out[slot] = ParseExcludedEntry(text.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

std::string ExcludedRangesText(const DictionaryScanExclusions& excluded) {
  std::string text;
  for (const DictionaryScanRange& range : excluded) {
    if (range.empty()) continue;
    char buf[32];
    if (range.last > range.first)
      std::snprintf(buf, sizeof buf, "0x%04X-0x%04X", static_cast<unsigned>(range.first),
                    static_cast<unsigned>(range.last));
    else
      std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(range.first));
    if (!text.empty()) text += ", ";
    text += buf;
  }
  return text;
}

int ParseScanIndex(std::string_view text, int fallback) {
  size_t pos = 0;
  SkipBlanks(text, pos);
  int value = fallback;
  return ScanHexIndex(text, pos, value) ? value : fallback;
}

void DictionaryScanner::start(const DictionaryScanSettings& settings) {
  settings_ = settings;
  index_ = -1;
  subIndex_ = kIndexDone;
  objectsRead_ = 0;
  accessErrors_ = 0;
  progress_.clear();
  lastError_.clear();
}

int DictionaryScanner::NextIndex(int current, const DictionaryScanSettings& settings) {
  int next = std::max(current + 1, settings.scanFrom);
  for (bool moved = true; moved && next <= kLastIndex;) {
    moved = false;
    for (const DictionaryScanRange& range : settings.excluded) {
      if (!range.contains(next)) continue;
      next = std::max(range.first, range.last) + 1;
      moved = true;
    }
  }
  return next;
}

bool DictionaryScanner::IsAbsenceCode(uint32_t abortCode) {
  return (abortCode & 0xFFFF0000u) == 0x06020000u || abortCode == kAbortNoSubIndex;
}

bool DictionaryScanner::nextObject(uint16_t& index, uint8_t& subIndex) {
  if (subIndex_ >= kIndexDone) {
    const int next = NextIndex(index_, settings_);
    if (next > settings_.scanTo || next > kLastIndex) return false;
    index_ = next;
    subIndex_ = 0;
  }
  index = static_cast<uint16_t>(index_);
  subIndex = static_cast<uint8_t>(subIndex_);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s 0x%04lX.%02lX", "Reading ", static_cast<unsigned long>(index),
                static_cast<unsigned long>(subIndex));
  progress_ = buf;
  return true;
}

bool DictionaryScanner::recordResult(bool ok, uint32_t abortCode) {
  if (ok) {
    ++objectsRead_;
    ++subIndex_;
    return true;
  }
  const int sub = subIndex_;
  subIndex_ = kIndexDone;
  if (IsAbsenceCode(abortCode)) return true;
  ++accessErrors_;
  char buf[64];
  std::snprintf(buf, sizeof buf, "Obj 0x%04lX.%02lX: abort code=0x%08lX=", static_cast<unsigned long>(index_),
                static_cast<unsigned long>(sub), static_cast<unsigned long>(abortCode));
  lastError_ = buf;
  lastError_ += SdoAbortText(abortCode);
  return !settings_.stopOnError();
}

std::string DictionaryScanner::finalStatusText() const {
  return std::string("Finished ") + "reading" + " OD,  " + std::to_string(objectsRead_) +
         " objects accessed,  " + std::to_string(accessErrors_) + " access error(s) .";
}

}  // namespace busprobe
