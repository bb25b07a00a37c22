// What the standards say an object is when no dictionary tells: the names of the data type
// definitions, the communication objects (CiA 301, CiA 302) and the generic I/O profile (CiA 401),
// and the data type assumed for them. The frame explanation names the objects of SDO traffic
// with them; the remote browser and the dictionary scanner name and type what they read.
#pragma once

#include <cstdint>
#include <string>

namespace busprobe {

// The object itself rather than one of its subindexes.
inline constexpr int kWholeObject = -1;

// The standard name of index.subIndex (subIndex kWholeObject: of the object). Objects the tables
// do not know give an empty text, or with `withFallback` "Obj%04lX_sub%02lX" ("Obj%04lX" for the
// whole object).
std::string StandardObjectName(uint16_t index, int subIndex, bool withFallback);

// The data type code assumed for index.subIndex; 0 (unknown) when the standards give none.
int StandardObjectType(uint16_t index, int subIndex);

}  // namespace busprobe
