#include "canopen/dictionary_browser.h"

#include <cstdio>
#include <cstring>

#include "base/canopen_types.h"
#include "canopen/dictionary_text.h"
#include "canopen/od_files.h"
#include "canopen/od_tables.h"
#include "canopen/od_value_text.h"
#include "canopen/sdo_abort_text.h"
#include "canopen/standard_objects.h"

namespace busprobe {

namespace {

constexpr uint32_t kAbortCannotTransfer21 = 0x08000021;
constexpr int32_t kLargeUploadLimit = 1024;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

std::string ObjectText(const char* format, uint16_t index, uint8_t subIndex) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, index, subIndex);
  return buf;
}

bool Writable(const OdEntry& e) {
  return (e.access & 0x02) != 0;
}

}  // namespace

DictionaryBrowser::DictionaryBrowser(ObjectDictionary& dictionary, EdsFileInfo& fileInfo,
                                     EdsDeviceInfo& deviceInfo, SdoSettings& settings, SdoClientPort* port,
                                     std::function<void(const std::string&)> message)
    : od_(dictionary),
      fileInfo_(fileInfo),
      deviceInfo_(deviceInfo),
      settings_(settings),
      port_(port),
      message_(std::move(message)) {
  rebuild();
}

std::string DictionaryBrowser::headerText(int column, bool showDefault) {
  static constexpr const char* kHeaders[kBrowserColumns] = {"Object",  "Mark",  "Name", "Data Type", "Access",
                                                            "Display", "Value", "Size", "Counters"};
  if (column == kColValue && showDefault) return "Default Value";
  if (column < 0 || column >= kBrowserColumns) return {};
  return kHeaders[column];
}

BrowserRow DictionaryBrowser::renderRow(const OdEntry& e) const {
  BrowserRow r;
  r[kColObject] = ObjectText("%04X.%02X", e.index, e.subIndex);
  r[kColMark] = (e.markFlags & 1) != 0 ? "  *  " : "";
  r[kColName] = std::string(e.nameView());
  r[kColType] = Trimmed(OdTypeName(e.defaultValue.dataType));
  r[kColAccess] = Trimmed(OdAccessText(e.access));
  r[kColDisplay] = Trimmed(OdDisplayText(e.display));
  const bool current = e.currentValid != 0 && !showDefault_;
  const OdValue& shown = current ? e.currentValue : e.defaultValue;
  r[kColValue] = OdValueText(e.display, shown);
  const int size = e.defaultValue.dataType == kCoTypeDomain ? e.fileSize : OdValueSize(shown);
  r[kColSize] = std::to_string(size);
  char counters[64];
  if (e.errorCount != 0) {
    int n = std::snprintf(counters, sizeof counters, "ERR=%d", e.errorCount);
    if (e.readCount != 0)
      n += std::snprintf(counters + n, sizeof counters - static_cast<size_t>(n), " r=%d", e.readCount);
    if (e.writeCount != 0)
      std::snprintf(counters + n, sizeof counters - static_cast<size_t>(n), " w=%d", e.writeCount);
  } else {
    std::snprintf(counters, sizeof counters, "%04d %04d", e.readCount, e.writeCount);
  }
  r[kColCounters] = counters;
  return r;
}

void DictionaryBrowser::rebuild() {
  const int n = od_.count();
  rows_.assign(static_cast<size_t>(n) + 1, BrowserRow{});
  for (int i = 0; i < n; ++i) {
    rows_[static_cast<size_t>(i)] = renderRow(od_.slot(i));
    od_.slot(i).highlight &= ~kOdHighlightRedraw;
  }
  rendered_ = rows_;
  edited_ = false;
  if (selected_ >= rowCount()) selected_ = -1;
}

std::vector<int> DictionaryBrowser::refreshChangedRows() {
  std::vector<int> changed;
  const int n = od_.count();
  if (n + 1 != rowCount()) {
    // Entries came or went behind the window's back: every row may have moved.
    rebuild();
    for (int i = 0; i < rowCount(); ++i) changed.push_back(i);
    return changed;
  }
  for (int i = 0; i < n; ++i) {
    OdEntry& e = od_.slot(i);
    if ((e.highlight & kOdHighlightRedraw) == 0) continue;
    e.highlight &= ~kOdHighlightRedraw;
    rows_[static_cast<size_t>(i)] = rendered_[static_cast<size_t>(i)] = renderRow(e);
    changed.push_back(i);
  }
  return changed;
}

