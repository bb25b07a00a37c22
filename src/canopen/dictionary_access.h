// The SDO servers' way into the local dictionary: uploads are served from an entry, downloads
// stored into its current value, and both are counted and marked for the local browser.
#pragma once

#include "canopen/object_dictionary.h"
#include "canopen/sdo_channel.h"

namespace busprobe {

class LocalDictionaryAccess final : public SdoDictionaryAccess {
 public:
  explicit LocalDictionaryAccess(ObjectDictionary& dictionary) : dictionary_(dictionary) {}

  int SDO_USER_DictionaryAccess(SdoChannel& channel) override;

 private:
  void read(OdEntry& entry, SdoChannel& channel);
  void write(OdEntry& entry, SdoChannel& channel);
  void touch(OdEntry& entry);

  ObjectDictionary& dictionary_;
};

}  // namespace busprobe
