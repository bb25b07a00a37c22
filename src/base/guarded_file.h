// Reading files whose name comes from the user or from the configuration directory. Anything may
// stand under such a name: a FIFO blocks the open until a writer comes, a device such as
// /dev/zero never ends, and a huge file exhausts memory when read whole. These functions open
// without blocking, take regular files only and read no more than the caller's limit, so a start-up
// or a load always comes back, with a reason when it refused the file.
//
// Used by every reader of such files: the configuration file, the command file, the variables
// file, the log player's file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace busprobe {

enum class GuardedReadStatus {
  kOk,
  kMissing,     // nothing of that name
  kCannotOpen,  // it exists, but may not be opened (permissions, ...)
  kRefused,     // not a regular file, larger than the limit, or a read failed
};

// Opens `path` for reading without blocking on a FIFO and only when it is a regular file. Returns
// the descriptor (in blocking mode, close-on-exec) and sets `size`; -1 with `reason` otherwise.
int OpenRegularFile(const std::string& path, GuardedReadStatus& status, std::string* reason,
                    uint64_t* size = nullptr);

// Reads the whole file into `out` when it is a regular file of at most `maxBytes`; reads at most
// maxBytes + 1 bytes, so a file that grows while it is read is refused rather than followed.
// `reason` is a short text for the user ("not a regular file", "file too large", or the system's).
GuardedReadStatus ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& out,
                                  std::string* reason = nullptr);

}  // namespace busprobe
