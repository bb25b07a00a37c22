// Electronic data sheets (.eds) and device configuration files (.dcf): the INI layout of CiA 306,
// read into and written from an ObjectDictionary with the file and device headers kept beside it.
// A DCF is an EDS plus the configured values (ParameterValue). od_files.h picks this format by the
// file name's extension.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "canopen/object_dictionary.h"

namespace busprobe {

struct EdsFileInfo {
  std::string fileName;     // up to 255 characters
  std::string lastEdsName;  // 255
  uint8_t fileVersion = 0;
  uint8_t fileRevision = 0;
  std::string edsVersion;        // 3
  std::string description;       // 255
  std::string creationTime;      // 15
  std::string creationDate;      // 15
  std::string createdBy;         // 255
  std::string modificationTime;  // 15
  std::string modificationDate;  // 15
  std::string modifiedBy;        // 255
};

// Bits of EdsDeviceInfo::baudRates.
enum EdsBaudRateBit : uint16_t {
  kEdsBaud10 = 1u << 0,
  kEdsBaud20 = 1u << 1,
  kEdsBaud50 = 1u << 2,
  kEdsBaud125 = 1u << 3,
  kEdsBaud250 = 1u << 4,
  kEdsBaud500 = 1u << 5,
  kEdsBaud800 = 1u << 7,
  kEdsBaud1000 = 1u << 8,
};

struct EdsDeviceInfo {
  std::string vendorName;  // 255
  int32_t vendorNumber = 0;
  std::string productName;  // 255
  int32_t productNumber = 0;
  int32_t revisionNumber = 0;
  std::string orderCode;  // 255
  uint16_t baudRates = 0;
  uint8_t simpleBootUpMaster = 0;
  uint8_t simpleBootUpSlave = 0;
  uint8_t granularity = 0;
  uint8_t dynamicChannelsSupported = 0;
  uint8_t groupMessaging = 0;
  uint8_t nrOfRxPdo = 0;
  uint8_t nrOfTxPdo = 0;
  uint8_t lssSupported = 0;
  uint8_t dummyUsage = 0;  // bit n-1 for Dummy000n, n = 1..7
};

// The name of a standard object for files that need one where the dictionary has none: subIndex
// -1 asks for the object itself. Must always give a name.
using StandardNameLookup = std::function<std::string(uint16_t index, int subIndex)>;

// A number as the files write it: "0x" hexadecimal, else signed decimal, and sums with the
// node-ID placeholder ("$NODEID+0x180", "0x600 + $NODEID") resolved with `nodeId`. False for a
// text that is none of these. `usesNodeId` tells whether the placeholder appeared.
bool ParseEdsNumber(std::string_view text, uint8_t nodeId, uint32_t& value, bool* usesNodeId = nullptr);

// Reads an EDS (or, with `isDcf`, a DCF) from its text into the dictionary, which is cleared
// first, and the headers. Objects come in the order of the object lists, then those whose sections
// the lists leave out, in file order; every sub-section an object has is read, whatever its
// SubNumber says. Section and key names match in any case. Values naming the node ID are
// resolved with `nodeId` and keep their text for a later save. `problem` gets the first trouble
// met (empty when there was none). True when at least one entry was read.
bool ReadEdsText(std::string_view text, bool isDcf, uint8_t nodeId, EdsFileInfo& fileInfo,
                 EdsDeviceInfo& deviceInfo, ObjectDictionary& dictionary, std::string& problem);

struct EdsWriteOptions {
  bool isDcf = false;
  std::string fileName;             // written as FileName (directories are left out)
  int64_t utcSeconds = 0;           // the modification time written
  StandardNameLookup standardName;  // empty: StandardObjectName with its fallback
};

// The file text, lines ended by CR LF.
std::string WriteEdsText(const EdsFileInfo& fileInfo, const EdsDeviceInfo& deviceInfo,
                         const ObjectDictionary& dictionary, const EdsWriteOptions& options);

}  // namespace busprobe
