// Which file a path or an open descriptor refers to: device and inode, so that hard and symbolic
// links to one file compare equal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace busprobe {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The file a path names, links followed; nothing when it does not exist.
std::optional<FileIdentity> FileIdentityOfPath(const std::string& path);
// The file an open descriptor refers to; nothing for a descriptor below 0.
std::optional<FileIdentity> FileIdentityOfDescriptor(int fd);

}  // namespace busprobe
