#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace busprobe {

InstanceLock::InstanceLock(const std::string& dir) : dir_(dir) {
  if (dir_.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    dir_ = (runtime && *runtime) ? runtime : "/tmp";
  }
  for (int n = 0; n < kMaxInstances; ++n) {
    std::string path = dir_ + (n == 0 ? "/Busprobe.lock" : "/Busprobe-" + std::to_string(n) + ".lock");
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      instance_ = n;
      return;
    }
    ::close(fd);
  }
  // Every slot taken (or the directory is unusable): behave as a further copy.
  instance_ = fd_ < 0 ? 1 : instance_;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string InstanceCaptionSuffix(int n) {
  switch (n) {
    case 0:
      return std::string();
    case 1:
      return " (2nd instance)";
    case 2:
      return " (3rd instance)";
    case 3:
      return " (4th instance)";
    default:
      return " (" + std::to_string(n + 1) + "-th instance)";
  }
}

}  // namespace busprobe
