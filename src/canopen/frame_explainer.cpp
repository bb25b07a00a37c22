#include "canopen/frame_explainer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/byte_order.h"
#include "canopen/emcy_codes.h"
#include "canopen/sdo_abort_text.h"
#include "canopen/standard_objects.h"

namespace busprobe {

namespace detail {

// A comment of at most kCanopenCommentLimit characters: whatever would pass the limit is dropped.
class CommentBuilder {
 public:
  size_t size() const { return size_; }
  size_t room() const { return kCanopenCommentLimit - size_; }

  void append(std::string_view s) {
    const size_t n = std::min(s.size(), room());
    if (n == 0) return;
    std::memcpy(text_ + size_, s.data(), n);
    size_ += n;
  }
  void append(char c) {
    if (room() > 0) text_[size_++] = c;
  }
  __attribute__((format(printf, 2, 3))) void appendf(const char* format, ...) {
    char piece[kCanopenCommentLimit + 1];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n > 0) append(std::string_view(piece, std::min(static_cast<size_t>(n), sizeof piece - 1)));
  }
  void cut(size_t length) { size_ = std::min(size_, length); }

  size_t copyTo(char* out, size_t capacity) const {
    if (capacity == 0) return 0;
    const size_t n = std::min(size_, capacity - 1);
    std::memcpy(out, text_, n);
    out[n] = '\0';
    return n;
  }

 private:
  char text_[kCanopenCommentLimit];
  size_t size_ = 0;
};

}  // namespace detail

using detail::CommentBuilder;

namespace {

constexpr std::string_view kReceivedMarker = "; ";
constexpr std::string_view kTransmittedMarker = ";[T] ";
// The emergency explainer has always marked received frames with two blanks.
constexpr std::string_view kReceivedEmergencyMarker = ";  ";

// Below this much room an object name would be too short to recognise.
constexpr size_t kMinNameRoom = 6;
// The written value of an expedited request only follows a comment this short.
constexpr size_t kValueColumnLimit = 69;
// The abort texts leave one character less than other comments.
constexpr size_t kServerAbortLimit = 78;

constexpr uint8_t kToggle = 0x10;
constexpr uint8_t kExpedited = 0x02;
constexpr uint8_t kSizeIndicated = 0x01;

// Data bytes of a classic frame, zero where the frame is shorter: a short SDO frame must not show
// bytes left over from an earlier one.
struct EightBytes {
  uint8_t b[8] = {};
  explicit EightBytes(const CanFrame& frame) {
    std::memcpy(b, frame.data, std::min<size_t>(frame.length, sizeof b));
  }
};

bool IsPrintableData(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i];
    const bool printable = (c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n' || c == '\t';
    if (!printable && !(c == 0 && i + 1 == n)) return false;
  }
  return true;
}

// Segment data that reads as text follows its comment in double quotes.
void AppendPrintableData(CommentBuilder& text, const uint8_t* bytes, size_t n) {
  if (n == 0 || !IsPrintableData(bytes, n)) return;
  text.append(": \"");
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i];
    switch (c) {
      case '\t':
        text.append("\\t");
        break;
      case '\n':
        text.append("\\n");
        break;
      case '\r':
        text.append("\\r");
        break;
      default:
        text.append(c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '~');
    }
  }
  text.append('"');
}

// Expedited values as wide as their size indication says (4 bytes when it says nothing).
void AppendExpeditedValue(CommentBuilder& text, uint8_t command, uint32_t value) {
  const int size = (command & kSizeIndicated) ? 4 - ((command >> 2) & 3) : 4;
  switch (size) {
    case 1:
      text.appendf("0x%02x", static_cast<unsigned>(value & 0xFF));
      break;
    case 2:
      text.appendf("0x%04x", static_cast<unsigned>(value & 0xFFFF));
      break;
    case 3:
      text.appendf("0x%06x", static_cast<unsigned>(value & 0xFFFFFF));
      break;
    default:
      text.appendf("0x%08x", static_cast<unsigned>(value));
  }
}

bool LengthAnnounced(const SdoTraceRecord& r) {
  return r.length != 0;
}

}  // namespace

