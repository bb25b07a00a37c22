// The program's own dictionary text: one line per entry (index.subindex, name, type, access,
// display, mark, default value), lines ended by CR LF. Files with any extension but .eds and .dcf
// are read and written this way (od_files.h); the browsers show the same line for an entry.
#pragma once

#include <string>
#include <string_view>

#include "canopen/object_dictionary.h"

namespace busprobe {

// The text line of an entry, without its line end. Values are written in full, however long.
std::string OdEntryTextLine(const OdEntry& entry);

// Clears the dictionary and reads every line ended by CR (a last line without one is not read),
// then sorts. Values are read with the script language's number and expression syntax. `problem`
// gets the first trouble met. Returns the number of entries read.
int ReadDictionaryText(std::string_view text, ObjectDictionary& dictionary, std::string& problem);

// One line as ReadDictionaryText reads it (the browsers parse their rows back this way): false
// when it names no object. The value goes into the default value, a block of the dictionary's
// pool when it needs one.
bool ParseDictionaryTextLine(std::string_view line, ObjectDictionary& dictionary, OdEntry& entry,
                             std::string& problem);

// Every entry's line with its CR LF; only default values are written.
std::string WriteDictionaryText(const ObjectDictionary& dictionary);

}  // namespace busprobe
