// The column texts of dictionary entries: data type names, access kinds and display formats, as
// the dictionary text lines, the dictionary files and the browsers show and read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace busprobe {

// Bits of OdEntry::access besides the kind.
inline constexpr uint8_t kOdAccessKindMask = 0x47;
inline constexpr uint8_t kOdAccessReadOnly = 0x01;
inline constexpr uint8_t kOdAccessWriteOnly = 0x02;
inline constexpr uint8_t kOdAccessReadWrite = 0x03;
inline constexpr uint8_t kOdAccessConst = 0x05;
inline constexpr uint8_t kOdAccessReadProcess = 0x41;   // "rwr"
inline constexpr uint8_t kOdAccessWriteProcess = 0x42;  // "rww"
inline constexpr uint8_t kOdAccessPdo = 0x08;
inline constexpr uint8_t kOdAccessNonVolatile = 0x80;

// The type's name padded with blanks to 12 characters; "type%3d??   " for a code without one.
std::string OdTypeName(int code);

// The kind as a dictionary text shows it ("RONLY", "RW", ...), with ",PDO" and ",NV" for the
// flags, padded to at least 7 characters.
std::string OdAccessText(uint8_t access);
// The kind as an EDS or DCF file writes it ("ro", "rww", ...); empty for an unknown kind.
std::string_view OdEdsAccessText(uint8_t access);
// The access kind of an EDS/DCF "AccessType" text (the first letters decide, any case).
uint8_t OdParseEdsAccess(std::string_view text);

// The 5-character column text of a display format letter.
std::string OdDisplayText(uint8_t display);

}  // namespace busprobe
