// Frame text: the one-line form in which every received and sent frame is shown in the Rx and Tx
// panes and written to the text log. The receive and transmit paths format each frame against
// the previous frame time of the runtime display state; the panes' Stop switches live here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "can/can_frame.h"
#include "traffic/traffic_settings.h"

namespace busprobe {

// Runtime display state, owned by the application and shared by both traffic paths.
struct DisplayState {
  // timestamp of the last frame formatted for display, received or sent
  uint32_t previousTime = 0;
  // set by the first extended frame formatted: standard identifiers are then padded so that the
  // columns stay aligned with 8-digit extended ones
  bool extendedIdSeen = false;
  // pause switches of the panes ("Stop"/"Run")
  bool rxDisplayStopped = false;
  bool txDisplayStopped = false;
};

// A line buffer large enough for every field of a 64-byte frame plus a comment.
constexpr size_t kFrameLineCapacity = 384;
// Comments and the ";[T]" mark start at this column.
constexpr size_t kCommentColumn = 43;

// Writes the frame's line (no line end, NUL-terminated) into buffer and returns its length, which
// never exceeds capacity - 1. Sets extendedIdSeen when the frame is an extended one. previousTime
// is the reference of relative time stamps.
size_t FormatFrameLine(const CanFrame& frame, const CanDisplaySettings& settings, bool& extendedIdSeen,
                       uint32_t previousTime, char* buffer, size_t capacity);

// Pads the line in buffer (length len) with spaces to the comment column and appends text.
// received: a comment that would take the line beyond 200 characters is cut to 79 characters.
// Returns the new length (bounded by capacity - 1).
size_t AppendLineComment(char* buffer, size_t len, size_t capacity, std::string_view comment, bool received);

// Sort key of a frame in a sorted list: the id word (signed, sign-extended) * 4, + 1 for a data
// frame, + 2 for a received one. For one identifier: remote sent, data sent, remote received,
// data received.
inline int64_t FrameSortKey(const CanFrame& frame, bool received) {
  return static_cast<int64_t>(static_cast<int32_t>(frame.id)) * 4 + (frame.rtr ? 0 : 1) + (received ? 2 : 0);
}

}  // namespace busprobe
