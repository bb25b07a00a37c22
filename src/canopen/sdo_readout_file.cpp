#include "canopen/sdo_readout_file.h"

namespace busprobe {

namespace {
// A device description of more than 1 kB is refused when the caller asked for small uploads.
constexpr int32_t kLimitedUploadSize = 1024;
constexpr uint32_t kAbortRefusedLarge = 0x08000021;
constexpr int32_t kKeepInBuffer = -1;
}  // namespace

SdoReadoutFile::SdoReadoutFile(std::function<std::string()> folder, std::function<void(uint64_t)> written)
    : folder_(std::move(folder)), written_(std::move(written)) {}

SdoReadoutFile::~SdoReadoutFile() {
  abandon();
}

SdoDataBlockCallback SdoReadoutFile::callback() {
  return [this](SdoChannel& ch, int event, int32_t number, const uint8_t* data) {
    return onBlock(ch, event, number, data);
  };
}

std::string SdoReadoutFile::FileName(uint16_t index, uint8_t subIndex) {
  const char* extension = "dat";
  if (index == 0x1021) {
    extension = "eds";
  } else if (index == 0x5021 && subIndex > 3) {
    extension = "dcf";
  } else if (index == 0x5021 && subIndex >= 1) {
    extension = "eds";
  }
  char name[48];
  std::snprintf(name, sizeof name, "Readout_Obj%04X_%02X.%s", index, subIndex, extension);
  return name;
}

void SdoReadoutFile::abandon() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
}

int32_t SdoReadoutFile::onBlock(SdoChannel& ch, int event, int32_t number, const uint8_t* data) {
  switch (event) {
    case kSdoBlockAnnounced: {
      if (ch.limitLargeUploads != 0 && number > kLimitedUploadSize) return static_cast<int32_t>(kAbortRefusedLarge);
      abandon();
      std::string path = folder_();
      if (!path.empty() && path.back() != '/') path += '/';
      path += FileName(ch.index, ch.subIndex);
      file_ = std::fopen(path.c_str(), "wb");
      if (file_ == nullptr) return kKeepInBuffer;
      lastPath_ = std::move(path);
      lastSize_ = -1;
      ++filesCreated_;
      return 0;
    }
    case kSdoBlockData:
      if (file_ != nullptr && number > 0 && data != nullptr) {
        const size_t n = std::fwrite(data, 1, static_cast<size_t>(number), file_);
        if (written_) written_(n);
      }
      // Each piece that arrives proves the peer alive: a large file may take longer than one
      // timeout in all.
      ch.timer = ch.timeoutTicks > 0 ? ch.timeoutTicks : 5;
      return 0;
    case kSdoBlockEnded:
      if (file_ != nullptr) {
        const bool flushed = std::fflush(file_) == 0;
        lastSize_ = flushed ? static_cast<int64_t>(std::ftell(file_)) : -1;
        abandon();
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace busprobe
