#include "canopen/dictionary_access.h"

#include <algorithm>
#include <cstring>

#include "base/canopen_types.h"
#include "canopen/od_tables.h"
#include "canopen/sdo_abort_text.h"

namespace busprobe {

namespace {

// Bytes an object of this type holds: 1, 2 or 4 for the fixed sizes, 0 for the strings.
int FixedSize(uint8_t type) {
  switch (type) {
    case kCoTypeInteger16:
    case kCoTypeUnsigned16:
      return 2;
    case kCoTypeInteger32:
    case kCoTypeUnsigned32:
    case kCoTypeReal32:
      return 4;
    case kCoTypeVisibleString:
    case kCoTypeOctetString:
      return 0;
    default:
      return 1;
  }
}

bool WouldLoseData(uint8_t type, const SdoChannel& channel) {
  const int size = FixedSize(type);
  if (size == 0) return false;
  const uint8_t* bytes = channel.blockLength > 0 ? channel.buffer : channel.value;
  int length = channel.blockLength > 0 ? std::min(channel.blockLength, kSdoBufferSize)
                                       : (channel.valueSize >= 1 && channel.valueSize <= 4 ? channel.valueSize : 4);
  for (int i = size; i < length; ++i)
    if (bytes[i] != 0) return true;
  return false;
}

}  // namespace

void LocalDictionaryAccess::touch(OdEntry& entry) {
  entry.highlight = kOdHighlightAll;
  dictionary_.markChanged();
}

int LocalDictionaryAccess::SDO_USER_DictionaryAccess(SdoChannel& channel) {
  OdEntry* entry = dictionary_.find(channel.index, channel.subIndex);
  if (entry == nullptr) {
    channel.abortCode = kSdoAbortNoObject;
    return 0;
  }
  if (channel.isDownload == 0) {
    read(*entry, channel);
  } else {
    write(*entry, channel);
  }
  return 1;
}

void LocalDictionaryAccess::read(OdEntry& entry, SdoChannel& channel) {
  if (entry.access == kOdAccessWriteOnly) {
    channel.abortCode = kSdoAbortWriteOnly;
    return;
  }
  channel.dataType = entry.defaultValue.dataType;
  std::memcpy(channel.value, entry.valueInUse().data, 4);
  channel.rawValue = 0;
  // Once a value was stored it alone is served: a short string written over a long default must
  // not bring the default back.
  const OdValue& forBlocks = entry.valueInUse();
  if (forBlocks.hasBlock()) {
    const int length = std::min<int>({forBlocks.blockLength, forBlocks.blockCapacity, kSdoBufferSize});
    channel.blockLength = length;
    channel.segmentMode = kSdoSegmentedUpload;
    if (length > 0) std::memcpy(channel.buffer, forBlocks.block, static_cast<std::size_t>(length));
  } else {
    channel.blockLength = 0;
    channel.segmentMode = kSdoNoSegments;
  }
  if (channel.accessSource == kSdoAccessFromServer) {
    ++entry.readCount;
    touch(entry);
  }
}

void LocalDictionaryAccess::write(OdEntry& entry, SdoChannel& channel) {
  if (channel.accessSource == kSdoAccessFromServer) {
    ++entry.writeCount;
    touch(entry);
  }
  if (entry.access == kOdAccessReadOnly) {
    channel.abortCode = kSdoAbortReadOnly;
    return;
  }
  uint8_t incoming[4];
  if (channel.blockLength > 0) {
    std::memcpy(incoming, channel.buffer, 4);
  } else {
    std::memcpy(incoming, channel.value, 4);
  }
  const uint8_t type = entry.defaultValue.dataType;
  if (type == kCoTypeUnknown || type > kCoTypeOctetString) {
    // Refused: what reads return stays as it was.
    channel.abortCode = kSdoAbortParameterIncompatible;
    touch(entry);
    return;
  }
  if (WouldLoseData(type, channel)) {
    // The value confirmed as written must be the value stored: bytes a fixed-size object cannot
    // hold are refused rather than cut off. Zero bytes beyond its size (a master that sends every
    // value as four bytes) lose nothing and are taken.
    channel.abortCode = kSdoAbortLengthTooHigh;
    touch(entry);
    return;
  }
  OdValue& current = entry.currentValue;
  current.dataType = type;
  switch (type) {
    case kCoTypeInteger16:
    case kCoTypeUnsigned16:
      std::memcpy(current.data, incoming, 2);
      current.data[2] = current.data[3] = 0;
      current.inlineLength = 2;
      break;
    case kCoTypeInteger32:
    case kCoTypeUnsigned32:
    case kCoTypeReal32:
      std::memcpy(current.data, incoming, 4);
      current.inlineLength = 4;
      break;
    case kCoTypeVisibleString:
    case kCoTypeOctetString:
      if (channel.blockLength > 0) {
        const int length = std::min(channel.blockLength, kSdoBufferSize);
        dictionary_.pool().store(current, channel.buffer, static_cast<std::size_t>(length));
      } else {
        dictionary_.pool().release(current);
        std::memcpy(current.data, incoming, 4);
        current.inlineLength = channel.valueSize >= 1 && channel.valueSize <= 4 ? channel.valueSize : 4;
      }
      break;
    default:
      current.data[0] = incoming[0];
      current.data[1] = current.data[2] = current.data[3] = 0;
      current.inlineLength = 1;
      break;
  }
  touch(entry);
  entry.currentValid = 1;
}

}  // namespace busprobe