SdoTraceRecord& SdoTransferTrace::recordFor(uint32_t key) {
  for (int i = 0; i < kOwnRecords; ++i) {
    if (records_[i].key == key) return records_[i];
  }
  for (int i = 0; i < kOwnRecords; ++i) {
    if (records_[i].key == 0) {
      records_[i] = SdoTraceRecord{};
      records_[i].key = key;
      return records_[i];
    }
  }
  return records_[kSpareRecord];
}

void SdoTransferTrace::clear() {
  for (SdoTraceRecord& r : records_) r = SdoTraceRecord{};
}

FrameExplainer::FrameExplainer(EntryNameLookup entryName) : entryName_(std::move(entryName)) {}

void FrameExplainer::appendObjectName(CommentBuilder& text, uint16_t index, uint8_t subIndex) const {
  std::string standard;
  std::string_view name;
  if (entryName_) name = entryName_(index, subIndex);
  if (name.empty()) {
    standard = StandardObjectName(index, subIndex == 0 ? kWholeObject : subIndex, false);
    name = standard;
  }
  if (name.empty() || static_cast<unsigned char>(name[0]) <= ' ' || text.room() < kMinNameRoom) return;
  name = name.substr(0, text.room() - 2);
  text.append('"');
  // A dictionary file may hold any byte in a name; a line end in it would break the list line and
  // the log file.
  for (const char c : name) text.append(static_cast<unsigned char>(c) < 0x20 ? '~' : c);
  text.append('"');
}