void DictionaryBrowser::setCell(int row, int column, const std::string& text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= kBrowserColumns) return;
  std::string& cell = rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
  if (cell == text) return;
  cell = text;
  edited_ = true;
}

BrowserRowColour DictionaryBrowser::rowColour(int row) const {
  if (row < 0 || row >= od_.count()) return BrowserRowColour::kNormal;
  const OdEntry& e = od_.slot(row);
  if (e.errorCount != 0) return BrowserRowColour::kError;
  if ((e.markFlags & 1) != 0) return BrowserRowColour::kMarked;
  return BrowserRowColour::kNormal;
}

void DictionaryBrowser::setShowDefault(bool on) {
  showDefault_ = on;
  rebuild();
}

bool DictionaryBrowser::applyRow(int row, const BrowserRow& cells) {
  std::string line = cells[kColObject];
  line += ' ';
  const std::string name = Trimmed(cells[kColName]);
  if (!name.empty()) line += "\"" + name + "\" ";
  line += cells[kColType] + " " + cells[kColAccess] + " " + cells[kColDisplay] + " ";
  if (!Trimmed(cells[kColMark]).empty()) line += "marked ";
  const bool isEntry = row < od_.count();
  const BrowserRow* before = isEntry ? &rendered_[static_cast<size_t>(row)] : nullptr;
  // The value column shows long values cut short: an unchanged cell must not cut the value
  // itself, so it is only parsed back when the user changed it (or the type it is read as).
  const bool valueEdited =
      !before || cells[kColValue] != (*before)[kColValue] || cells[kColType] != (*before)[kColType];
  if (valueEdited) line += cells[kColValue];

  OdEntry parsed;
  std::string problem;
  if (!ParseDictionaryTextLine(line, od_, parsed, problem)) return false;
  if (!isEntry) {
    if (od_.insert(parsed) < 0) od_.pool().release(parsed.defaultValue);
    return true;
  }
  OdEntry merged;
  od_.copyOut(row, merged);
  merged.index = parsed.index;
  merged.subIndex = parsed.subIndex;
  merged.setName(parsed.nameView());
  merged.access = parsed.access;
  merged.display = parsed.display;
  merged.markFlags = static_cast<uint8_t>((merged.markFlags & ~1) | (parsed.markFlags & 1));
  const uint8_t type = parsed.defaultValue.dataType;
  merged.defaultValue.dataType = type;
  merged.currentValue.dataType = type;
  if (valueEdited) {
    const bool intoCurrent = !showDefault_;
    OdValue& target = intoCurrent ? merged.currentValue : merged.defaultValue;
    if (parsed.hasDefault != 0) {
      target = parsed.defaultValue;
    } else {
      target = OdValue();
      target.dataType = type;
    }
    if (intoCurrent) {
      merged.currentValid = 1;
      merged.currentSource.clear();
    } else {
      merged.hasDefault = parsed.hasDefault;
      merged.defaultSource.clear();
    }
  }
  merged.highlight |= kOdHighlightRedraw;
  od_.copyIn(row, merged);
  return true;
}

void DictionaryBrowser::apply() {
  const int entries = od_.count();
  for (int i = 0; i < entries && i < rowCount(); ++i) {
    const BrowserRow& cells = rows_[static_cast<size_t>(i)];
    if (cells == rendered_[static_cast<size_t>(i)]) continue;
    applyRow(i, cells);
  }
  if (!rows_.empty() && !Trimmed(rows_.back()[kColObject]).empty()) applyRow(entries, rows_.back());
  od_.sort();
  od_.markChanged();
  rebuild();
}

void DictionaryBrowser::select(int row) {
  selected_ = row >= 0 && row < rowCount() ? row : -1;
  if (selected_ < 0) return;
  gridPos_ = std::to_string(selected_ + 1);
  if (selected_ < od_.count()) od_.slot(selected_).currentValid = 1;
}

std::string DictionaryBrowser::deleteQuestion(int row) const {
  if (row < 0 || row >= od_.count()) return {};
  const OdEntry& e = od_.slot(row);
  return "Delete object " + ObjectText("0x%04X.%02X", e.index, e.subIndex) + "?";
}

