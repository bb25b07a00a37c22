// The deferred message queue: the only way code outside the user-interface thread (CAN-via-UDP
// receive threads, the UCAN layer from a relay) reaches the messages window. Writers format a line
// prefixed "CAN: " into one of 8 slots; the tick drains them oldest first. A full queue drops the
// line and counts it, so the tick can say that lines were lost.
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace busprobe {

class DeferredMessageQueue {
 public:
  static constexpr int kSlots = 8;
  static constexpr int kSlotChars = 2048;

  // printf-style; adds "CAN: ". Callable from any thread.
  void QueueCanMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void QueueCanMessageV(const char* format, va_list args);

  // Takes every queued line, oldest first. `dropped` receives the number of lines lost since the
  // last drain.
  std::vector<std::string> drain(uint32_t* dropped = nullptr);

 private:
  std::mutex mutex_;
  std::array<std::string, kSlots> slots_;
  unsigned head_ = 0;  // next slot to write
  unsigned tail_ = 0;  // next slot to read
  unsigned count_ = 0;
  uint32_t dropped_ = 0;
};

}  // namespace busprobe
