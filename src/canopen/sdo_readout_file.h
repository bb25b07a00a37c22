// Readout files: a segmented upload too large for the client's buffer (or a device description,
// index 0x1021) is streamed into a file of the objects folder, named after the object. The script
// read and the remote dictionary browser install the callback on the client channel; the file's
// path then stands for the value that was read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "canopen/sdo_channel.h"

namespace busprobe {

class SdoReadoutFile {
 public:
  // folder: where the files go, asked for each new file. written: bytes appended to a file (the
  // blocking wait restarts its window as they grow).
  SdoReadoutFile(std::function<std::string()> folder, std::function<void(uint64_t)> written);
  ~SdoReadoutFile();
  SdoReadoutFile(const SdoReadoutFile&) = delete;
  SdoReadoutFile& operator=(const SdoReadoutFile&) = delete;

  // The callback to install on a client channel; it refers to this object.
  SdoDataBlockCallback callback();
  int32_t onBlock(SdoChannel& channel, int event, int32_t number, const uint8_t* data);

  // Closes a file whose upload never ended (aborted, timed out); what arrived stays in it.
  void abandon();

  // "Readout_Obj1021_00.eds": the name of the file an upload of the object goes to.
  static std::string FileName(uint16_t index, uint8_t subIndex);

  // The last file created, its size once the upload ended (-1 before that), and how many files
  // were created so far: a caller compares the count to see whether its transfer made one.
  const std::string& lastPath() const { return lastPath_; }
  int64_t lastSize() const { return lastSize_; }
  uint64_t filesCreated() const { return filesCreated_; }

 private:
  std::function<std::string()> folder_;
  std::function<void(uint64_t)> written_;
  std::FILE* file_ = nullptr;
  std::string lastPath_;
  int64_t lastSize_ = -1;
  uint64_t filesCreated_ = 0;
};

}  // namespace busprobe
