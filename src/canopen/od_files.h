// Loading and saving a dictionary by file name: ".eds" and ".dcf" (any case) are CiA 306 files
// (eds_file.h), every other name the program's own dictionary text (dictionary_text.h). The local
// dictionary of the SDO servers, the remote one of the browser, the script's obj.load and the
// start-up load of the configured dictionaries all come through here.
#pragma once

#include <cstdint>
#include <string>

#include "canopen/eds_file.h"
#include "canopen/object_dictionary.h"

namespace busprobe {

enum class DictionaryFileKind { kEds, kDcf, kText };

DictionaryFileKind DictionaryFileKindOf(const std::string& path);

struct DictionaryLoadOptions {
  // The node the dictionary is loaded for: "$NODEID" in values stands for it (the server's node ID
  // for the local dictionary, the browsed node's for the remote one).
  uint8_t nodeId = 0;
};

// True on success: for EDS and DCF at least one entry was read. `problem` gets a text for the user
// when something was wrong (the file itself when it could not be read, or the first trouble in
// it), empty otherwise. Headers are only touched by EDS and DCF files.
bool LoadDictionary(const std::string& path, EdsFileInfo& fileInfo, EdsDeviceInfo& deviceInfo,
                    ObjectDictionary& dictionary, const DictionaryLoadOptions& options, std::string& problem);

struct DictionarySaveOptions {
  int64_t utcSeconds = 0;           // the modification time an EDS or DCF gets
  StandardNameLookup standardName;  // names for entries without one; empty: StandardObjectName
};

// True when the file was written (replaced as a whole, never half).
bool SaveDictionary(const std::string& path, const EdsFileInfo& fileInfo, const EdsDeviceInfo& deviceInfo,
                    const ObjectDictionary& dictionary, const DictionarySaveOptions& options,
                    std::string* error = nullptr);

}  // namespace busprobe