bool DictionaryBrowser::deleteRow(int row) {
  if (row < 0 || row >= od_.count()) return false;
  od_.remove(row);
  od_.markChanged();
  rebuild();
  return true;
}

void DictionaryBrowser::deleteAll() {
  od_.clear();
  od_.markChanged();
  rebuild();
}

void DictionaryBrowser::toggleMark(int row) {
  if (row < 0 || row >= od_.count()) return;
  OdEntry& e = od_.slot(row);
  e.markFlags ^= 1;
  rows_[static_cast<size_t>(row)][kColMark] = rendered_[static_cast<size_t>(row)][kColMark] =
      (e.markFlags & 1) != 0 ? "  *  " : "";
}

void DictionaryBrowser::resetCounters() {
  for (int i = 0; i < od_.count(); ++i) {
    OdEntry& e = od_.slot(i);
    e.readCount = e.writeCount = e.errorCount = 0;
    e.lastAbortCode = 0;
  }
  rebuild();
}

bool DictionaryBrowser::load(const std::string& path, uint8_t nodeId) {
  std::string problem;
  const bool ok = LoadDictionary(path, fileInfo_, deviceInfo_, od_, DictionaryLoadOptions{nodeId}, problem);
  if (!ok)
    status_ = "Error loading \"" + path + "\" .";
  else if (!problem.empty())
    status_ = "Problem in OD file \"" + path + "\" : " + problem + " .";
  else
    status_ = "Loaded OD info from \"" + path + "\" .";
  od_.markChanged();
  selected_ = -1;
  rebuild();
  gridPos_ = std::to_string(od_.count()) + " entries in OD";
  return ok;
}

bool DictionaryBrowser::save(const std::string& path, int64_t utcSeconds, std::string& error) {
  DictionarySaveOptions options;
  options.utcSeconds = utcSeconds;
  std::string detail;
  if (SaveDictionary(path, fileInfo_, deviceInfo_, od_, options, &detail)) return true;
  error = saveErrorText(path);
  return false;
}

std::string DictionaryBrowser::saveErrorText(const std::string& path) {
  return "Error: Could not save file\n \"" + path + "\"";
}

std::string DictionaryBrowser::accessCountText(uint32_t count) const {
  return std::to_string(count) + " accesses";
}

bool DictionaryBrowser::ReadRemoteObject(uint16_t index, uint8_t subIndex, uint8_t type,
                                         uint32_t* abortCode) {
  if (!port_) return false;
  if (type == 0) type = static_cast<uint8_t>(StandardObjectType(index, subIndex));
  SdoChannel& ch = port_->client();
  // Without a readout file, a large value stays in the 2048-byte buffer (cut there); the option
  // refuses what exceeds 1 kByte.
  const bool limit = limitLargeUploads;
  ch.limitLargeUploads = limit ? 1 : 0;
  ch.dataCallback = [limit](SdoChannel&, int event, int32_t number, const uint8_t*) -> int32_t {
    if (event != kSdoBlockAnnounced) return 0;
    if (limit && number > kLargeUploadLimit) return static_cast<int32_t>(kAbortCannotTransfer21);
    return -1;
  };
  SdoBlockingRequest request;
  request.nodeId = nodeId_;
  request.index = index;
  request.subIndex = subIndex;
  request.dataType = type;
  request.timeoutMs = settings_.clientTimeoutMs;
  inTransfer_ = true;
  const SdoBlockingOutcome outcome = RunBlockingTransfer(*port_, request);
  inTransfer_ = false;
  ch.dataCallback = nullptr;
  if (outcome == SdoBlockingOutcome::kTimedOut && message_)
    message_(ObjectText("Timeout while reading 0x%04X.%02X.", index, subIndex));
  const bool ok = outcome == SdoBlockingOutcome::kDone;
  if (abortCode) *abortCode = ok ? 0 : ch.abortCode;
  OdEntry* e = od_.find(index, subIndex);
  if (!e && ok && scanRead_) {
    if (od_.insert(scannedEntry(index, subIndex, type, ch)) >= 0) e = od_.find(index, subIndex);
  }
  if (!e) return ok;
  if (!ok) {
    if (outcome == SdoBlockingOutcome::kAborted || ch.abortCode != 0) e->lastAbortCode = ch.abortCode;
    e->highlight |= kOdHighlightRedraw;
    return false;
  }
  e->currentValid = 1;
  OdValue& v = e->currentValue;
  v.dataType = type != 0 ? type : e->defaultValue.dataType;
  if (ch.blockLength == 0) {
    od_.pool().release(v);
    std::memcpy(v.data, ch.value, 4);
    const int size = ch.valueSize == 0 ? 4 : ch.valueSize;
    v.inlineLength = static_cast<uint8_t>(size > 4 ? 4 : size);
  } else {
    const int32_t length = ch.position < kSdoBufferSize ? ch.position : kSdoBufferSize;
    if (!od_.pool().store(v, ch.buffer, static_cast<size_t>(length))) {
      // No block left: the first bytes at least.
      od_.pool().release(v);
      std::memcpy(v.data, ch.buffer, 4);
      v.inlineLength = static_cast<uint8_t>(length < 4 ? length : 4);
    } else {
      v.blockLength = static_cast<uint16_t>(length);
    }
    if (e->defaultValue.dataType == kCoTypeDomain) e->fileSize = ch.position;
  }
  e->currentSource.clear();
  e->highlight |= kOdHighlightRedraw;
  od_.markChanged();
  return true;
}

