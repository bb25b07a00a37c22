#include "traffic/record_play_guard.h"

namespace busprobe {

namespace {

bool NamesFile(const std::string& path, const std::optional<FileIdentity>& file) {
  if (!file || path.empty()) return false;
  const std::optional<FileIdentity> named = FileIdentityOfPath(path);
  return named && *named == *file;
}

}  // namespace

std::string CheckRecordingInto(const std::string& recordPath, const std::optional<FileIdentity>& played) {
  if (!NamesFile(recordPath, played)) return {};
  return "Log file " + recordPath + " is the file being played: not recorded.";
}

std::string CheckPlayingFrom(const std::string& playPath, const std::optional<FileIdentity>& recorded) {
  if (!NamesFile(playPath, recorded)) return {};
  return "Log file " + playPath + " is being recorded: not played.";
}

}  // namespace busprobe
