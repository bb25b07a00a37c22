#include "canopen/eds_file.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

#include "base/canopen_types.h"
#include "base/ini_file.h"
#include "base/number_lex.h"
#include "canopen/od_tables.h"
#include "canopen/standard_objects.h"

namespace busprobe {

namespace {

constexpr uint8_t kObjectDomain = 0x02;
constexpr uint8_t kObjectArray = 0x08;
constexpr uint8_t kObjectRecord = 0x09;
constexpr int kMaxSubIndex = 0xFE;
constexpr std::size_t kMaxStringValue = 2048;

constexpr struct {
  const char* key;
  uint16_t bit;
} kBaudRateKeys[] = {{"BaudRate_10", kEdsBaud10},   {"BaudRate_20", kEdsBaud20},
                     {"BaudRate_50", kEdsBaud50},   {"BaudRate_125", kEdsBaud125},
                     {"BaudRate_250", kEdsBaud250}, {"BaudRate_500", kEdsBaud500},
                     {"BaudRate_800", kEdsBaud800}, {"BaudRate_1000", kEdsBaud1000}};

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string Cut(std::string s, std::size_t limit) {
  if (s.size() > limit) s.resize(limit);
  return s;
}

// One term without the placeholder: "0x" hexadecimal (a '-' ahead of it negates), else signed
// decimal. Digits must start the term; what follows them is ignored, as the files' own tools do.
// Values beyond 32 bits saturate.
bool ParsePlainNumber(std::string_view t, uint32_t& value) {
  bool negative = false;
  std::string_view rest = t;
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) {
    negative = rest[0] == '-';
    rest.remove_prefix(1);
  }
  if (const std::size_t prefix = HexPrefixLength(rest, false); prefix > 0) {
    rest.remove_prefix(prefix);
    const char* p = rest.data();
    uint64_t v = 0;
    const int n = ScanDigits(p, p + rest.size(), 16, 17, v);
    if (n == 0) return false;
    if (n > 16 || v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    value = static_cast<uint32_t>(negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
    return true;
  }
  const char* p = rest.data();
  uint64_t v = 0;
  const int n = ScanDigits(p, p + rest.size(), 10, 20, v);
  if (n == 0) return false;
  if (negative) {
    if (n > 10 || v > 0x80000000ull) v = 0x80000000ull;
    value = 0u - static_cast<uint32_t>(v);
  } else {
    // Decimal UNSIGNED32 values are common; only what exceeds 32 bits saturates.
    if (n > 19 || v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    value = static_cast<uint32_t>(v);
  }
  return true;
}

bool IsNodeIdTerm(std::string_view t) {
  return EqualsNoCase(t, "$NODEID");
}

}  // namespace

bool ParseEdsNumber(std::string_view text, uint8_t nodeId, uint32_t& value, bool* usesNodeId) {
  text = Trim(text);
  if (usesNodeId) *usesNodeId = false;
  bool hasPlaceholder = false;
  for (std::size_t i = 0; i + 7 <= text.size(); ++i) {
    if (text[i] == '$' && IsNodeIdTerm(text.substr(i, 7))) hasPlaceholder = true;
  }
  if (!hasPlaceholder) return ParsePlainNumber(text, value);
  // A sum (or difference) of numbers and the placeholder.
  uint32_t sum = 0;
  std::size_t pos = 0;
  bool negate = false;
  while (true) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != '+' && text[end] != '-') ++end;
    const std::string_view term = Trim(text.substr(pos, end - pos));
    uint32_t v = 0;
    if (IsNodeIdTerm(term)) {
      v = nodeId;
    } else if (!ParsePlainNumber(term, v)) {
      return false;
    }
    sum += negate ? 0u - v : v;
    if (end >= text.size()) break;
    negate = text[end] == '-';
    pos = end + 1;
  }
  value = sum;
  if (usesNodeId) *usesNodeId = true;
  return true;
}

namespace {

// ----------------------------------------------------------------------------------------------
// Reading

class EdsReader {
 public:
  EdsReader(std::string_view text, bool isDcf, uint8_t nodeId, ObjectDictionary& od, std::string& problem)
      : ini_(IniFile::parse(text)), isDcf_(isDcf), nodeId_(nodeId), od_(od), problem_(problem) {
    indexSubSections(text);
  }

  void readHeaders(EdsFileInfo& file, EdsDeviceInfo& device);
  void readObjectLists();