bool DictionaryBrowser::WriteRemoteObject(int position) {
  if (!port_ || position < 0 || position >= od_.count()) return false;
  OdEntry& e = od_.slot(position);
  uint8_t type = e.defaultValue.dataType;
  if (type == 0) type = static_cast<uint8_t>(StandardObjectType(e.index, e.subIndex));
  const OdValue& value = e.currentValid != 0 ? e.currentValue : e.defaultValue;
  SdoBlockingRequest request;
  request.nodeId = nodeId_;
  request.index = e.index;
  request.subIndex = e.subIndex;
  request.dataType = type;
  request.download = true;
  request.timeoutMs = settings_.clientTimeoutMs;
  if (type == kCoTypeVisibleString || type == kCoTypeOctetString) {
    const OdValue* holder = value.hasBlock() ? &value : e.defaultValue.hasBlock() ? &e.defaultValue : nullptr;
    if (holder) {
      const int32_t length = holder->blockLength < kSdoBufferSize ? holder->blockLength : kSdoBufferSize;
      if (length > 4) {
        request.block = holder->block;
        request.blockLength = length;
      } else {
        std::memcpy(request.value, holder->block, static_cast<size_t>(length));
        request.valueSize = static_cast<uint8_t>(length);
      }
    } else if (value.inlineLength > 0) {
      // A short string lives in the value bytes themselves.
      std::memcpy(request.value, value.data, 4);
      request.valueSize = value.inlineLength;
    } else {
      return false;
    }
  } else {
    std::memcpy(request.value, value.data, 4);
    OdValue typed = value.withoutBlock();
    typed.dataType = value.dataType != 0 ? value.dataType : type;
    const int size = OdValueSize(typed);
    request.valueSize = static_cast<uint8_t>(size >= 1 && size <= 4 ? size : 4);
  }
  inTransfer_ = true;
  const SdoBlockingOutcome outcome = RunBlockingTransfer(*port_, request);
  inTransfer_ = false;
  if (outcome == SdoBlockingOutcome::kTimedOut && message_)
    message_(ObjectText("Timeout while writing 0x%04X.%02X.", e.index, e.subIndex));
  OdEntry& after = od_.slot(position);
  after.highlight |= kOdHighlightRedraw;
  if (outcome == SdoBlockingOutcome::kDone) return true;
  after.lastAbortCode = port_->client().abortCode;
  if (after.lastAbortCode == kSdoAbortReadOnly && scanFinished_) after.access &= static_cast<uint8_t>(~0x02);
  return false;
}

