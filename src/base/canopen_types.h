// The CANopen data types: one row per type code with the names the program uses for it, the size
// of an encoded value and how a value is read from its bytes. The interpreter reads type names and
// frame data through these rows (canrx, .dat); the object dictionary, the dictionary files and the
// SDO engine build on the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace busprobe {

// Type codes: the CiA 301 data type indices, and the program's own codes above them.
enum CanopenTypeCode : int {
  kCoTypeUnknown = 0x00,
  kCoTypeBoolean = 0x01,
  kCoTypeInteger8 = 0x02,
  kCoTypeInteger16 = 0x03,
  kCoTypeInteger32 = 0x04,
  kCoTypeUnsigned8 = 0x05,
  kCoTypeUnsigned16 = 0x06,
  kCoTypeUnsigned32 = 0x07,
  kCoTypeReal32 = 0x08,
  kCoTypeVisibleString = 0x09,
  kCoTypeOctetString = 0x0A,
  kCoTypeDate = 0x0B,
  kCoTypeTimeOfDay = 0x0C,
  kCoTypeTimeDifference = 0x0D,
  kCoTypeBitString = 0x0E,
  kCoTypeDomain = 0x0F,
  kCoTypeInteger24 = 0x10,
  kCoTypeReal64 = 0x11,
  kCoTypeInteger40 = 0x12,
  kCoTypeInteger48 = 0x13,
  kCoTypeInteger56 = 0x14,
  kCoTypeInteger64 = 0x15,
  kCoTypeUnsigned24 = 0x16,
  kCoTypeUnsigned40 = 0x18,
  kCoTypeUnsigned48 = 0x19,
  kCoTypeUnsigned56 = 0x1A,
  kCoTypeUnsigned64 = 0x1B,
  kCoTypePdoCommunication = 0x20,
  kCoTypePdoMapping = 0x21,
  kCoTypeSdoParameter = 0x22,
  kCoTypeIdentity = 0x23,
  // Values of an SDO upload whose type was not known: 1, 2 and 4 bytes as they came.
  kCoTypeUntyped8 = 51,
  kCoTypeUntyped16 = 52,
  kCoTypeUntyped32 = 54,
  // Big-endian 16 and 32 bit values in frame data ("M16", "M32").
  kCoTypeBigEndian16 = 55,
  kCoTypeBigEndian32 = 56,
};

enum class CanopenValueKind : uint8_t {
  kNone,       // no value of its own
  kBoolean,    // bit 0 of the first byte
  kSigned,     // two's complement over `size` bytes
  kUnsigned,   // `size` bytes
  kFloat,      // IEEE 754 over `size` bytes
  kTime,       // a count of milliseconds and one of days
  kString,     // visible characters, any length
  kBytes,      // any length of bytes
  kStructure,  // a record of sub-entries
};

struct CanopenDataType {
  int code;
  // The name dictionary text lines show; empty where the program has none for the code.
  std::string_view name;
  // The CiA 301 name; empty for the codes the standard leaves unused or does not define.
  std::string_view standardName;
  // Bytes of an encoded value; 0 for values of any length and for structures.
  uint8_t size;
  CanopenValueKind kind;
  bool bigEndian;
  // Scripts read values of this type out of frame data (canrx, .dat).
  bool frameReadable;
  // The names scripts write for the type, separated by blanks (case does not matter).
  std::string_view scriptNames;
};

