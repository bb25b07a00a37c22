// The CANopen explanation of the frame lists: one short English comment for a frame that is NMT,
// SDO, SYNC, node guarding or heartbeat, or emergency traffic. SDO comments keep a running account
// of segmented transfers per server, so the explainer is an object; its account describes what the
// lists have seen, never what the SDO engine did. The application gives it the frames of the
// receive and send paths (through the traffic paths' comment provider) and clears its account
// whenever the SDO settings are applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "can/can_frame.h"

namespace busprobe {

// Characters of a comment, its "; " or ";[T] " marker included.
inline constexpr size_t kCanopenCommentLimit = 79;

enum SdoTraceMode : uint8_t {
  kSdoTraceNone = 0,
  kSdoTraceUpload = 1,
  kSdoTraceDownload = 2,
  kSdoTraceDownloadFinished = 4,  // added to kSdoTraceDownload
};

// What the lists have seen of the transfers of one SDO server.
struct SdoTraceRecord {
  uint32_t key = 0;  // the server's response identifier (with the bus); 0 = unused
  uint16_t index = 0;
  uint8_t subIndex = 0;
  uint8_t toggle = 0;  // expected toggle bit: 0x00 or 0x10
  uint8_t mode = kSdoTraceNone;
  uint32_t count = 0;   // data bytes seen
  uint32_t length = 0;  // announced length; 0 when the transfer did not announce one
};

// Four records for the first four servers seen; every further server shares the spare one, so
// their accounts mix.
class SdoTransferTrace {
 public:
  static constexpr int kOwnRecords = 4;
  static constexpr int kSpareRecord = kOwnRecords;

  SdoTraceRecord& recordFor(uint32_t key);
  const SdoTraceRecord& record(int i) const { return records_[i]; }
  void clear();

 private:
  SdoTraceRecord records_[kOwnRecords + 1];
};

namespace detail {
class CommentBuilder;
}

class FrameExplainer {
 public:
  // The name of an entry of the local dictionary; empty when it has none.
  using EntryNameLookup = std::function<std::string_view(uint16_t index, uint8_t subIndex)>;
  // Another explainer in the chain (LSS): writes a comment into out and returns its length, 0: none.
  using ChainedExplainer =
      std::function<size_t(const CanFrame& frame, bool transmitted, char* out, size_t capacity)>;

  explicit FrameExplainer(EntryNameLookup entryName = {});

  void setEntryNameLookup(EntryNameLookup entryName) { entryName_ = std::move(entryName); }
  void setLssExplainer(ChainedExplainer lss) { lss_ = std::move(lss); }

  // Writes the comment (NUL-terminated, cut to the capacity) into out and returns its length; 0
  // when the frame gets none. A received frame's comment begins with "; ", a transmitted one's
  // with ";[T] ".
  size_t ExplainCanopenFrame(const CanFrame& frame, bool transmitted, char* out, size_t capacity);
  bool ExplainCanopenFrame(const CanFrame& frame, bool transmitted, std::string& comment);

  // The chain the frame lists use: this explainer, then the LSS one for 0x7E4 and 0x7E5, then the
  // emergency one. Has the shape of the traffic paths' comment provider.
  size_t commentFor(const CanFrame& frame, bool received, char* out, size_t capacity);

  // Forgets every transfer (the SDO settings were applied).
  void clearTrace() { trace_.clear(); }
  const SdoTransferTrace& trace() const { return trace_; }

 private:
  bool explainSdo(const CanFrame& frame, detail::CommentBuilder& text);
  void appendObjectName(detail::CommentBuilder& text, uint16_t index, uint8_t subIndex) const;

  EntryNameLookup entryName_;
  ChainedExplainer lss_;
  SdoTransferTrace trace_;
};

// Emergency frames (0x081..0x0FF, 8 bytes). The marker is ";[T] " for a frame the program looped
// back to itself, else ";  ". Returns what ExplainCanopenFrame returns.
size_t ExplainEmergency(const CanFrame& frame, char* out, size_t capacity);
bool ExplainEmergency(const CanFrame& frame, std::string& comment);

}  // namespace busprobe