OdEntry DictionaryBrowser::scannedEntry(uint16_t index, uint8_t subIndex, uint8_t type,
                                        const SdoChannel& ch) const {
  OdEntry e = NewOdEntry(index, subIndex);
  e.setName(StandardObjectName(index, subIndex == 0 ? kWholeObject : subIndex, true));
  e.objectType = 7;
  e.access = 0x03;
  if (type == kCoTypeUnknown) {
    const bool expedited = ch.blockLength == 0;
    const int size = expedited ? (ch.valueSize == 0 ? 4 : ch.valueSize) : ch.position;
    if (size == 1)
      type = kCoTypeUnsigned8;
    else if (size == 2)
      type = kCoTypeUnsigned16;
    else if (size == 4)
      type = kCoTypeUnsigned32;
    // Without a type the entry could be neither shown nor saved in a form that loads again.
    else if (expedited)
      type = kCoTypeUnsigned24;
    else
      type = kCoTypeOctetString;
  }
  e.defaultValue.dataType = type;
  e.currentValue.dataType = type;
  switch (type) {
    case kCoTypeInteger8:
    case kCoTypeInteger16:
    case kCoTypeInteger32:
    case kCoTypeReal32:
      e.display = 'd';
      break;
    case kCoTypeUnsigned8:
      e.display = 'D';
      break;
    case kCoTypeVisibleString:
      e.display = 'M';
      break;
    default:
      e.display = 'H';
      break;
  }
  return e;
}

int DictionaryBrowser::writeBackRow(int row) {
  if (row < 0 || row >= od_.count()) return -1;
  const uint16_t index = od_.slot(row).index;
  const uint8_t subIndex = od_.slot(row).subIndex;
  apply();
  const int position = od_.findPosition(index, subIndex);
  if (position < 0) return -1;
  od_.slot(position).currentValid = 1;
  if (remote()) {
    if (WriteRemoteObject(position))
      ++od_.slot(position).writeCount;
    else
      ++od_.slot(position).errorCount;
  }
  od_.markChanged();
  rows_[static_cast<size_t>(position)] = rendered_[static_cast<size_t>(position)] =
      renderRow(od_.slot(position));
  return position;
}

void DictionaryBrowser::startRead() {
  // A running scan is ended by "Stop" only: another pass would leave it unfinished.
  if (!remote() || scanning()) return;
  mode_ = markedOnly ? BrowserPassMode::kReadMarked : BrowserPassMode::kReadAll;
  // The values about to be read are not shown meanwhile.
  for (BrowserRow& r : rows_) r[kColValue].clear();
  phase_ = BrowserPassPhase::kStart;
}

void DictionaryBrowser::startWrite() {
  if (!remote() || scanning()) return;
  mode_ = BrowserPassMode::kWriteAll;
  status_ = "SENDING OD VIA CANOPEN-SDO, PLEASE WAIT !";
  phase_ = BrowserPassPhase::kStart;
}

void DictionaryBrowser::startScan(DictionaryScanner& scanner) {
  if (!remote() || phase_ != BrowserPassPhase::kIdle) return;
  scanner_ = &scanner;
  mode_ = BrowserPassMode::kDictionaryScan;
  phase_ = BrowserPassPhase::kStart;
}

void DictionaryBrowser::stopScan() {
  if (scanning()) phase_ = BrowserPassPhase::kFinish;
}

void DictionaryBrowser::scanStep(std::vector<int>* changedRows) {
  uint16_t index = 0;
  uint8_t subIndex = 0;
  if (!scanner_ || !scanner_->nextObject(index, subIndex)) {
    phase_ = BrowserPassPhase::kFinish;
    return;
  }
  if (onScanProgress) onScanProgress();
  const int before = od_.count();
  uint32_t abortCode = 0;
  scanRead_ = true;
  const bool ok = ReadRemoteObject(index, subIndex, 0, &abortCode);
  scanRead_ = false;
  // "Stop" may have come while the read waited: it stands.
  if (!scanner_->recordResult(ok, abortCode) && phase_ == BrowserPassPhase::kRun)
    phase_ = BrowserPassPhase::kFinish;
  passAccessed_ = scanner_->objectsRead();
  passErrors_ = scanner_->accessErrors();
  if (onScanProgress) onScanProgress();
  if (!ok) return;
  if (od_.count() != before) {
    // A new entry moves every row behind it.
    rebuild();
    if (changedRows)
      for (int i = 0; i < rowCount(); ++i) changedRows->push_back(i);
  } else if (const int now = od_.findPosition(index, subIndex); now >= 0 && now < rowCount() - 1) {
    od_.slot(now).highlight &= ~kOdHighlightRedraw;
    rows_[static_cast<size_t>(now)] = rendered_[static_cast<size_t>(now)] = renderRow(od_.slot(now));
    if (changedRows) changedRows->push_back(now);
  }
  gridPos_ = std::to_string(od_.count()) + " entries in OD";
}