// In ascending code order.
inline constexpr CanopenDataType kCanopenDataTypes[] = {
    // The dictionary text has always shown the unknown type with this spelling.
    {kCoTypeUnknown, "unknwon", "", 0, CanopenValueKind::kNone, false, false, "???"},
    {kCoTypeBoolean, "BOOLEAN", "BOOLEAN", 1, CanopenValueKind::kBoolean, false, true, "BOOLEAN BOOL"},
    {kCoTypeInteger8, "INTEGER8", "INTEGER8", 1, CanopenValueKind::kSigned, false, true,
     "INTEGER8 SIGNED8 I8"},
    {kCoTypeInteger16, "INTEGER16", "INTEGER16", 2, CanopenValueKind::kSigned, false, true,
     "INTEGER16 SIGNED16 I16 S16"},
    {kCoTypeInteger32, "INTEGER32", "INTEGER32", 4, CanopenValueKind::kSigned, false, true,
     "INTEGER32 SIGNED32 I32 S32 LONG I"},
    {kCoTypeUnsigned8, "UNSIGNED8", "UNSIGNED8", 1, CanopenValueKind::kUnsigned, false, true,
     "UNSIGNED8 U8 BYTE B"},
    {kCoTypeUnsigned16, "UNSIGNED16", "UNSIGNED16", 2, CanopenValueKind::kUnsigned, false, true,
     "UNSIGNED16 U16 WORD W"},
    {kCoTypeUnsigned32, "UNSIGNED32", "UNSIGNED32", 4, CanopenValueKind::kUnsigned, false, true,
     "UNSIGNED32 U32 DWORD"},
    {kCoTypeReal32, "FLOAT32", "REAL32", 4, CanopenValueKind::kFloat, false, true, "FLOAT32 F32 FLOAT"},
    {kCoTypeVisibleString, "VIS_STRING", "VISIBLE_STRING", 0, CanopenValueKind::kString, false, false,
     "VIS_STRING STRING STR"},
    {kCoTypeOctetString, "OCTET_STRING", "OCTET_STRING", 0, CanopenValueKind::kBytes, false, false,
     "OCTET_STRING"},
    // The program names codes 11 and 14 as an early numbering did; the standard now gives 11 to
    // unicode strings and leaves 14 unused.
    {kCoTypeDate, "DATE", "UNICODE_STRING", 0, CanopenValueKind::kBytes, false, false, "DATE"},
    {kCoTypeTimeOfDay, "TIME_OF_DAY", "TIME_OF_DAY", 6, CanopenValueKind::kTime, false, false, "TIME_OF_DAY"},
    {kCoTypeTimeDifference, "TIME_DIFF", "TIME_DIFFERENCE", 6, CanopenValueKind::kTime, false, false,
     "TIME_DIFF"},
    {kCoTypeBitString, "BIT_STRING", "", 0, CanopenValueKind::kBytes, false, false, "BIT_STRING"},
    {kCoTypeDomain, "DOMAIN", "DOMAIN", 0, CanopenValueKind::kBytes, false, false, "DOMAIN"},
    {kCoTypeInteger24, "", "INTEGER24", 3, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeReal64, "", "REAL64", 8, CanopenValueKind::kFloat, false, false, ""},
    {kCoTypeInteger40, "", "INTEGER40", 5, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeInteger48, "", "INTEGER48", 6, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeInteger56, "", "INTEGER56", 7, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeInteger64, "", "INTEGER64", 8, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeUnsigned24, "", "UNSIGNED24", 3, CanopenValueKind::kUnsigned, false, false, ""},
    {kCoTypeUnsigned40, "", "UNSIGNED40", 5, CanopenValueKind::kUnsigned, false, false, ""},
    {kCoTypeUnsigned48, "", "UNSIGNED48", 6, CanopenValueKind::kUnsigned, false, false, ""},
    {kCoTypeUnsigned56, "", "UNSIGNED56", 7, CanopenValueKind::kUnsigned, false, false, ""},
    {kCoTypeUnsigned64, "", "UNSIGNED64", 8, CanopenValueKind::kUnsigned, false, false, ""},
    {kCoTypePdoCommunication, "PDO_COMM", "PDO_COMM_PAR", 0, CanopenValueKind::kStructure, false, false,
     "PDO_COMM"},
    {kCoTypePdoMapping, "PDO_MAP", "PDO_MAPPING", 0, CanopenValueKind::kStructure, false, false, "PDO_MAP"},
    {kCoTypeSdoParameter, "SDO_PAR", "SDO_PARAMETER", 0, CanopenValueKind::kStructure, false, false,
     "SDO_PAR"},
    {kCoTypeIdentity, "", "IDENTITY", 0, CanopenValueKind::kStructure, false, false, ""},
    {kCoTypeUntyped8, "", "", 1, CanopenValueKind::kUnsigned, false, false, ""},
    {kCoTypeUntyped16, "", "", 2, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeUntyped32, "", "", 4, CanopenValueKind::kSigned, false, false, ""},
    {kCoTypeBigEndian16, "M16", "", 2, CanopenValueKind::kUnsigned, true, true, "M16"},
    {kCoTypeBigEndian32, "M32", "", 4, CanopenValueKind::kUnsigned, true, true, "M32"},
};

// The row of a type code; nullptr for a code without one.
const CanopenDataType* FindCanopenDataType(int code);

// The type whose script name `text` begins with, compared without regard to case. Of several
// names that fit, the longest wins, so "I" never takes "I16" or "INTEGER8" and "U16LE" is U16 with
// "LE" left over. `length` receives the length of the name matched. nullptr when none fits.
const CanopenDataType* MatchCanopenTypeName(std::string_view text, std::size_t& length);

// The first `type.size` bytes (at most 4) put together in the type's byte order; 0 for other sizes.
uint32_t CanopenRawBits(const CanopenDataType& type, const uint8_t* bytes);
// The integer a value of `type` holds in those bytes: sign-extended for signed types, bit 0 only
// for BOOLEAN. Types of another kind or size give 0.
int64_t CanopenIntegerValue(const CanopenDataType& type, const uint8_t* bytes);

}  // namespace busprobe
