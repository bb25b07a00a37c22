#include "base/guarded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace busprobe {

namespace {

constexpr const char* kNotRegular = "not a regular file";
constexpr const char* kTooLarge = "file too large";

void SetReason(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
}

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

}  // namespace

int OpenRegularFile(const std::string& path, GuardedReadStatus& status, std::string* reason, uint64_t* size) {
  // Looked at before the open, so that a device is not even opened (some act on an open); the
  // fstat below catches a file swapped in between.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    status = err == ENOENT ? GuardedReadStatus::kMissing : GuardedReadStatus::kCannotOpen;
    SetReason(reason, ErrnoText(err));
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    status = GuardedReadStatus::kRefused;
    SetReason(reason, kNotRegular);
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    status = err == ENOENT ? GuardedReadStatus::kMissing : GuardedReadStatus::kCannotOpen;
    SetReason(reason, ErrnoText(err));
    return -1;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    ::close(fd);
    status = GuardedReadStatus::kRefused;
    SetReason(reason, S_ISREG(st.st_mode) ? ErrnoText(err) : kNotRegular);
    return -1;
  }
  // Regular files ignore O_NONBLOCK, but a caller's later reads should not see it either.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  status = GuardedReadStatus::kOk;
  if (size) *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

GuardedReadStatus ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& out,
                                  std::string* reason) {
  out.clear();
  GuardedReadStatus status = GuardedReadStatus::kOk;
  uint64_t size = 0;
  const int fd = OpenRegularFile(path, status, reason, &size);
  if (fd < 0) return status;
  if (size > maxBytes) {
    ::close(fd);
    SetReason(reason, kTooLarge);
    return GuardedReadStatus::kRefused;
  }
  out.reserve(static_cast<std::size_t>(size));
  char buf[65536];
  for (;;) {
    // One byte beyond the limit tells a file that grew past it from one that ends there.
    const std::size_t want = std::min(sizeof buf, maxBytes + 1 - out.size());
    const ssize_t n = ::read(fd, buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      status = GuardedReadStatus::kRefused;
      SetReason(reason, ErrnoText(errno));
      break;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    if (out.size() > maxBytes) {
      status = GuardedReadStatus::kRefused;
      SetReason(reason, kTooLarge);
      break;
    }
  }
  ::close(fd);
  if (status != GuardedReadStatus::kOk) out.clear();
  return status;
}

}  // namespace busprobe