bool FrameExplainer::explainSdo(const CanFrame& frame, CommentBuilder& text) {
  const uint32_t identifier = frame.identifier();
  const bool fromClient = identifier >= 0x601;
  // Requests and responses of one server share its record; so do its relayed frames.
  const uint32_t key =
      (frame.matchingId() & CanFrame::kBusMask) | (fromClient ? identifier - 0x80 : identifier);
  SdoTraceRecord& r = trace_.recordFor(key);

  const EightBytes bytes(frame);
  const uint8_t* b = bytes.b;
  const uint8_t c = b[0];
  const uint8_t t = c & kToggle;
  const uint16_t index = GetLe16(b + 1);
  const uint8_t subIndex = b[3];
  const uint32_t d = GetLe32(b + 4);

  switch (c & 0xE2) {
    case 0x00:
    case 0x02: {
      const uint32_t n = 7 - ((c >> 1) & 7);
      const uint64_t total = static_cast<uint64_t>(r.count) + n;
      if (fromClient) {
        if (r.mode == kSdoTraceNone || t != r.toggle) return false;
        r.count = static_cast<uint32_t>(total);
        text.appendf("data, cli->srv, %u of %u bytes", static_cast<unsigned>(r.count),
                     static_cast<unsigned>(r.length));
        AppendPrintableData(text, b + 1, n);
        return true;
      }
      const bool fits = !LengthAnnounced(r) || total <= r.length;
      if (r.mode != kSdoTraceNone && t == r.toggle && n > 0 && fits) {
        r.toggle = t ^ kToggle;
        r.count = static_cast<uint32_t>(total);
        text.appendf("data, srv->cli, %u of %u bytes", static_cast<unsigned>(r.count),
                     static_cast<unsigned>(r.length));
        AppendPrintableData(text, b + 1, n);
      } else if (r.mode == kSdoTraceUpload) {
        if (t != r.toggle) {
          text.append("ERROR: bad togglebit in dom.-xfer");
        } else if (n == 0) {
          text.append("ERROR: length=0 in domain transfer");
        } else if (!fits) {
          text.append("ERROR: block length exceeded in dom-xfer");
        } else {
          text.append("ERROR: other problem in dom.-xfer");
        }
      } else {
        text.append("ERROR: unexpected domain transfer");
      }
      return true;
    }

    case 0x20:
    case 0x22:
      if (fromClient) {  // initiate download
        r.toggle = 0;
        r.index = index;
        r.subIndex = subIndex;
        if (c & kExpedited) {
          r.mode = kSdoTraceNone;
          r.count = 0;
          text.appendf("WR-Req %04X.%02X ", index, subIndex);
          appendObjectName(text, index, subIndex);
          if (text.size() <= kValueColumnLimit) {
            text.append(" := ");
            AppendExpeditedValue(text, c, d);
          }
        } else {
          r.mode = kSdoTraceDownload;
          r.count = 0;
          r.length = (c & kSizeIndicated) ? d : 0;
          text.appendf("WR-Req/DOMAIN %04X.%02X, %u bytes ", index, subIndex,
                       static_cast<unsigned>(r.length));
          appendObjectName(text, index, subIndex);
        }
        return true;
      }
      // download segment response
      if (const uint8_t* nonzero = std::find_if(b + 1, b + 8, [](uint8_t x) { return x != 0; });
          nonzero != b + 8) {
        text.appendf("illegal write response (byte[%d] nonzero), server->client",
                     static_cast<int>(nonzero - b));
      } else if (r.mode == kSdoTraceDownload) {
        text.append(t == r.toggle ? "segmented write response, server->client"
                                  : "ERROR IN TOGGLEBIT in SDO seg.wr.resp !");
      } else {
        text.append("unexpected segmented write response, server->client");
      }
      r.toggle = t ^ kToggle;
      if (r.mode == kSdoTraceDownload && LengthAnnounced(r) && r.count >= r.length) {
        r.mode |= kSdoTraceDownloadFinished;
      }
      return true;

    case 0x40:
    case 0x42:
      if (fromClient) {  // initiate upload
        r.count = 0;
        r.toggle = 0;
        r.mode = kSdoTraceNone;
        text.appendf("RD-Req %04X.%02X ", index, subIndex);
        appendObjectName(text, index, subIndex);
        return true;
      }
      // initiate upload response
      r.count = 0;
      r.toggle = 0;
      text.appendf("rd-rsp %04X.%02X:", index, subIndex);
      if (!(c & kExpedited)) {
        r.mode = kSdoTraceUpload;
        r.length = (c & kSizeIndicated) ? d : 0;
        if (c & kSizeIndicated) {
          text.appendf(" BlkLen=%u ", static_cast<unsigned>(d));
        } else {
          text.append("size not indicated !?");
        }
      } else {
        r.mode = kSdoTraceNone;
        if (c & kSizeIndicated) {
          AppendExpeditedValue(text, c, d);
        } else {
          text.append("size not indicated !?");
        }
      }
      return true;

    case 0x60:
      if (fromClient) {  // upload segment request
        if (r.mode == kSdoTraceUpload && t == r.toggle) {
          if (!LengthAnnounced(r) || r.count < r.length) {
            text.append("domain transfer continues");
          } else {
            r.mode = kSdoTraceNone;
            text.appendf("domain transfer finished: len=%u, cnt=%u", static_cast<unsigned>(r.length),
                         static_cast<unsigned>(r.count));
          }
        } else {
          if (r.mode == kSdoTraceUpload) {
            text.appendf("ERROR: bad toggle bit, expected=%d", r.toggle >> 4);
          } else {
            text.append("ERROR: unexpected domain transfer");
          }
          r.mode = kSdoTraceNone;
        }
        return true;
      }
      // initiate download response
      if (r.mode == kSdoTraceDownload) {
        text.append(r.count != 0 ? "unexpected initial seg-write response, server->client"
                                 : "SEGMENTED write response, server->client");
        if (index != r.index || subIndex != r.subIndex) text.append(" ??multiplexer??");
      } else {
        text.appendf("wr-rsp %04X.%02X ", index, subIndex);
        appendObjectName(text, index, subIndex);
      }
      r.toggle = 0;
      return true;

    case 0x80:
      text.append(fromClient ? "ABORTED by client: " : "ABORTED by server: ");
      text.append(SdoAbortText(d));
      if (!fromClient) text.cut(kServerAbortLimit);
      return true;

    default:
      text.append("UNKNOWN COMMAND SPECIFIER !");
      return true;
  }
}