 private:
  void indexSubSections(std::string_view text);
  uint32_t number(std::string_view section, std::string_view key, uint32_t def) const;
  void readObject(uint16_t index);
  // An entry from the keys of `section`; false when the dictionary is full.
  bool addEntry(const std::string& section, uint16_t index, uint8_t sub, uint8_t objectType, std::string name,
                uint32_t fallback);
  void readValue(OdValue& value, const std::string& text, uint8_t type, uint32_t fallback, uint16_t index,
                 uint8_t sub, std::string& source, uint32_t& sourceValue, bool& given);
  void setProblem(const std::string& text) {
    if (problem_.empty()) problem_ = text;
  }

  IniFile ini_;
  bool isDcf_;
  uint8_t nodeId_;
  ObjectDictionary& od_;
  std::string& problem_;
  bool full_ = false;
  std::vector<bool> seen_ = std::vector<bool>(0x10000, false);
  // Indexes whose object section the file has.
  std::vector<bool> objectSections_ = std::vector<bool>(0x10000, false);
  std::vector<uint16_t> sectionOrder_;  // those indexes in file order
  uint32_t lineCount_ = 0;
  // (index << 8 | subindex) -> the sub-section's name as the file spells it.
  std::unordered_map<uint32_t, std::string> subSections_;
};

void EdsReader::indexSubSections(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineCount_;
    if (line.size() < 3 || line.front() != '[') continue;
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(1, close - 1));
    const char* p = name.data();
    const char* stop = p + name.size();
    uint64_t index = 0, sub = 0;
    const int indexDigits = ScanDigits(p, stop, 16, 5, index);
    if (indexDigits == 0 || indexDigits > 4) continue;
    if (p == stop) {
      if (!objectSections_[index]) sectionOrder_.push_back(static_cast<uint16_t>(index));
      objectSections_[index] = true;
      continue;
    }
    if (stop - p < 4) continue;
    if (!EqualsNoCase(std::string_view(p, 3), "sub")) continue;
    p += 3;
    const int subDigits = ScanDigits(p, stop, 16, 4, sub);
    if (subDigits == 0 || p != stop || sub > static_cast<uint64_t>(kMaxSubIndex)) continue;
    subSections_.emplace(static_cast<uint32_t>(index << 8 | sub), std::string(name));
  }
}

uint32_t EdsReader::number(std::string_view section, std::string_view key, uint32_t def) const {
  const std::string text = ini_.getString(section, key, "");
  uint32_t v = 0;
  return ParseEdsNumber(text, nodeId_, v) ? v : def;
}

void EdsReader::readHeaders(EdsFileInfo& file, EdsDeviceInfo& device) {
  file = EdsFileInfo();
  device = EdsDeviceInfo();
  const std::string_view fi = "FileInfo";
  auto str = [&](std::string_view section, std::string_view key, std::size_t limit) {
    return Cut(ini_.getString(section, key, ""), limit);
  };
  file.fileName = str(fi, "FileName", 255);
  if (!isDcf_) file.lastEdsName = file.fileName;
  file.fileVersion = static_cast<uint8_t>(number(fi, "FileVersion", 0));
  file.fileRevision = static_cast<uint8_t>(number(fi, "FileRevision", 0));
  file.edsVersion = str(fi, "EDSVersion", 3);
  file.description = str(fi, "Description", 255);
  file.creationTime = str(fi, "CreationTime", 15);
  file.creationDate = str(fi, "CreationDate", 15);
  file.createdBy = str(fi, "CreatedBy", 255);
  file.modificationTime = str(fi, "ModificationTime", 15);
  file.modificationDate = str(fi, "ModificationDate", 15);
  file.modifiedBy = str(fi, "ModifiedBy", 255);
  if (isDcf_) file.lastEdsName = str(fi, "LastEDS", 255);

  const std::string_view di = "DeviceInfo";
  device.vendorName = str(di, "VendorName", 255);
  device.vendorNumber = static_cast<int32_t>(number(di, "VendorNumber", 0));
  device.productName = str(di, "ProductName", 255);
  device.productNumber = static_cast<int32_t>(number(di, "ProductNumber", 0));
  device.revisionNumber = static_cast<int32_t>(number(di, "RevisionNumber", 0));
  device.orderCode = str(di, "OrderCode", 255);
  for (const auto& r : kBaudRateKeys) {
    if (number(di, r.key, 0) != 0) device.baudRates |= r.bit;
  }
  auto byte = [&](const char* key) { return static_cast<uint8_t>(number(di, key, 0)); };
  device.simpleBootUpMaster = byte("SimpleBootUpMaster");
  device.simpleBootUpSlave = byte("SimpleBootUpSlave");
  device.granularity = byte("Granularity");
  device.dynamicChannelsSupported = byte("DynamicChannelsSupported");
  device.groupMessaging = byte("GroupMessaging");
  device.nrOfRxPdo = byte("NrOfRXPDO");
  device.nrOfTxPdo = byte("NrOfTXPDO");
  device.lssSupported = byte("LSS_Supported");
  for (int n = 1; n <= 7; ++n) {
    char key[16];
    std::snprintf(key, sizeof key, "Dummy%04X", n);
    if (number("DummyUsage", key, 0) != 0)
      device.dummyUsage = static_cast<uint8_t>(device.dummyUsage | 1u << (n - 1));
  }
}