void DictionaryBrowser::setPeriodic(bool on) {
  periodic_ = on;
  if (on && phase_ == BrowserPassPhase::kIdle) startRead();
  // Unchecking lets the running pass end; it does not start over.
}

int DictionaryBrowser::nextPassPosition(int position) const {
  for (int i = position + 1; i < od_.count(); ++i) {
    const OdEntry& e = od_.slot(i);
    if (mode_ == BrowserPassMode::kReadMarked && (e.markFlags & 1) == 0) continue;
    if (mode_ == BrowserPassMode::kWriteAll && !Writable(e)) continue;
    return i;
  }
  return -1;
}

int DictionaryBrowser::passTick(std::vector<int>* changedRows) {
  if (!remote() || inTransfer_ || port_->client().busy())
    return phase_ == BrowserPassPhase::kIdle ? kIdleIntervalMs : kRunIntervalMs;
  switch (phase_) {
    case BrowserPassPhase::kIdle:
      if (!periodic_) return kIdleIntervalMs;
      startRead();
      [[fallthrough]];
    case BrowserPassPhase::kStart:
      passPosition_ = -1;
      passAccessed_ = 0;
      passErrors_ = 0;
      status_ = mode_ == BrowserPassMode::kWriteAll ? "WRITING OD VIA CANOPEN-SDO, PLEASE WAIT !"
                                                    : "READING OD VIA CANOPEN-SDO, PLEASE WAIT !";
      phase_ = BrowserPassPhase::kRun;
      return kRunIntervalMs;
    case BrowserPassPhase::kRun: {
      if (mode_ == BrowserPassMode::kDictionaryScan) {
        scanStep(changedRows);
        return kRunIntervalMs;
      }
      const int position = nextPassPosition(passPosition_);
      if (position < 0) {
        phase_ = BrowserPassPhase::kFinish;
        return kRunIntervalMs;
      }
      passPosition_ = position;
      const uint16_t index = od_.slot(position).index;
      const uint8_t subIndex = od_.slot(position).subIndex;
      bool ok;
      if (mode_ == BrowserPassMode::kWriteAll)
        ok = WriteRemoteObject(position);
      else
        ok = ReadRemoteObject(index, subIndex, od_.slot(position).defaultValue.dataType);
      // A wait lets other code run: the entry is looked up again, not trusted at its old place.
      const int now = od_.findPosition(index, subIndex);
      if (now >= 0) {
        OdEntry& e = od_.slot(now);
        if (ok)
          ++(mode_ == BrowserPassMode::kWriteAll ? e.writeCount : e.readCount);
        else
          ++e.errorCount;
        e.highlight &= ~kOdHighlightRedraw;
        if (now < rowCount() - 1) {
          rows_[static_cast<size_t>(now)] = rendered_[static_cast<size_t>(now)] = renderRow(e);
          if (changedRows) changedRows->push_back(now);
        }
        passPosition_ = now;
      }
      ++passAccessed_;
      if (!ok) ++passErrors_;
      return kRunIntervalMs;
    }
    case BrowserPassPhase::kFinish:
      rebuild();
      if (mode_ == BrowserPassMode::kDictionaryScan && scanner_) {
        status_ = scanner_->finalStatusText();
        gridPos_ = std::to_string(od_.count()) + " entries in OD";
        scanFinished_ = true;
        ++scansFinished_;
      } else {
        status_ = std::string("Finished ") + (mode_ == BrowserPassMode::kWriteAll ? "writing" : "reading") +
                  " OD,  " + std::to_string(passAccessed_) + " objects accessed,  " +
                  std::to_string(passErrors_) + " access error(s) .";
      }
      phase_ = BrowserPassPhase::kIdle;
      if (changedRows)
        for (int i = 0; i < rowCount(); ++i) changedRows->push_back(i);
      if (periodic_) {
        startRead();
        return kRunIntervalMs;
      }
      return kIdleIntervalMs;
  }
  return kIdleIntervalMs;
}

}  // namespace busprobe
