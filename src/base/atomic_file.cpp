#include "base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace busprobe {

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The file a save has to replace: the end of a chain of symbolic links rather than the link
// itself, so that a file kept elsewhere through a link stays there and the link stays a link.
// The end need not exist (a dangling link): the save then creates it. 0 or the errno.
int ResolveTarget(const std::string& path, std::string& target) {
  target = path;
  // The kernel's own limit on links followed in one lookup.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) >= link.size()) return ENAMETOOLONG;  // changed while we looked
    link.resize(static_cast<size_t>(n));
    if (link.empty()) return ENOENT;
    target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
  }
  return ELOOP;
}

bool ParseDecimal(std::string_view text, long& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// Splits ".<base>.tmp<pid>-<attempt>" into base and pid.
bool ParseTempFileName(std::string_view name, std::string_view& base, long& pid) {
  if (name.size() < 2 || name[0] != '.') return false;
  const size_t tmp = name.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp < 2) return false;
  const std::string_view tail = name.substr(tmp + 4);
  const size_t dash = tail.find('-');
  long attempt = 0;
  if (dash == std::string_view::npos || !ParseDecimal(tail.substr(0, dash), pid) ||
      !ParseDecimal(tail.substr(dash + 1), attempt) || pid <= 0)
    return false;
  base = name.substr(1, tmp - 1);
  return true;
}

}  // namespace

std::string AtomicTempFileName(const std::string& dir, const std::string& base, long pid, int attempt) {
  return dir + "/." + base + ".tmp" + std::to_string(pid) + "-" + std::to_string(attempt);
}

int WriteFileAtomically(const std::string& path, std::string_view content) {
  std::string target;
  if (const int err = ResolveTarget(path, target); err != 0) return err;
  const std::string dir = DirectoryOf(target);
  const size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // Only a regular file is replaced. A link to a device or a FIFO (current_vars.txt -> /dev/zero)
  // would otherwise have the device node itself renamed away, which the super-user may do.
  if (exists && !S_ISREG(old.st_mode)) return EPERM;
  // A file the user made read-only says "leave me as I am"; the rename below would not ask. The
  // super-user passes every access check, so a file without any write permission counts too.
  if (exists &&
      (((old.st_mode & 0222) == 0) ||
       (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EROFS))))
    return EROFS;

  // A temporary name of our own (process id, O_EXCL) in the same directory, so that the rename
  // is atomic and a temporary file left by an earlier crash is never written into.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = AtomicTempFileName(dir, base, static_cast<long>(::getpid()), attempt);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return errno != 0 ? errno : EEXIST;
  if (exists) {
    // A user who made the file private keeps it private.
    (void)::fchmod(fd, old.st_mode & 07777);
  }
  int err = 0;
  if (!WriteAll(fd, content) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  // The rename itself must reach the disk too, or a power cut could bring back the old file.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

int RemoveStaleTempFiles(const std::string& dir, const std::function<bool(std::string_view base)>& isOurs) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view name = entry->d_name;
    std::string_view base;
    long pid = 0;
    if (!ParseTempFileName(name, base, pid) || !isOurs(base)) continue;
    // Only a process that is gone for sure: EPERM means it runs under another user.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const std::string path = dir + "/" + std::string(name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

}  // namespace busprobe