void EdsReader::readObjectLists() {
  for (const char* list : {"MandatoryObjects", "OptionalObjects", "ManufacturerObjects"}) {
    // A list has no more keys than the file has lines: an absurd count is not searched to its end.
    const uint32_t count = std::min<uint32_t>(number(list, "SupportedObjects", 0), lineCount_);
    for (uint32_t n = 1; n <= count && !full_; ++n) {
      const uint32_t index = number(list, std::to_string(n), 0);
      if (index == 0 || index > 0xFFFF) continue;
      readObject(static_cast<uint16_t>(index));
    }
  }
  // Objects whose sections the lists forget (real files miscount or leave lists short) are still
  // the device's objects: they follow in file order.
  for (const uint16_t index : sectionOrder_) {
    if (full_) break;
    if (index != 0) readObject(index);
  }
}

void EdsReader::readValue(OdValue& value, const std::string& text, uint8_t type, uint32_t fallback,
                          uint16_t index, uint8_t sub, std::string& source, uint32_t& sourceValue,
                          bool& given) {
  given = !text.empty();
  value.dataType = type;
  if (type == kCoTypeVisibleString) {
    const std::size_t n = std::min(text.size(), kMaxStringValue);
    if (n <= 4) {
      std::memset(value.data, 0, 4);
      std::memcpy(value.data, text.data(), n);
      value.inlineLength = static_cast<uint8_t>(n);
    } else if (!od_.pool().store(value, reinterpret_cast<const uint8_t*>(text.data()), n)) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "no free block for the text of object 0x%04X sub %u", index, sub);
      setProblem(buf);
      value.inlineLength = 0;
    }
    return;
  }
  uint32_t v = fallback;
  bool nodeRelative = false;
  if (type == kCoTypeReal32) {
    const std::string_view t = Trim(text);
    float f = static_cast<float>(fallback);
    if (HexPrefixLength(t, false) > 0 && ParseEdsNumber(t, nodeId_, v)) {
      // The files' own tools write REAL32 values as their bit pattern.
      std::memcpy(&f, &v, sizeof f);
    } else {
      const char* first = t.data();
      const char* last = t.data() + t.size();
      if (first != last && *first == '+') ++first;
      double d = 0;
      if (std::from_chars(first, last, d).ec == std::errc() && std::isfinite(d)) f = static_cast<float>(d);
    }
    std::memcpy(&v, &f, sizeof v);
  } else if (!ParseEdsNumber(text, nodeId_, v, &nodeRelative)) {
    v = fallback;
  }
  value.setData32(v);
  value.inlineLength = (type == kCoTypeInteger8 || type == kCoTypeUnsigned8)     ? 1
                       : (type == kCoTypeInteger16 || type == kCoTypeUnsigned16) ? 2
                                                                                 : 4;
  // Kept only when short enough to be a formula: a cut text would write back something else.
  if (nodeRelative && Trim(text).size() <= 64) {
    source = std::string(Trim(text));
    sourceValue = v;
  }
}

