// Every frame on the bus reaches the CANopen explanation: any sequence of frames, with any names
// in the local dictionary, must give comments within the limit, NUL-terminated, cut to the
// caller's buffer, and must never read data bytes past the frame's length (those are poisoned).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>

#include "canopen/frame_explainer.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define BUSPROBE_POISON(addr, size) ASAN_POISON_MEMORY_REGION(addr, size)
#define BUSPROBE_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION(addr, size)
#endif
#endif
#ifndef BUSPROBE_POISON
#define BUSPROBE_POISON(addr, size) ((void)(addr), (void)(size))
#define BUSPROBE_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

using namespace busprobe;

namespace {

// Identifiers of every kind the explainer knows, and some beside them.
constexpr uint16_t kIdentifierBases[] = {0x000, 0x080, 0x081, 0x0FF, 0x100, 0x181, 0x580,
                                         0x600, 0x67F, 0x700, 0x77F, 0x7E4, 0x7E5, 0x7FF};

constexpr size_t kRecordSize = 12;  // flags, identifier choice, offset, length, 8 data bytes

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckComment(const char* out, size_t capacity, size_t n) {
  if (n == 0) return;  // nothing written
  Check(n <= kCanopenCommentLimit && n < capacity);
  Check(out[n] == '\0' && std::strlen(out) == n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The dictionary names a slice of the input, so names of any length and bytes reach the comment.
  FrameExplainer explainer([input](uint16_t index, uint8_t subIndex) -> std::string_view {
    if (input.empty() || (index & 3) == 0) return {};
    const size_t start = (index * 7u + subIndex) % input.size();
    return input.substr(start, (subIndex * 13u) % 300u);
  });
  explainer.setLssExplainer([](const CanFrame&, bool, char*, size_t) { return size_t{0}; });

  // The frame lives in a buffer of whole 8-byte granules so that the poisoned tail covers
  // exactly the bytes after its data.
  alignas(8) static unsigned char storage[80];
  for (size_t at = 0; at + kRecordSize <= size; at += kRecordSize) {
    const uint8_t* r = data + at;
    CanFrame* frame = new (storage) CanFrame();
    frame->id = kIdentifierBases[r[1] % std::size(kIdentifierBases)] + r[2];
    frame->id &= 0x7FF;
    if (r[0] & 0x01) frame->id |= CanFrame::kExtended;
    frame->id |= static_cast<uint32_t>(r[0] >> 6) << CanFrame::kBusShift;
    frame->rtr = (r[0] & 0x02) ? 1 : 0;
    frame->fdFlags = (r[0] & 0x04) ? CanFrame::kLoopback : 0;
    frame->length = r[3] % 65;
    std::memcpy(frame->data, r + 4, std::min<size_t>(8, frame->length));
    if (r[0] & 0x08) explainer.clearTrace();

    unsigned char* tail = frame->data + frame->length;
    const size_t tailSize = static_cast<size_t>(storage + sizeof storage - tail);
    BUSPROBE_POISON(tail, tailSize);

    const bool transmitted = (r[0] & 0x10) != 0;
    char out[kCanopenCommentLimit + 8];
    const size_t capacity = (r[0] & 0x20) ? (r[2] % (sizeof out + 1)) : sizeof out;
    CheckComment(out, capacity, explainer.ExplainCanopenFrame(*frame, transmitted, out, capacity));
    CheckComment(out, capacity, explainer.commentFor(*frame, !transmitted, out, capacity));
    CheckComment(out, capacity, ExplainEmergency(*frame, out, capacity));

    BUSPROBE_UNPOISON(tail, tailSize);
  }
  return 0;
}
