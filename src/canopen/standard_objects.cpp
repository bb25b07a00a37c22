#include "canopen/standard_objects.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string_view>

#include "base/canopen_types.h"

namespace busprobe {

namespace {

constexpr std::string_view kArraySubZero = "number of entries";
constexpr std::string_view kRecordSubZero = "largest subindex supported";

enum class Shape : uint8_t {
  kVar,
  // A variable that users keep addressing with subindexes: those get a warning rather than nothing.
  kSimpleVar,
  kArray,
  kRecord,
};

template <typename Row, size_t N>
constexpr bool AscendingByIndex(const Row (&rows)[N]) {
  for (size_t i = 1; i < N; ++i) {
    if (rows[i - 1].index >= rows[i].index) return false;
  }
  return true;
}

// `pattern` with each "%d" replaced by the next number.
std::string Numbered(std::string_view pattern, long first, long second = 0) {
  std::string out;
  out.reserve(pattern.size() + 8);
  const long numbers[2] = {first, second};
  int used = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd' && used < 2) {
      out += std::to_string(numbers[used++]);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

// ---- Communication objects (CiA 301) and network management objects (CiA 302) ----

struct CommunicationObject {
  uint16_t index;
  std::string_view name;
  Shape shape = Shape::kVar;
  // Names of subindex 1, 2, ...
  std::span<const std::string_view> subs = {};
  // The subindexes after `subs` up to `moreLast`; "%d" stands for the subindex.
  std::string_view more = {};
  uint8_t moreLast = 0;
  // Subindex 0 when it is more than the count of the shape.
  std::string_view subZero = {};
  // Subindex 0x80 addresses all nodes at once.
  bool allNodes = false;
  // The type of subindex 0 and of 1..typedLast (subZeroType, when set, for subindex 0).
  uint8_t type = kCoTypeUnknown;
  uint8_t subZeroType = kCoTypeUnknown;
  uint8_t typedLast = 255;
};

constexpr std::string_view kStoreSubs[] = {"save all parameters", "save communication parameters",
                                           "save application parameters", "save manufacturer parameters"};
constexpr std::string_view kRestoreSubs[] = {
    "restore all default parameters", "restore communication default parameters",
    "restore application default parameters", "restore manufacturer default parameters"};
constexpr std::string_view kPdoCountSubs[] = {"number of synchronous PDOs", "number of asynchronous PDOs"};
constexpr std::string_view kIdentitySubs[] = {"Vendor ID", "Product Code", "Revision Number",
                                              "Serial Number"};
constexpr std::string_view kVerifySubs[] = {"Configuration date", "Configuration time"};
constexpr std::string_view kOsCommandSubs[] = {"Command", "Status", "Reply"};
constexpr std::string_view kOsPromptSubs[] = {"StdIn", "StdOut", "StdErr"};
constexpr std::string_view kErrorBehaviourSubs[] = {"Communication error"};
constexpr std::string_view kFlyingMasterSubs[] = {
    "NMT master timeout", "NMT master negotiation delay", "NMT master priority",
    "Priority time slot", "CANopen device time slot",     "Multiple NMT master detect cycle times"};
constexpr std::string_view kSelfStartingSubs[] = {"NMT master detection timeout",
                                                  "NMT master request delay time", "Node time slot"};

constexpr std::string_view kNodeId = "Node-ID %d";

constexpr CommunicationObject kCommunicationObjects[] = {
    {.index = 0x1000, .name = "Device Type", .type = kCoTypeUnsigned32},
    {.index = 0x1001, .name = "Error Register", .type = kCoTypeUnsigned8},
    {.index = 0x1002, .name = "Manufacturer Status Register", .type = kCoTypeUnsigned32},
    {.index = 0x1003,
     .name = "Pre-defined Error Field",
     .shape = Shape::kArray,
     .more = "standard error field",
     .moreLast = 254,
     .subZero = "number of errors",
     .type = kCoTypeUnsigned32},
    {.index = 0x1004,
     .name = "Stoneage number of PDOs",
     .shape = Shape::kRecord,
     .subs = kPdoCountSubs,
     .subZero = "number of PDOs supported",
     .type = kCoTypeUnsigned32},
    {.index = 0x1005, .name = "COB-ID SYNC message", .type = kCoTypeUnsigned32},
    {.index = 0x1006, .name = "Comm Cycle Period", .type = kCoTypeUnsigned32},
    {.index = 0x1007, .name = "SYNC Window Length", .type = kCoTypeUnsigned32},
    {.index = 0x1008, .name = "Manufacturer Device Name", .type = kCoTypeVisibleString},
    {.index = 0x1009, .name = "Manufacturer Hardware Version", .type = kCoTypeVisibleString},
    {.index = 0x100A, .name = "Manufacturer Software Version", .type = kCoTypeVisibleString},
    {.index = 0x100B, .name = "Node-ID (withdrawn?)", .type = kCoTypeUnsigned32},
    {.index = 0x100C, .name = "Guard Time", .type = kCoTypeUnsigned16},
    {.index = 0x100D, .name = "Life Time Factor", .type = kCoTypeUnsigned8},
    {.index = 0x100E, .name = "Guard ID (withdrawn?)", .type = kCoTypeUnsigned32},
    {.index = 0x100F, .name = "Number of SDOs supported (withdrawn)", .type = kCoTypeUnsigned32},
    {.index = 0x1010,
     .name = "Store Parameters",
     .shape = Shape::kArray,
     .subs = kStoreSubs,
     .type = kCoTypeUnsigned32},
    {.index = 0x1011,
     .name = "Restore Default Parameters",
     .shape = Shape::kArray,
     .subs = kRestoreSubs,
     .type = kCoTypeUnsigned32},
    {.index = 0x1012, .name = "COB-ID Time Stamp Object", .type = kCoTypeUnsigned32},
    {.index = 0x1013, .name = "High Resolution Time Stamp", .type = kCoTypeUnsigned32},
    {.index = 0x1014, .name = "COB-ID Emergency Object", .type = kCoTypeUnsigned32},
    {.index = 0x1015, .name = "Inhibit Time EMCY", .type = kCoTypeUnsigned16},
    {.index = 0x1016,
     .name = "Consumer Heartbeat Entries",
     .shape = Shape::kArray,
     .more = "Consumer heartbeat time %d",
     .moreLast = 127,
     .type = kCoTypeUnsigned32},
    {.index = 0x1017, .name = "Producer Heartbeat Time", .type = kCoTypeUnsigned16},
    {.index = 0x1018,
     .name = "Identity Object",
     .shape = Shape::kRecord,
     .subs = kIdentitySubs,
     .type = kCoTypeUnsigned32,
     .subZeroType = kCoTypeUnsigned8,
     .typedLast = 4},
    {.index = 0x1019, .name = "Sync counter overflow value"},
    {.index = 0x1020, .name = "Verify configuration", .shape = Shape::kArray, .subs = kVerifySubs},
    {.index = 0x1021, .name = "Stored EDS"},
    {.index = 0x1022, .name = "EDS storage format"},
    {.index = 0x1023, .name = "OS command", .shape = Shape::kRecord, .subs = kOsCommandSubs},
    {.index = 0x1024, .name = "OS command mode"},
    {.index = 0x1025, .name = "OS debugger interface", .shape = Shape::kRecord, .subs = kOsCommandSubs},
    {.index = 0x1026, .name = "OS prompt", .shape = Shape::kArray, .subs = kOsPromptSubs},
    {.index = 0x1027,
     .name = "Module list",
     .shape = Shape::kArray,
     .more = "Module %d",
     .moreLast = 254,
     .subZero = "number of connected modules"},
    {.index = 0x1028,
     .name = "Emergency consumer",
     .shape = Shape::kArray,
     .more = "Emergency consumer %d",
     .moreLast = 127},
    {.index = 0x1029,
     .name = "Error behaviour",
     .shape = Shape::kArray,
     .subs = kErrorBehaviourSubs,
     .more = "profile- or manufacturer specific",
     .moreLast = 254},
    {.index = 0x102A, .name = "NMT inhibit time", .shape = Shape::kSimpleVar},
    {.index = 0x1F80, .name = "NMT startup", .shape = Shape::kSimpleVar},
    {.index = 0x1F81,
     .name = "NMT slave assignment",
     .shape = Shape::kArray,
     .more = kNodeId,
     .moreLast = 127},
    {.index = 0x1F82,
     .name = "Request NMT",
     .shape = Shape::kArray,
     .more = kNodeId,
     .moreLast = 127,
     .allNodes = true},
    {.index = 0x1F83,
     .name = "Request node guarding",
     .shape = Shape::kArray,
     .more = kNodeId,
     .moreLast = 127,
     .allNodes = true},
    {.index = 0x1F84,
     .name = "Device type identification",
     .shape = Shape::kArray,
     .more = kNodeId,
     .moreLast = 127},
    {.index = 0x1F85,
     .name = "Vendor identification",
     .shape = Shape::kArray,
     .more = kNodeId,
     .moreLast = 127},
    {.index = 0x1F86, .name = "Product code", .shape = Shape::kArray, .more = kNodeId, .moreLast = 127},
    {.index = 0x1F87, .name = "Revision number", .shape = Shape::kArray, .more = kNodeId, .moreLast = 127},
    {.index = 0x1F88, .name = "Serial number", .shape = Shape::kArray, .more = kNodeId, .moreLast = 127},
    {.index = 0x1F89, .name = "Boot time", .shape = Shape::kSimpleVar},
    {.index = 0x1F8A,
     .name = "Restore configuration",
     .shape = Shape::kArray,
     .more = kNodeId,
     .moreLast = 127},
    {.index = 0x1F90, .name = "NMT flying master timing", .shape = Shape::kRecord, .subs = kFlyingMasterSubs},
    {.index = 0x1F91,
     .name = "Self starting nodes timing parameters",
     .shape = Shape::kRecord,
     .subs = kSelfStartingSubs},
};

static_assert(AscendingByIndex(kCommunicationObjects), "looked up by binary search");

const CommunicationObject* FindCommunicationObject(uint16_t index) {
  const auto* end = std::end(kCommunicationObjects);
  const auto* it = std::lower_bound(std::begin(kCommunicationObjects), end, index,
                                    [](const CommunicationObject& o, uint16_t i) { return o.index < i; });
  return it != end && it->index == index ? it : nullptr;
}

std::string CommunicationSubName(const CommunicationObject& object, int subIndex) {
  if (subIndex == kWholeObject) return std::string(object.name);
  if (object.shape == Shape::kVar || object.shape == Shape::kSimpleVar) {
    if (subIndex == 0) return std::string(object.name);
    if (object.shape == Shape::kSimpleVar) {
      return std::string(object.name) + " : illegal subindex ('simple var'!!)";
    }
    return {};
  }
  if (subIndex == 0) {
    if (!object.subZero.empty()) return std::string(object.subZero);
    return std::string(object.shape == Shape::kArray ? kArraySubZero : kRecordSubZero);
  }
  if (object.allNodes && subIndex == 0x80) return "All nodes";
  if (static_cast<size_t>(subIndex) <= object.subs.size()) return std::string(object.subs[subIndex - 1]);
  if (subIndex <= object.moreLast) return Numbered(object.more, subIndex);
  return {};
}

int CommunicationType(const CommunicationObject& object, int subIndex) {
  if (subIndex <= 0) return object.subZeroType != kCoTypeUnknown ? object.subZeroType : object.type;
  return subIndex <= object.typedLast ? object.type : int{kCoTypeUnknown};
}

// ---- Parameter ranges: SDO, PDO communication and PDO mapping ----

enum class RangeKind : uint8_t { kSdoServer, kSdoClient, kPdoCommunication, kPdoMapping };

struct ParameterRange {
  uint16_t first;
  uint16_t last;
  RangeKind kind;
  // "%d" is the number of the PDO, counted from 1.
  std::string_view name;
};

constexpr ParameterRange kParameterRanges[] = {
    {0x1200, 0x127F, RangeKind::kSdoServer, "Server SDO Parameter"},
    {0x1280, 0x12FF, RangeKind::kSdoClient, "Client SDO Parameter"},
    {0x1400, 0x15FF, RangeKind::kPdoCommunication, "RPDO%d Communication Parameter"},
    {0x1600, 0x17FF, RangeKind::kPdoMapping, "RPDO%d Mapping Parameter"},
    {0x1800, 0x19FF, RangeKind::kPdoCommunication, "TPDO%d Communication Parameter"},
    {0x1A00, 0x1BFF, RangeKind::kPdoMapping, "TPDO%d Mapping Parameter"},
};

constexpr std::string_view kSdoServerSubs[] = {"COB-ID Client->Server (rx)", "COB-ID Server->Client (tx)",
                                               "node ID of the SDO client"};
constexpr std::string_view kSdoClientSubs[] = {"COB-ID Client->Server (tx)", "COB-ID Server->Client (rx)",
                                               "node ID of the SDO server"};
constexpr std::string_view kPdoCommunicationSubs[] = {"COB-ID used by PDO", "transmission type",
                                                      "inhibit time",       "CMS priority group (withdrawn?)",
                                                      "event timer",        "SYNC start value"};
constexpr int kMaxMappedObjects = 64;

const ParameterRange* FindParameterRange(uint16_t index) {
  for (const ParameterRange& range : kParameterRanges) {
    if (index >= range.first && index <= range.last) return &range;
  }
  return nullptr;
}

std::string FromList(std::span<const std::string_view> subs, int subIndex) {
  if (subIndex < 1 || static_cast<size_t>(subIndex) > subs.size()) return {};
  return std::string(subs[subIndex - 1]);
}

std::string ParameterSubName(const ParameterRange& range, uint16_t index, int subIndex) {
  if (subIndex == kWholeObject) return Numbered(range.name, index - range.first + 1);
  switch (range.kind) {
    case RangeKind::kSdoServer:
      return subIndex == 0 ? std::string(kRecordSubZero) : FromList(kSdoServerSubs, subIndex);
    case RangeKind::kSdoClient:
      return subIndex == 0 ? std::string(kRecordSubZero) : FromList(kSdoClientSubs, subIndex);
    case RangeKind::kPdoCommunication:
      return subIndex == 0 ? std::string(kRecordSubZero) : FromList(kPdoCommunicationSubs, subIndex);
    case RangeKind::kPdoMapping:
      break;
  }
  if (subIndex == 0) return "number of mapped objects";
  if (subIndex > kMaxMappedObjects) return {};
  static constexpr std::string_view kOrdinals[] = {"st", "nd", "rd"};
  const std::string_view suffix = subIndex <= 3 ? kOrdinals[subIndex - 1] : std::string_view("th");
  return "mapping for " + std::to_string(subIndex) + std::string(suffix) + " object";
}

int ParameterType(const ParameterRange& range, int subIndex) {
  switch (range.kind) {
    case RangeKind::kSdoServer:
    case RangeKind::kSdoClient:
      if (subIndex <= 0 || subIndex == 3) return kCoTypeUnsigned8;
      return subIndex <= 2 ? kCoTypeUnsigned32 : kCoTypeUnknown;
    case RangeKind::kPdoCommunication:
      switch (subIndex) {
        case 1:
          return kCoTypeUnsigned32;
        case 3:
        case 5:
          return kCoTypeUnsigned16;
        case 2:
        case 4:
        case 6:
          return kCoTypeUnsigned8;
        default:
          return subIndex <= 0 ? kCoTypeUnsigned8 : kCoTypeUnknown;
      }
    case RangeKind::kPdoMapping:
      break;
  }
  return subIndex <= 0 ? kCoTypeUnsigned8 : kCoTypeUnsigned32;
}

// ---- Data type definitions ----

std::string DataTypeDefinitionName(uint16_t index, int subIndex) {
  const bool object = subIndex == kWholeObject;
  if (index >= 0x0001 && index <= 0x001B) {
    const CanopenDataType* type = FindCanopenDataType(index);
    if (type == nullptr || type->standardName.empty() || !(object || subIndex == 0)) return {};
    return "DEFTYPE: " + std::string(type->standardName);
  }
  std::string name;
  if (index >= 0x0020 && index <= 0x0023) {
    name = "DEFSTRUCT: " + std::string(FindCanopenDataType(index)->standardName);
  } else if (index >= 0x0040 && index <= 0x005F) {
    name = "DEFSTRUCT: manufacturer specific";
  } else if (index >= 0x0060 && index <= 0x011F) {
    // Each device profile has a block of type and a block of structure definitions.
    const int block = (index - 0x0060) / 32;
    const int device = block / 2 + 1;
    name = Numbered(block % 2 == 0 ? "DEFTYPE: device %d specific" : "DEFSTRUCT: device %d specific", device);
    if (block % 2 == 0) return object || subIndex == 0 ? name : std::string();
  } else {
    return {};
  }
  if (object) return name;
  return subIndex == 0 ? std::string(kRecordSubZero) : std::string();
}

// ---- Generic I/O profile (CiA 401) ----

enum class IoSubs : uint8_t {
  kNone,     // a variable
  kPort,     // each subindex a port of `width` lines: "<stem> %d to %d"
  kChannel,  // each subindex one channel: "<stem> %d"
};

struct IoObject {
  uint16_t index;
  std::string_view name;
  IoSubs subs;
  std::string_view stem;
  uint8_t width;
  uint8_t type;
};

constexpr IoObject kIoObjects[] = {
    {0x6000, "Read input 8-bit", IoSubs::kPort, "Read input", 8, kCoTypeUnsigned8},
    {0x6002, "Polarity input 8-bit", IoSubs::kPort, "Polarity input", 8, kCoTypeUnsigned8},
    {0x6003, "Filter constant input 8-bit", IoSubs::kPort, "Filter constant input", 8, kCoTypeUnsigned8},
    {0x6005, "Global interrupt enable digital", IoSubs::kNone, "", 0, kCoTypeBoolean},
    {0x6006, "Interrupt mask any change 8-bit", IoSubs::kPort, "Interrupt any change", 8, kCoTypeUnsigned8},
    {0x6007, "Interrupt mask low-to-high 8-bit", IoSubs::kPort, "Interrupt low-to-high", 8, kCoTypeUnsigned8},
    {0x6008, "Interrupt mask high-to-low 8-bit", IoSubs::kPort, "Interrupt high-to-low", 8, kCoTypeUnsigned8},
    {0x6100, "Read input 16-bit", IoSubs::kPort, "Read input", 16, kCoTypeUnsigned16},
    {0x6102, "Polarity input 16-bit", IoSubs::kPort, "Polarity input", 16, kCoTypeUnsigned16},
    {0x6103, "Filter constant input 16-bit", IoSubs::kPort, "Filter constant input", 16, kCoTypeUnsigned16},
    {0x6106, "Interrupt mask any change 16-bit", IoSubs::kPort, "Interrupt any change", 16,
     kCoTypeUnsigned16},
    {0x6107, "Interrupt mask low-to-high 16-bit", IoSubs::kPort, "Interrupt low-to-high", 16,
     kCoTypeUnsigned16},
    {0x6108, "Interrupt mask high-to-low 16-bit", IoSubs::kPort, "Interrupt high-to-low", 16,
     kCoTypeUnsigned16},
    {0x6120, "Read input 32-bit", IoSubs::kPort, "Read input", 32, kCoTypeUnsigned32},
    {0x6122, "Polarity input 32-bit", IoSubs::kPort, "Polarity input", 32, kCoTypeUnsigned32},
    {0x6123, "Filter constant input 32-bit", IoSubs::kPort, "Filter constant input", 32, kCoTypeUnsigned32},
    {0x6126, "Interrupt mask any change 32-bit", IoSubs::kPort, "Interrupt any change", 32,
     kCoTypeUnsigned32},
    {0x6127, "Interrupt mask low-to-high 32-bit", IoSubs::kPort, "Interrupt low-to-high", 32,
     kCoTypeUnsigned32},
    {0x6128, "Interrupt mask high-to-low 32-bit", IoSubs::kPort, "Interrupt high-to-low", 32,
     kCoTypeUnsigned32},
    {0x6200, "Write output 8-bit", IoSubs::kPort, "Write output", 8, kCoTypeUnsigned8},
    {0x6202, "Change polarity output 8-bit", IoSubs::kPort, "Change polarity output", 8, kCoTypeUnsigned8},
    {0x6206, "Error mode output 8-bit", IoSubs::kPort, "Error mode output", 8, kCoTypeUnsigned8},
    {0x6207, "Error value output 8-bit", IoSubs::kPort, "Error value output", 8, kCoTypeUnsigned8},
    {0x6208, "Filter mask output 8-bit", IoSubs::kPort, "Filter mask output", 8, kCoTypeUnsigned8},
    {0x6300, "Write output 16-bit", IoSubs::kPort, "Write output", 16, kCoTypeUnsigned16},
    {0x6302, "Change polarity output 16-bit", IoSubs::kPort, "Change polarity output", 16, kCoTypeUnsigned16},
    {0x6306, "Error mode output 16-bit", IoSubs::kPort, "Error mode output", 16, kCoTypeUnsigned16},
    {0x6307, "Error value output 16-bit", IoSubs::kPort, "Error value output", 16, kCoTypeUnsigned16},
    {0x6308, "Filter mask output 16-bit", IoSubs::kPort, "Filter mask output", 16, kCoTypeUnsigned16},
    {0x6320, "Write output 32-bit", IoSubs::kPort, "Write output", 32, kCoTypeUnsigned32},
    {0x6322, "Change polarity output 32-bit", IoSubs::kPort, "Change polarity output", 32, kCoTypeUnsigned32},
    {0x6326, "Error mode output 32-bit", IoSubs::kPort, "Error mode output", 32, kCoTypeUnsigned32},
    {0x6327, "Error value output 32-bit", IoSubs::kPort, "Error value output", 32, kCoTypeUnsigned32},
    {0x6328, "Filter mask output 32-bit", IoSubs::kPort, "Filter mask output", 32, kCoTypeUnsigned32},
    {0x6400, "Read analogue input 8-bit", IoSubs::kChannel, "Analogue input", 0, kCoTypeInteger8},
    {0x6401, "Read analogue input 16-bit", IoSubs::kChannel, "Analogue input", 0, kCoTypeInteger16},
    {0x6402, "Read analogue input 32-bit", IoSubs::kChannel, "Analogue input", 0, kCoTypeInteger32},
    {0x6403, "Read analogue input float", IoSubs::kChannel, "Analogue input", 0, kCoTypeReal32},
    {0x6404, "Read manufacturer specific analogue input", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeUnknown},
    {0x6410, "Write analogue output 8-bit", IoSubs::kChannel, "Analogue output", 0, kCoTypeInteger8},
    {0x6411, "Write analogue output 16-bit", IoSubs::kChannel, "Analogue output", 0, kCoTypeInteger16},
    {0x6412, "Write analogue output 32-bit", IoSubs::kChannel, "Analogue output", 0, kCoTypeInteger32},
    {0x6413, "Write analogue output float", IoSubs::kChannel, "Analogue output", 0, kCoTypeReal32},
    {0x6414, "Write manufacturer specific analogue output", IoSubs::kChannel, "Analogue output", 0,
     kCoTypeUnknown},
    {0x6421, "Analogue input interrupt trigger selection", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeUnsigned8},
    {0x6422, "Analogue input interrupt source", IoSubs::kChannel, "Interrupt source bank", 0,
     kCoTypeUnsigned32},
    {0x6423, "Analogue input global interrupt enable", IoSubs::kNone, "", 0, kCoTypeBoolean},
    {0x6424, "Analogue input interrupt upper limit integer", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeInteger32},
    {0x6425, "Analogue input interrupt lower limit integer", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeInteger32},
    {0x6426, "Analogue input interrupt delta unsigned", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeUnsigned32},
    {0x6427, "Analogue input interrupt negative delta unsigned", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeUnsigned32},
    {0x6428, "Analogue input interrupt positive delta unsigned", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeUnsigned32},
    {0x6429, "Analogue input interrupt upper limit float", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeReal32},
    {0x642A, "Analogue input interrupt lower limit float", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeReal32},
    {0x642B, "Analogue input interrupt delta float", IoSubs::kChannel, "Analogue input", 0, kCoTypeReal32},
    {0x642C, "Analogue input interrupt negative delta float", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeReal32},
    {0x642D, "Analogue input interrupt positive delta float", IoSubs::kChannel, "Analogue input", 0,
     kCoTypeReal32},
    {0x642E, "Analogue input offset float", IoSubs::kChannel, "Analogue input", 0, kCoTypeReal32},
    {0x642F, "Analogue input scaling float", IoSubs::kChannel, "Analogue input", 0, kCoTypeReal32},
    {0x6430, "Analogue input SI unit", IoSubs::kChannel, "Analogue input", 0, kCoTypeUnsigned32},
    {0x6431, "Analogue input offset integer", IoSubs::kChannel, "Analogue input", 0, kCoTypeInteger32},
    {0x6432, "Analogue input scaling integer", IoSubs::kChannel, "Analogue input", 0, kCoTypeInteger32},
    {0x6443, "Analogue output error mode", IoSubs::kChannel, "Analogue output", 0, kCoTypeUnsigned8},
    {0x6444, "Analogue output error value integer", IoSubs::kChannel, "Analogue output", 0, kCoTypeInteger32},
    {0x6445, "Analogue output error value float", IoSubs::kChannel, "Analogue output", 0, kCoTypeReal32},
    {0x6446, "Analogue output offset float", IoSubs::kChannel, "Analogue output", 0, kCoTypeReal32},
    {0x6447, "Analogue output scaling float", IoSubs::kChannel, "Analogue output", 0, kCoTypeReal32},
    {0x6450, "Analogue output SI unit", IoSubs::kChannel, "Analogue output", 0, kCoTypeUnsigned32},
    {0x6451, "Analogue output offset integer", IoSubs::kChannel, "Analogue output", 0, kCoTypeInteger32},
    {0x6452, "Analogue output scaling integer", IoSubs::kChannel, "Analogue output", 0, kCoTypeInteger32},
    {0x67FF, "First logical device type", IoSubs::kNone, "", 0, kCoTypeUnsigned32},
};

// Single-line objects: eight consecutive indexes of 128 lines each.
struct IoBitFamily {
  uint16_t first;
  std::string_view stem;     // of the object: "<stem> %d to %d"
  std::string_view subStem;  // of one line: "<subStem> %d"
};

constexpr IoBitFamily kIoBitFamilies[] = {
    {0x6020, "Read input bit", "Read input"},
    {0x6030, "Polarity input bit", "Polarity input"},
    {0x6038, "Filter constant input bit", "Filter constant input"},
    {0x6050, "Interrupt mask any change bit", "Interrupt any change"},
    {0x6060, "Interrupt mask low-to-high bit", "Interrupt low-to-high"},
    {0x6070, "Interrupt mask high-to-low bit", "Interrupt high-to-low"},
    {0x6220, "Write output bit", "Write output"},
    {0x6240, "Change polarity output bit", "Change polarity output"},
    {0x6250, "Error mode output bit", "Error mode output"},
    {0x6260, "Error value output bit", "Error value output"},
    {0x6270, "Filter mask output bit", "Filter mask output"},
};
constexpr int kIoBitFamilyObjects = 8;
constexpr int kLinesPerBitObject = 128;
constexpr int kLastArraySubIndex = 254;

static_assert(AscendingByIndex(kIoObjects), "looked up by binary search");

const IoObject* FindIoObject(uint16_t index) {
  const auto* end = std::end(kIoObjects);
  const auto* it = std::lower_bound(std::begin(kIoObjects), end, index,
                                    [](const IoObject& o, uint16_t i) { return o.index < i; });
  return it != end && it->index == index ? it : nullptr;
}

const IoBitFamily* FindIoBitFamily(uint16_t index) {
  for (const IoBitFamily& family : kIoBitFamilies) {
    if (index >= family.first && index < family.first + kIoBitFamilyObjects) return &family;
  }
  return nullptr;
}

std::string IoName(uint16_t index, int subIndex) {
  if (const IoBitFamily* family = FindIoBitFamily(index)) {
    const int firstLine = (index - family->first) * kLinesPerBitObject;
    if (subIndex == kWholeObject) {
      return Numbered(std::string(family->stem) + " %d to %d", firstLine + 1, firstLine + kLinesPerBitObject);
    }
    if (subIndex == 0) return std::string(kArraySubZero);
    if (subIndex > kLinesPerBitObject) return {};
    return Numbered(std::string(family->subStem) + " %d", firstLine + subIndex);
  }
  const IoObject* object = FindIoObject(index);
  if (object == nullptr) return {};
  if (subIndex == kWholeObject) return std::string(object->name);
  if (object->subs == IoSubs::kNone) return subIndex == 0 ? std::string(object->name) : std::string();
  if (subIndex == 0) return std::string(kArraySubZero);
  if (subIndex > kLastArraySubIndex) return {};
  if (object->subs == IoSubs::kChannel) return Numbered(std::string(object->stem) + " %d", subIndex);
  const long lastLine = static_cast<long>(subIndex) * object->width;
  return Numbered(std::string(object->stem) + " %d to %d", lastLine - object->width + 1, lastLine);
}

int IoType(uint16_t index, int subIndex) {
  if (FindIoBitFamily(index) != nullptr) return subIndex <= 0 ? kCoTypeUnsigned8 : kCoTypeBoolean;
  const IoObject* object = FindIoObject(index);
  if (object == nullptr) return kCoTypeUnknown;
  // A variable's subindex 0 is its value; only arrays count their entries there.
  if (object->subs == IoSubs::kNone) return subIndex <= 0 ? object->type : int{kCoTypeUnknown};
  return subIndex <= 0 ? int{kCoTypeUnsigned8} : object->type;
}

std::string Fallback(uint16_t index, int subIndex) {
  char text[24];
  if (subIndex == kWholeObject) {
    std::snprintf(text, sizeof text, "Obj%04X", static_cast<unsigned>(index));
  } else {
    std::snprintf(text, sizeof text, "Obj%04X_sub%02X", static_cast<unsigned>(index),
                  static_cast<unsigned>(subIndex));
  }
  return text;
}

}  // namespace

std::string StandardObjectName(uint16_t index, int subIndex, bool withFallback) {
  std::string name;
  if (subIndex >= kWholeObject && subIndex <= 255) {
    if (index < 0x1000) {
      name = DataTypeDefinitionName(index, subIndex);
    } else if (const CommunicationObject* object = FindCommunicationObject(index)) {
      name = CommunicationSubName(*object, subIndex);
    } else if (const ParameterRange* range = FindParameterRange(index)) {
      name = ParameterSubName(*range, index, subIndex);
    } else if (index >= 0x6000 && index <= 0x67FF) {
      name = IoName(index, subIndex);
    }
  }
  if (name.empty() && withFallback) name = Fallback(index, subIndex);
  return name;
}

int StandardObjectType(uint16_t index, int subIndex) {
  if (index >= 0x0020 && index <= 0x005F) return subIndex <= 0 ? kCoTypeUnsigned8 : kCoTypeUnsigned16;
  if (const CommunicationObject* object = FindCommunicationObject(index)) {
    return CommunicationType(*object, subIndex);
  }
  if (const ParameterRange* range = FindParameterRange(index)) return ParameterType(*range, subIndex);
  if (index >= 0x6000 && index <= 0x67FF) return IoType(index, subIndex);
  return kCoTypeUnknown;
}

}  // namespace busprobe