bool EdsReader::addEntry(const std::string& section, uint16_t index, uint8_t sub, uint8_t objectType,
                         std::string name, uint32_t fallback) {
  if (od_.count() >= kOdSlotCount) {
    full_ = true;
    char buf[96];
    std::snprintf(buf, sizeof buf, "dictionary full: objects from 0x%04X sub %u on left out", index, sub);
    setProblem(buf);
    return false;
  }
  OdEntry e = NewOdEntry(index, sub);
  e.objectType = objectType;
  e.setName(name);
  const uint8_t type = static_cast<uint8_t>(number(section, "DataType", kCoTypeUnsigned32));
  e.access = OdParseEdsAccess(ini_.getString(section, "AccessType", ""));
  if (number(section, "PDOMapping", 0) != 0) e.access |= kOdAccessPdo;
  e.display = type == kCoTypeVisibleString ? 'a'
              : (type == kCoTypeReal32 || type == kCoTypeInteger8 || type == kCoTypeInteger16 ||
                 type == kCoTypeInteger32)
                  ? 'd'
                  : 'h';
  bool given = false;
  readValue(e.defaultValue, ini_.getString(section, "DefaultValue", ""), type, fallback, index, sub,
            e.defaultSource, e.defaultSourceValue, given);
  e.hasDefault = given ? 1 : 0;
  if (isDcf_) {
    const std::string current = ini_.getString(section, "ParameterValue", "");
    readValue(e.currentValue, current, type, fallback, index, sub, e.currentSource, e.currentSourceValue,
              given);
    e.currentValid = given ? 1 : 0;
  } else {
    // A copy without the block: two values sharing one block would free it twice.
    e.currentValue = e.defaultValue.withoutBlock();
  }
  if (od_.append(e) < 0) {
    od_.pool().release(e.defaultValue);
    od_.pool().release(e.currentValue);
    return false;
  }
  return true;
}

void EdsReader::readObject(uint16_t index) {
  // Listed twice: read once. Listed without a section: nothing to read.
  if (seen_[index] || !objectSections_[index]) return;
  seen_[index] = true;
  char sectionName[16];
  std::snprintf(sectionName, sizeof sectionName, "%X", index);
  const std::string section = sectionName;
  const uint32_t subNumber = number(section, "SubNumber", 0);
  const uint32_t compact = std::min<uint32_t>(number(section, "CompactSubObj", 0), kMaxSubIndex);
  const uint8_t objectType = static_cast<uint8_t>(number(section, "ObjectType", kOdObjectVar));
  const std::string objectName = ini_.getString(section, "ParameterName", "");
  const uint32_t subZeroFallback = subNumber > 0xFF ? 0xFF : subNumber;

  // A DOMAIN object carries its data in its own section as a VAR does.
  if (objectType == kOdObjectVar || objectType == kObjectDomain) {
    addEntry(section, index, 0, objectType, objectName, 0);
    return;
  }
  const bool named = !objectName.empty();
  auto subZeroName = [&](const std::string& subName) {
    if (!named) return subName;
    return Cut(objectName, 80) + ": " + Cut(subName, 127);
  };
  if (compact > 0) {
    if (od_.count() >= kOdSlotCount) {
      addEntry(section, index, 0, objectType, "", 0);  // reports the full dictionary
      return;
    }
    OdEntry count = NewOdEntry(index, 0);
    count.objectType = kOdObjectVar;
    count.setName(subZeroName("number of entries"));
    count.access = kOdAccessReadOnly;
    count.display = 'd';
    count.defaultValue.dataType = kCoTypeUnsigned8;
    count.defaultValue.setData32(compact);
    count.defaultValue.inlineLength = 1;
    count.hasDefault = 1;
    count.currentValue = count.defaultValue;
    od_.append(count);
    char valueSection[24];
    std::snprintf(valueSection, sizeof valueSection, "%XValue", index);
    for (uint32_t sub = 1; sub <= compact; ++sub) {
      const auto found = subSections_.find(static_cast<uint32_t>(index) << 8 | sub);
      const std::string name = objectName + "__sub" + std::to_string(sub);
      const int before = od_.count();
      if (!addEntry(section, index, static_cast<uint8_t>(sub), kOdObjectVar, name, 0)) return;
      OdEntry& e = od_.slot(before);
      // The object's own DefaultValue is no sub-object's: only sub-sections give one.
      od_.pool().release(e.defaultValue);
      od_.pool().release(e.currentValue);
      const uint8_t type = e.defaultValue.dataType;
      e.defaultValue = OdValue();
      e.defaultSource.clear();
      e.currentSource.clear();
      bool given = false;
      const std::string text =
          found != subSections_.end() ? ini_.getString(found->second, "DefaultValue", "") : "";
      readValue(e.defaultValue, text, type, 0, index, static_cast<uint8_t>(sub), e.defaultSource,
                e.defaultSourceValue, given);
      e.hasDefault = given ? 1 : 0;
      e.currentValid = 0;
      e.currentValue = OdValue();
      if (isDcf_) {
        // Configured values of compact arrays stand in "<index>Value" under their subindex.
        const std::string current = ini_.getString(valueSection, std::to_string(sub), "");
        readValue(e.currentValue, current, type, 0, index, static_cast<uint8_t>(sub), e.currentSource,
                  e.currentSourceValue, given);
        e.currentValid = given ? 1 : 0;
      } else {
        e.currentValue = e.defaultValue.withoutBlock();
      }
    }
    return;
  }
  // Every sub-section there is: real files leave gaps and put subindexes above SubNumber.
  for (int sub = 0; sub <= kMaxSubIndex && !full_; ++sub) {
    const auto found = subSections_.find(static_cast<uint32_t>(index) << 8 | static_cast<uint32_t>(sub));
    if (found == subSections_.end()) continue;
    const std::string& subSection = found->second;
    std::string name = ini_.getString(subSection, "ParameterName", "");
    if (name.empty()) continue;
    if (sub == 0) name = subZeroName(name);
    const uint8_t subType = static_cast<uint8_t>(number(subSection, "ObjectType", kOdObjectVar));
    addEntry(subSection, index, static_cast<uint8_t>(sub), subType, name, sub == 0 ? subZeroFallback : 0);
  }
}

}  // namespace

