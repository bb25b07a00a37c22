#include "canopen/od_tables.h"

#include <cstdio>

#include "base/canopen_types.h"

namespace busprobe {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

std::string OdTypeName(int code) {
  const CanopenDataType* type = FindCanopenDataType(code);
  std::string name;
  if (type != nullptr && !type->name.empty()) {
    name = std::string(type->name);
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "type%3d??", code);
    name = buf;
  }
  if (name.size() < 12) name.append(12 - name.size(), ' ');
  return name;
}

std::string OdAccessText(uint8_t access) {
  std::string text;
  switch (access & kOdAccessKindMask) {
    case 0x01:
      text = "RONLY";
      break;
    case 0x02:
      text = "WONLY";
      break;
    case 0x03:
      text = "RW";
      break;
    case 0x41:
      text = "RDPROC";
      break;
    case 0x42:
    case 0x43:
      text = "RWPROC";
      break;
    default:
      if ((access & 0x04) != 0) {
        text = "CONST";
      } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%3d??", access);
        text = buf;
      }
  }
  if ((access & kOdAccessPdo) != 0) text += ",PDO";
  if ((access & kOdAccessNonVolatile) != 0) text += ",NV";
  if (text.size() < 7) text.append(7 - text.size(), ' ');
  return text;
}

std::string_view OdEdsAccessText(uint8_t access) {
  switch (access & kOdAccessKindMask) {
    case 0x01:
      return "ro";
    case 0x02:
      return "wo";
    case 0x03:
      return "rw";
    case 0x41:
      return "rwr";
    case 0x42:
    case 0x43:
      return "rww";
    default:
      return (access & 0x04) != 0 ? "const" : "";
  }
}

uint8_t OdParseEdsAccess(std::string_view text) {
  if (StartsWithNoCase(text, "ro")) return kOdAccessReadOnly;
  if (StartsWithNoCase(text, "rwr")) return kOdAccessReadProcess;
  if (StartsWithNoCase(text, "rww")) return kOdAccessWriteProcess;
  if (StartsWithNoCase(text, "rw")) return kOdAccessReadWrite;
  if (StartsWithNoCase(text, "wo")) return kOdAccessWriteOnly;
  if (StartsWithNoCase(text, "c")) return kOdAccessConst;
  return kOdAccessReadWrite;
}

std::string OdDisplayText(uint8_t display) {
  switch (Lower(static_cast<char>(display))) {
    case 'a':
      return "asc  ";
    case 'b':
      return "bin  ";
    case 'd':
      return "dec  ";
    case 'h':
      return "hex  ";
    case 'm':
      return "mix  ";
    case 's':
      return "chr  ";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%3d? ", display);
      return buf;
    }
  }
}

}  // namespace busprobe