size_t FrameExplainer::ExplainCanopenFrame(const CanFrame& frame, bool transmitted, char* out,
                                           size_t capacity) {
  // CANopen uses base-format identifiers only; an extended 0x705 is somebody else's frame.
  if (frame.extended()) return 0;
  const uint32_t identifier = frame.identifier();
  const uint8_t* b = frame.data;
  CommentBuilder text;
  text.append(transmitted ? kTransmittedMarker : kReceivedMarker);

  if (identifier == 0 && frame.length == 2 && !frame.rtr) {
    text.append("NMT ");
    switch (b[0]) {
      case 0x01:
        text.append("Start Remote Node");
        break;
      case 0x02:
        text.append("STOP Remote Node");
        break;
      case 0x80:
        text.append("Enter PRE-OPERATIONAL state");
        break;
      case 0x81:
        text.append("RESET NODE");
        break;
      case 0x82:
        text.append("RESET COMMUNICATION");
        break;
      default:
        text.append("unknown NMT service");
    }
    if (b[1] != 0) {
      text.appendf(" for node #%d", b[1]);
    } else {
      text.append(" (broadcast)");
    }
  } else if (((identifier >= 0x581 && identifier <= 0x5FF) || (identifier >= 0x601 && identifier <= 0x67F)) &&
             !frame.rtr) {
    if (!explainSdo(frame, text)) return 0;
  } else if (identifier == 0x080 && frame.length <= 1 && !frame.rtr) {
    text.append("CANopen SYNC");
  } else if (identifier >= 0x701 && identifier <= 0x77F && frame.length == 1) {
    const int node = static_cast<int>(identifier & 0x7F);
    if (frame.rtr) {
      text.append("NodeGuard request");
    } else {
      const int state = b[0] & 0x7F;
      const char* kind = (b[0] & 0x80) ? "Guarding,t=1 " : "Error Control";
      switch (state) {
        case 0:
          text.appendf("Bootup message from node #%d", node);
          break;
        case 4:
          text.appendf("%s: Node #%d STOPPED", kind, node);
          break;
        case 5:
          text.appendf("%s: Node #%d OPERATIONAL", kind, node);
          break;
        case 0x7F:
          text.appendf("%s: Node #%d PRE-OPERATIONAL", kind, node);
          break;
        default:
          text.appendf("%s: Strange msg from node #%d", kind, node);
      }
    }
  } else {
    return 0;
  }
  return text.copyTo(out, capacity);
}

bool FrameExplainer::ExplainCanopenFrame(const CanFrame& frame, bool transmitted, std::string& comment) {
  char text[kCanopenCommentLimit + 1];
  const size_t n = ExplainCanopenFrame(frame, transmitted, text, sizeof text);
  comment.assign(text, n);
  return n > 0;
}

size_t FrameExplainer::commentFor(const CanFrame& frame, bool received, char* out, size_t capacity) {
  size_t n = ExplainCanopenFrame(frame, !received, out, capacity);
  const uint32_t identifier = frame.identifier();
  if (n == 0 && lss_ && !frame.extended() && (identifier == 0x7E4 || identifier == 0x7E5)) {
    n = lss_(frame, !received, out, capacity);
  }
  if (n == 0) n = ExplainEmergency(frame, out, capacity);
  return n;
}

size_t ExplainEmergency(const CanFrame& frame, char* out, size_t capacity) {
  const uint32_t identifier = frame.identifier();
  if (frame.extended() || frame.rtr || identifier < 0x081 || identifier > 0x0FF || frame.length != 8)
    return 0;
  CommentBuilder text;
  text.append((frame.fdFlags & CanFrame::kLoopback) ? kTransmittedMarker : kReceivedEmergencyMarker);
  text.appendf("Emergency, node #%d: ", static_cast<int>(identifier & 0x7F));
  const uint16_t code = GetLe16(frame.data);
  const std::string_view codeText = EmcyCodeText(code);
  if (codeText.empty()) {
    text.appendf("ErrorCode=0x%04x", code);
  } else {
    text.append(codeText);
  }
  return text.copyTo(out, capacity);
}

bool ExplainEmergency(const CanFrame& frame, std::string& comment) {
  char text[kCanopenCommentLimit + 1];
  const size_t n = ExplainEmergency(frame, text, sizeof text);
  comment.assign(text, n);
  return n > 0;
}

}  // namespace busprobe