bool ReadEdsText(std::string_view text, bool isDcf, uint8_t nodeId, EdsFileInfo& fileInfo,
                 EdsDeviceInfo& deviceInfo, ObjectDictionary& dictionary, std::string& problem) {
  dictionary.clear();
  problem.clear();
  EdsReader reader(text, isDcf, nodeId, dictionary, problem);
  reader.readHeaders(fileInfo, deviceInfo);
  reader.readObjectLists();
  if (dictionary.count() == 0) {
    if (problem.empty()) problem = "no objects found";
    return false;
  }
  return true;
}

// ----------------------------------------------------------------------------------------------
// Writing

namespace {

class EdsWriter {
 public:
  EdsWriter(const ObjectDictionary& od, const EdsWriteOptions& options) : od_(od), options_(options) {}

  void section(std::string_view name) {
    out_ += "\r\n[";
    out_ += name;
    out_ += "]\r\n";
  }
  void key(std::string_view name, std::string_view value) {
    out_ += name;
    out_ += '=';
    // A line break in a value would begin a line of its own.
    const std::size_t brk = value.find_first_of(std::string_view("\r\n\0", 3));
    out_ += brk == std::string_view::npos ? value : value.substr(0, brk);
    out_ += "\r\n";
  }
  void key(std::string_view name, long long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", value);
    key(name, buf);
  }
  void hexKey(std::string_view name, unsigned long value, const char* format = "0x%lX") {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    key(name, buf);
  }

  void headers(const EdsFileInfo& file, const EdsDeviceInfo& device);
  void objects();
  std::string take() { return std::move(out_); }

 private:
  std::string standardName(uint16_t index, int sub) const {
    return options_.standardName ? options_.standardName(index, sub) : StandardObjectName(index, sub, true);
  }
  void object(uint16_t index, const std::vector<int>& positions);
  void entryKeys(const OdEntry& e);
  std::string valueText(const OdValue& v, const std::string& source, uint32_t sourceValue) const;

