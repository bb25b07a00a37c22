// The frame lists' comment for LSS traffic (identifiers 0x7E4 and 0x7E5, 8 bytes).
#pragma once

#include <cstddef>
#include <string>

#include "can/can_frame.h"

namespace busprobe {

// Writes the comment (NUL-terminated, cut to the capacity) and returns its length; 0 when the frame
// is no LSS frame. transmitted, or the loopback bit of a frame fed back, gives "; TX ".
size_t ExplainLssFrame(const CanFrame& frame, bool transmitted, char* out, size_t capacity);
bool ExplainLssFrame(const CanFrame& frame, bool transmitted, std::string& comment);

}  // namespace busprobe
