// Detects other running copies of the program: each copy holds an flock()ed lock file in the
// runtime directory. The first copy holds "Busprobe.lock" and gets instance number 0; a copy started
// while that is held takes the next free "Busprobe-<n>.lock" and gets instance number n.
#pragma once

#include <string>

namespace busprobe {

class InstanceLock {
 public:
  static constexpr int kMaxInstances = 10;

  // dir: where the lock files live (empty: $XDG_RUNTIME_DIR, else /tmp).
  explicit InstanceLock(const std::string& dir = std::string());
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  int instanceNumber() const { return instance_; }
  // The socket path of this instance's remote-control endpoint ("busprobe-<n>.sock" beside the lock).
  std::string directory() const { return dir_; }

 private:
  std::string dir_;
  int fd_ = -1;
  int instance_ = 0;
};

// " (2nd instance)", " (3rd instance)", " (4th instance)", " (N-th instance)"; empty for 0.
std::string InstanceCaptionSuffix(int instanceNumber);

}  // namespace busprobe
