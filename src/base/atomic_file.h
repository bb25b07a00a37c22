// Replacing a file so that a crash or power cut at any moment leaves either the old or the new
// content, never a torn mix: the settings and the saved script variables are written this way.
#pragma once

#include <string>
#include <string_view>

namespace busprobe {

// Writes content to a temporary file next to the target (the target of a symbolic link when path
// is one), syncs it, keeps the old file's permissions and renames it over the target, then syncs
// the directory. Returns 0, or the errno of the step that failed (nothing is replaced then).
int WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace busprobe
