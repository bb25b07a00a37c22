// Recording into the log file that is being replayed feeds the replay its own frames: the file
// grows as fast as it is played, the replay never reaches its end, and a foreign log (candump,
// PCAN) gets our lines mixed into it. The owner of the logger and the player installs these checks
// on both (Logger::setOpenCheck, LogPlayer::setOpenCheck), so every way of starting either refuses
// the other's file, whichever starts first. Files are compared by device and inode, so a hard or
// symbolic link to the file is the same file.
#pragma once

#include <optional>
#include <string>

#include "traffic/file_identity.h"

namespace busprobe {

// The refusal text when recording into `recordPath` would write into the file being played
// (`played`: the player's open file, if any); empty when recording there is fine.
std::string CheckRecordingInto(const std::string& recordPath, const std::optional<FileIdentity>& played);
// The refusal text when playing `playPath` would replay the file being recorded; empty when fine.
std::string CheckPlayingFrom(const std::string& playPath, const std::optional<FileIdentity>& recorded);

}  // namespace busprobe