  const ObjectDictionary& od_;
  const EdsWriteOptions& options_;
  std::string out_;
};

void EdsWriter::headers(const EdsFileInfo& file, const EdsDeviceInfo& device) {
  if (options_.isDcf) out_ += ";  This DCF file was created by Rilo's experimental BUSPROBE.\r\n";
  section("FileInfo");
  std::string_view name = options_.fileName;
  if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos)
    name.remove_prefix(slash + 1);
  key("FileName", name);
  key("FileVersion", file.fileVersion);
  key("FileRevision", file.fileRevision);
  key("EDSVersion", "4.0");
  key("Description", file.description);
  key("CreationTime", file.creationTime);
  key("CreationDate", file.creationDate);
  key("CreatedBy", file.createdBy);
  const std::time_t t = static_cast<std::time_t>(options_.utcSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d%s", tm.tm_hour % 12, tm.tm_min, tm.tm_hour < 12 ? "AM" : "PM");
  key("ModificationTime", buf);
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
  key("ModificationDate", buf);
  key("ModifiedBy", file.modifiedBy);
  if (options_.isDcf) key("LastEDS", file.lastEdsName);

  section("DeviceInfo");
  key("VendorName", device.vendorName);
  key("VendorNumber", device.vendorNumber);
  key("ProductName", device.productName);
  key("ProductNumber", device.productNumber);
  key("RevisionNumber", device.revisionNumber);
  key("OrderCode", device.orderCode);
  for (const auto& r : kBaudRateKeys) key(r.key, (device.baudRates & r.bit) != 0 ? 1 : 0);
  key("SimpleBootUpMaster", device.simpleBootUpMaster);
  key("SimpleBootUpSlave", device.simpleBootUpSlave);
  key("Granularity", device.granularity);
  key("DynamicChannelsSupported", device.dynamicChannelsSupported);
  key("GroupMessaging", device.groupMessaging);
  key("NrOfRXPDO", device.nrOfRxPdo);
  key("NrOfTXPDO", device.nrOfTxPdo);
  key("LSS_Supported", device.lssSupported);

  section("DummyUsage");
  for (int n = 1; n <= 7; ++n) {
    std::snprintf(buf, sizeof buf, "Dummy%04X", n);
    key(buf, (device.dummyUsage >> (n - 1)) & 1);
  }
}

std::string EdsWriter::valueText(const OdValue& v, const std::string& source, uint32_t sourceValue) const {
  const uint32_t raw = v.data32();
  // While the value is the one the node-ID text gave, the text goes back into the file.
  if (!source.empty() && raw == sourceValue && v.dataType != kCoTypeVisibleString) return source;
  char buf[64];
  switch (v.dataType) {
    case kCoTypeUnsigned8:
    case kCoTypeUnsigned16:
    case kCoTypeUnsigned32:
      std::snprintf(buf, sizeof buf, "0x%" PRIX32, raw);
      return buf;
    case kCoTypeReal32: {
      float f;
      std::memcpy(&f, v.data, sizeof f);
      std::snprintf(buf, sizeof buf, "%f", static_cast<double>(f));
      return buf;
    }
    case kCoTypeVisibleString:
      if (v.hasBlock()) {
        return std::string(reinterpret_cast<const char*>(v.block),
                           std::min<std::size_t>(v.blockLength, v.blockCapacity));
      }
      // Short texts are held in the value itself and are written as well.
      return std::string(reinterpret_cast<const char*>(v.data), std::min<std::size_t>(v.inlineLength, 4));
    case kCoTypeOctetString:
      if (v.hasBlock()) {
        return std::string(reinterpret_cast<const char*>(v.block),
                           std::min<std::size_t>(v.blockLength, v.blockCapacity));
      }
      break;
    case kCoTypeInteger8:
      std::snprintf(buf, sizeof buf, "%d", static_cast<int8_t>(raw & 0xFF));
      return buf;
    case kCoTypeInteger16:
      std::snprintf(buf, sizeof buf, "%d", static_cast<int16_t>(raw & 0xFFFF));
      return buf;
    default:
      break;
  }
  std::snprintf(buf, sizeof buf, "%" PRId32, static_cast<int32_t>(raw));
  return buf;
}

void EdsWriter::entryKeys(const OdEntry& e) {
  hexKey("DataType", e.defaultValue.dataType, "0x%04lX");
  key("AccessType", OdEdsAccessText(e.access));
  key("DefaultValue",
      e.hasDefault != 0 ? valueText(e.defaultValue, e.defaultSource, e.defaultSourceValue) : "");
  key("PDOMapping", (e.access & kOdAccessPdo) != 0 ? 1 : 0);
  if (options_.isDcf) {
    key("ParameterValue",
        e.currentValid != 0 ? valueText(e.currentValue, e.currentSource, e.currentSourceValue) : "");
  }
}

uint8_t ObjectTypeOf(uint16_t index, const ObjectDictionary& od, const std::vector<int>& positions) {
  if (positions.size() == 1 && od.slot(positions[0]).subIndex == 0) return kOdObjectVar;
  if (index <= 0x1FFF && positions.size() > 1) {
    if (index == 0x1003 || index == 0x1004 || index == 0x1010 || index == 0x1011 || index == 0x1016)
      return kObjectArray;
    if (index == 0x1018 || (index >= 0x1200 && index <= 0x12FF) || (index >= 0x1400 && index <= 0x1BFF))
      return kObjectRecord;
  }
  int type = -1;
  for (int p : positions) {
    const OdEntry& e = od.slot(p);
    if (e.subIndex == 0) continue;
    if (type >= 0 && type != e.defaultValue.dataType) return kObjectRecord;
    type = e.defaultValue.dataType;
  }
  return kObjectArray;
}

void EdsWriter::object(uint16_t index, const std::vector<int>& positions) {
  const OdEntry& first = od_.slot(positions.front());
  const uint8_t objectType = ObjectTypeOf(index, od_, positions);
  const bool singleVar = objectType == kOdObjectVar;
  char name[32];
  std::snprintf(name, sizeof name, "%X", index);
  section(name);
  if (!singleVar) hexKey("SubNumber", positions.size());
  const std::string_view firstName = first.nameView();
  const std::size_t colon = firstName.find(':');
  std::string objectName;
  if (singleVar) {
    objectName = firstName.empty() ? standardName(index, -1) : std::string(firstName);
  } else if (colon != std::string_view::npos && colon > 0) {
    objectName = std::string(firstName.substr(0, colon));
  } else {
    objectName = standardName(index, -1);
  }
  key("ParameterName", objectName);
  hexKey("ObjectType", objectType);
  if (singleVar) {
    entryKeys(first);
    return;
  }
  for (int p : positions) {
    const OdEntry& e = od_.slot(p);
    std::snprintf(name, sizeof name, "%Xsub%X", index, e.subIndex);
    section(name);
    std::string_view entryName = e.nameView();
    if (e.subIndex == 0) {
      const std::size_t c = entryName.find(':');
      if (c != std::string_view::npos && c > 0) {
        std::string_view after = entryName.substr(c + 1);
        while (!after.empty() && IsBlank(after.front())) after.remove_prefix(1);
        if (!after.empty()) entryName = after;
      }
    }
    key("ParameterName", entryName.empty() ? standardName(index, e.subIndex) : std::string(entryName));
    const uint8_t type = (e.objectType == 0xFE || e.objectType == 0) ? kOdObjectVar : e.objectType;
    hexKey("ObjectType", type);
    entryKeys(e);
  }
}

void EdsWriter::objects() {
  const int used = od_.count();
  // Each index once, in dictionary order, with its entries in dictionary order.
  std::vector<uint16_t> order;
  std::unordered_map<uint16_t, std::vector<int>> byIndex;
  for (int p = 0; p < used; ++p) {
    const uint16_t index = od_.slot(p).index;
    auto& list = byIndex[index];
    if (list.empty()) order.push_back(index);
    list.push_back(p);
  }
  auto mandatory = [](uint16_t i) { return i == 0x1000 || i == 0x1001 || i == 0x1018; };
  auto manufacturer = [](uint16_t i) { return i >= 0x2000 && i <= 0x5FFF; };
  auto optional = [&](uint16_t i) { return !mandatory(i) && ((i >= 0x1000 && i <= 0x1FFF) || i >= 0x6000); };
  const struct {
    const char* name;
    std::function<bool(uint16_t)> belongs;
  } lists[] = {
      {"MandatoryObjects", mandatory}, {"ManufacturerObjects", manufacturer}, {"OptionalObjects", optional}};
  for (const auto& list : lists) {
    std::vector<uint16_t> members;
    for (uint16_t i : order) {
      if (list.belongs(i)) members.push_back(i);
    }
    section(list.name);
    key("SupportedObjects", static_cast<long long>(members.size()));
    for (std::size_t n = 0; n < members.size(); ++n) hexKey(std::to_string(n + 1), members[n], "0x%04lX");
    for (uint16_t i : members) object(i, byIndex[i]);
  }
}

}  // namespace

std::string WriteEdsText(const EdsFileInfo& fileInfo, const EdsDeviceInfo& deviceInfo,
                         const ObjectDictionary& dictionary, const EdsWriteOptions& options) {
  EdsWriter writer(dictionary, options);
  writer.headers(fileInfo, deviceInfo);
  writer.objects();
  return writer.take();
}

}  // namespace busprobe
