// Replacing a file so that a crash or power cut at any moment leaves either the old or the new
// content, never a torn mix: the settings and the saved script variables are written this way.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace busprobe {

// Writes content to a temporary file next to the target, syncs it, keeps the old file's
// permissions and renames it over the target, then syncs the directory. A symbolic link is
// written through: the file it names is replaced (or created, when the link dangles) and the link
// stays. Returns 0, or the errno of the step that failed (nothing is replaced then); EROFS when
// the file exists but this user may not write it (made read-only, a read-only file system): a
// rename would replace it all the same, so it is left alone; EPERM when what stands there (or
// where the link leads) is not a regular file: a directory, a FIFO or a device is never replaced.
int WriteFileAtomically(const std::string& path, std::string_view content);

// The name of the temporary file a save of `base` in `dir` by process `pid` uses on its
// `attempt`-th try: "<dir>/.<base>.tmp<pid>-<attempt>".
std::string AtomicTempFileName(const std::string& dir, const std::string& base, long pid, int attempt);

// Removes from `dir` the temporary files of saves whose process no longer runs (a save killed
// between creating and renaming its file), for the file names `isOurs` accepts. Files of running
// processes are kept: they may be in the middle of their save. Returns how many were removed.
int RemoveStaleTempFiles(const std::string& dir, const std::function<bool(std::string_view base)>& isOurs);

}  // namespace busprobe
