#include "canopen/sdo_engine.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/byte_order.h"
#include "base/canopen_types.h"
#include "base/clock.h"
#include "base/translator.h"
#include "canopen/sdo_abort_text.h"
#include "canopen/sdo_settings.h"

namespace busprobe {

namespace {

constexpr uint8_t kToggleBit = 0x10;
constexpr double kTickMs = 100.0;
constexpr int kDefaultTimerTicks = 5;
constexpr int kMaxTimeoutCount = 255;
constexpr uint16_t kObjectDcfStorage = 0x1021;  // always read through the data-block callback

uint16_t FrameIndex(const uint8_t* d) {
  return GetLe16(d + 1);
}

bool SameMultiplexer(const SdoChannel& ch, const uint8_t* d) {
  return FrameIndex(d) == ch.index && d[3] == ch.subIndex;
}

// Data bytes of a segment: 7 minus the count of unused bytes in bits 1..3 of the command.
int SegmentBytes(uint8_t c) {
  return 7 - ((c >> 1) & 7);
}

// Significant bytes of an expedited value: from bits 2..3 when bit 0 says the size is given.
uint8_t ExpeditedSize(uint8_t c) {
  return (c & 1) ? static_cast<uint8_t>(4 - ((c >> 2) & 3)) : 4;
}

}  // namespace

CanFrame SdoFrame(uint32_t cobId, uint8_t command, uint16_t index, uint8_t subIndex, uint32_t data) {
  CanFrame f;
  f.id = cobId;
  f.length = 8;
  f.data[0] = command;
  PutLe16(f.data + 1, index);
  f.data[3] = subIndex;
  PutLe32(f.data + 4, data);
  return f;
}

SdoEngine::SdoEngine(SdoSettings& settings, SdoDictionaryAccess& dictionary, Clock& clock,
                     SdoEngineLinks links)
    : settings_(settings), dictionary_(dictionary), clock_(clock), links_(std::move(links)) {
  SdoApplySettings();
}

void SdoEngine::SdoApplySettings() {
  SdoCorrectNodeIds(settings_);
  for (int i = 0; i < kSdoServerCount; ++i) {
    SdoChannel& s = servers_[static_cast<size_t>(i)];
    s.reset();
    const int node =
        i == 0 ? settings_.serverNodeId : settings_.moreServerNodeIds[static_cast<size_t>(i - 1)];
    s.txCobId = 0x580u + static_cast<uint32_t>(node);
    s.rxCobId = 0x600u + static_cast<uint32_t>(node);
    // Node 0 is how the configuration says "no server here": switched on, every one of them would
    // answer the same requests.
    s.enabled = node == 0 ? 0u : static_cast<uint32_t>(settings_.serverEnable);
    s.timeoutTicks = SdoTimeoutTicks(settings_.serverTimeoutMs);
  }
  client_.reset();
  client_.txCobId = (0x600u + static_cast<uint32_t>(settings_.clientNodeId)) & 0xFFFFu;
  client_.rxCobId = (0x580u + static_cast<uint32_t>(settings_.clientNodeId)) & 0xFFFFu;
  client_.enabled = static_cast<uint32_t>(settings_.clientEnable);
  client_.timeoutTicks = SdoTimeoutTicks(settings_.clientTimeoutMs);
}

bool SdoEngine::messagesWanted() const {
  return links_.message && (!links_.messagesWanted || links_.messagesWanted());
}

void SdoEngine::sdoMessage(const char* format, ...) {
  if (!messagesWanted()) return;
  const char* f = links_.translator ? links_.translator->translate(format) : format;
  char line[400];
  const double seconds = clock_.nowMs() / 1000.0;
  int n =
      std::snprintf(line, sizeof line, "t=%lu: SDO: ", static_cast<unsigned long>(seconds > 0 ? seconds : 0));
  if (n < 0) n = 0;
  va_list args;
  va_start(args, format);
  std::vsnprintf(line + n, sizeof line - static_cast<size_t>(n), f, args);
  va_end(args);
  links_.message(line);
}

bool SdoEngine::send(SdoChannel& ch, CanFrame& frame) {
  frame.id = ch.txCobId;
  if (!links_.transmit || !links_.transmit(frame)) return false;
  ++ch.txCount;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Client

bool SdoEngine::InitTransfer() {
  SdoChannel& ch = client_;
  ch.abortCode = 0;
  ch.state = kSdoBusy;
  ch.timer = ch.timeoutTicks < 1 ? kDefaultTimerTicks : ch.timeoutTicks + 1;
  if (ch.txCobId < 0x101 || ch.txCobId > 0x3FFE) {
    ch.state = kSdoFailed;
    sdoMessage("SDO error: InitTransfer fails, bad CAN-id=$%04X.", ch.txCobId);
    return false;
  }
  CanFrame f;
  if (!ch.isDownload) {
    // Whatever a broken-off earlier upload left must not take the segments of this one.
    ch.segmentMode = kSdoNoSegments;
    ch.streaming = 0;
    f = SdoFrame(ch.txCobId, 0x40, ch.index, ch.subIndex, 0);
  } else if (ch.blockLength > 0) {
    if (ch.blockLength > kSdoBufferSize) {
      // The segments would be read from beyond the buffer.
      ch.state = kSdoFailed;
      ch.abortCode = kSdoAbortOutOfMemory;
      sdoMessage("SDO error: InitTransfer fails, error-code=$%08lX.",
                 static_cast<unsigned long>(ch.abortCode));
      return false;
    }
    ch.segmentMode = kSdoSegmentedDownload;
    ch.position = 0;
    ch.toggle = 0;
    f = SdoFrame(ch.txCobId, 0x21, ch.index, ch.subIndex, static_cast<uint32_t>(ch.blockLength));
  } else {
    ch.segmentMode = kSdoNoSegments;
    ch.blockLength = 0;
    const uint8_t c = static_cast<uint8_t>(0x23 | (((4 - ch.valueSize) & 3) << 2));
    int bytes = 4;
    if (!ch.rawValue) {
      switch (ch.dataType) {
        case 1:
        case 2:
        case 5:
          bytes = 1;
          break;
        case 3:
        case 6:
          bytes = 2;
          break;
        default:
          break;
      }
    }
    f = SdoFrame(ch.txCobId, c, ch.index, ch.subIndex, 0);
    std::memcpy(f.data + 4, ch.value, static_cast<size_t>(bytes));
  }
  if (send(ch, f)) return true;
  ch.state = kSdoFailed;
  if (ch.abortCode == 0) ch.abortCode = kSdoAbortCanError;
  sdoMessage("SDO error: InitTransfer fails, error-code=$%08lX.", static_cast<unsigned long>(ch.abortCode));
  return false;
}

void SdoEngine::nextDownloadSegment(SdoChannel& ch, CanFrame& f) {
  int n = std::min(ch.blockLength - ch.position, 7);
  n = std::max(0, std::min(n, kSdoBufferSize - ch.position));
  f = SdoFrame(ch.txCobId, 0, 0, 0, 0);
  std::memcpy(f.data + 1, ch.buffer + ch.position, static_cast<size_t>(n));
  ch.position += n;
  uint8_t c = static_cast<uint8_t>(ch.toggle | ((7 - n) << 1));
  if (ch.position < ch.blockLength)
    ch.toggle ^= kToggleBit;
  else
    c |= 1;
  f.data[0] = c;
}

void SdoEngine::clientFrame(SdoChannel& ch, const CanFrame& frame) {
  ++ch.rxCount;
  const uint8_t* d = frame.data;
  const uint8_t c = d[0];
  switch (c & 0xE3) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
      clientUploadSegment(ch, frame, c);
      break;
    case 0x20:
      clientDownloadSegmentResponse(ch, c);
      break;
    case 0x40:
    case 0x41:
      clientSegmentedUploadResponse(ch, frame, c);
      break;
    case 0x42:
    case 0x43:
      clientExpeditedUploadResponse(ch, frame, c);
      break;
    case 0x60:
      clientDownloadResponse(ch, frame, c);
      break;
    case 0x80:
      if (ch.busy()) {
        ch.abortCode = GetLe32(d + 4);
        ch.state = kSdoFailed;
        ch.segmentMode = kSdoNoSegments;
        ch.setValue32(0);
      }
      break;
    default:
      sdoMessage("Client: ignoring unknown Command Specifier ($%02X)", c);
      break;
  }
}

void SdoEngine::clientUploadSegment(SdoChannel& ch, const CanFrame& frame, uint8_t c) {
  // A segment belongs to the segmented upload it answers. Outside one (a late or repeated answer,
  // a transfer that failed or timed out), taking it would overwrite a finished result or turn a
  // failure into success.
  if (!ch.busy() || ch.segmentMode != kSdoSegmentedUpload) return;
  const int n = SegmentBytes(c);
  const uint8_t* bytes = frame.data + 1;
  if (ch.streaming) {
    if (ch.dataCallback) ch.dataCallback(ch, kSdoBlockData, n, bytes);
  } else if (ch.position < kSdoBufferSize) {
    const int room = std::min(n, kSdoBufferSize - ch.position);
    std::memcpy(ch.buffer + ch.position, bytes, static_cast<size_t>(room));
  }
  if (ch.position <= INT32_MAX - n) ch.position += n;
  if (c & 1) {
    if (ch.dataCallback) ch.dataCallback(ch, kSdoBlockEnded, ch.position, nullptr);
    ch.segmentMode = kSdoNoSegments;
    ch.state = kSdoFinished;
    return;
  }
  if (!ch.busy()) return;  // the callback may have ended the transfer
  CanFrame request = SdoFrame(ch.txCobId, static_cast<uint8_t>(0x60 | ch.toggle), 0, 0, 0);
  ch.toggle ^= kToggleBit;
  send(ch, request);
}

void SdoEngine::clientDownloadSegmentResponse(SdoChannel& ch, uint8_t c) {
  if (!ch.busy() || ch.segmentMode != kSdoSegmentedDownload) {
    if (ch.busy()) sdoMessage("Client: unexpected segment download response ($%02X)", c);
    ch.state = kSdoFailed;
    return;
  }
  if (ch.position >= ch.blockLength) {
    ch.rawValue = 1;
    ch.segmentMode = kSdoNoSegments;
    ch.state = kSdoFinished;
    return;
  }
  CanFrame segment;
  nextDownloadSegment(ch, segment);
  send(ch, segment);
}

void SdoEngine::clientDownloadResponse(SdoChannel& ch, const CanFrame& frame, uint8_t c) {
  // The server's confirmation of a write: an upload that gets one has not been answered.
  if (!ch.busy() || !ch.isDownload || !SameMultiplexer(ch, frame.data)) {
    if (ch.busy()) sdoMessage("Client: unexpected 'download' response ($%02X)", c);
    ch.state = kSdoFailed;
    return;
  }
  if (ch.segmentMode == kSdoSegmentedDownload) {
    // Even a transfer whose only segment goes out now waits for that segment's confirmation: the
    // server writes the object on the last segment and may refuse it with an abort.
    CanFrame segment;
    nextDownloadSegment(ch, segment);
    send(ch, segment);
  } else if (ch.segmentMode == kSdoNoSegments) {
    ch.state = kSdoFinished;
  }
}

void SdoEngine::clientSegmentedUploadResponse(SdoChannel& ch, const CanFrame& frame, uint8_t c) {
  // A repeated or late answer must not replace the size and mode of a finished result, nor open a
  // readout file.
  if (!ch.busy()) {
    ch.state = kSdoFailed;
    return;
  }
  if (ch.isDownload) {
    sdoMessage("Client: unexpected upload response ($%02X)", c);
    ch.state = kSdoFailed;
    return;
  }
  const uint8_t* d = frame.data;
  ch.streaming = 0;
  int32_t refusal = 0;  // the callback's abort code, sent to the server
  if (!(c & 1)) {
    sdoMessage("Client: cannot handle upload without size indication ($%02X)", c);
    ch.abortCode = kSdoAbortCommand;
    ch.state = kSdoFailed;
  } else {
    const uint32_t size = GetLe32(d + 4);
    ch.blockLength = static_cast<int32_t>(size);
    if (size >= 1 && size <= static_cast<uint32_t>(kSdoBufferSize) && ch.index != kObjectDcfStorage) {
      ch.segmentMode = kSdoSegmentedUpload;
    } else {
      const int32_t answer =
          ch.dataCallback ? ch.dataCallback(ch, kSdoBlockAnnounced, ch.blockLength, nullptr) : 1;
      if (ch.dataCallback && answer == 0) {
        ch.segmentMode = kSdoSegmentedUpload;
        ch.streaming = 1;
      } else if (ch.dataCallback && answer == -1) {
        ch.segmentMode = kSdoSegmentedUpload;
      } else {
        if (ch.dataCallback) refusal = answer;
        if (ch.dataCallback && static_cast<uint32_t>(answer) == kSdoAbortCannotTransfer21)
          ch.state = kSdoFailed;
        if (ch.busy())
          sdoMessage("Client: datablock too large (%ld kByte)",
                     static_cast<long>((int64_t{size} + 1023) / 1024));
        ch.abortCode = size > 0 ? kSdoAbortOutOfMemory : kSdoAbortBlockSize;
        ch.state = kSdoFailed;
      }
    }
  }
  if (!SameMultiplexer(ch, d)) {
    if (ch.busy()) sdoMessage("Client: wrong multiplexer in upload response");
    ch.abortCode = kSdoAbortSequence;
    ch.state = kSdoFailed;
  }
  ch.toggle = 0;
  ch.position = 0;
  CanFrame reply;
  if (refusal != 0) {
    reply = SdoFrame(ch.txCobId, 0x80, ch.index, ch.subIndex, static_cast<uint32_t>(refusal));
  } else {
    reply = SdoFrame(ch.txCobId, 0x60, 0, 0, 0);
    ch.toggle ^= kToggleBit;
  }
  send(ch, reply);
}

void SdoEngine::clientExpeditedUploadResponse(SdoChannel& ch, const CanFrame& frame, uint8_t c) {
  const uint8_t* d = frame.data;
  if (!ch.busy() || ch.isDownload || !SameMultiplexer(ch, d)) {
    if (ch.busy()) sdoMessage("Client: unexpected upload response ($%02X)", c);
    ch.state = kSdoFailed;
    return;
  }
  ch.segmentMode = kSdoNoSegments;
  ch.blockLength = 0;
  ch.valueSize = ExpeditedSize(c);
  if (ch.dataType == kCoTypeUnknown) {
    ch.dataType = kCoTypeUntyped32;
    ch.rawValue = 1;
  }
  int keep = 4;
  switch (ch.dataType) {
    case 3:
    case 6:
      keep = 2;
      ch.rawValue = 0;
      break;
    case 4:
    case 7:
    case 8:
      ch.rawValue = 0;
      break;
    case 51:
      keep = 1;
      ch.rawValue = 1;
      break;
    case 52:
      keep = 2;
      ch.rawValue = 1;
      break;
    default:
      ch.rawValue = 1;
      break;
  }
  ch.setValue32(0);
  std::memcpy(ch.value, d + 4, static_cast<size_t>(keep));
  ch.state = kSdoFinished;
}

// ---------------------------------------------------------------------------------------------
// Servers

void SdoEngine::serverFrame(SdoChannel& ch, const CanFrame& frame) {
  ++ch.rxCount;
  ch.abortCode = 0;
  ch.setValue32(0);
  ch.dataType = kCoTypeUnsigned32;
  ch.rawValue = 1;
  const uint8_t c = frame.data[0];
  CanFrame reply = SdoFrame(ch.txCobId, 0, 0, 0, 0);
  bool answer = false;
  switch (c & 0xE2) {
    case 0x20:
      answer = serverInitiateDownload(ch, frame, c, reply);
      break;
    case 0x22:
      answer = serverExpeditedDownload(ch, frame, c, reply);
      break;
    case 0x00:
    case 0x02:
      answer = serverDownloadSegment(ch, frame, c, reply);
      break;
    case 0x40:
      answer = serverInitiateUpload(ch, frame, reply);
      break;
    case 0x60:
      answer = serverUploadSegment(ch, c, reply);
      break;
    case 0x80:
      // The client gave up: the transfer is over, and no answer is due.
      if (ch.busy()) {
        ch.segmentMode = kSdoNoSegments;
        ch.state = kSdoFailed;
      }
      return;
    default:
      sdoMessage("Server: ignoring unknown Command Specifier ($%02X)", c);
      return;
  }
  if (ch.abortCode != 0) {
    reply = SdoFrame(ch.txCobId, 0x80, ch.index, ch.subIndex, ch.abortCode);
    // An aborted transfer is over, whatever step it was at.
    ch.segmentMode = kSdoNoSegments;
    ch.state = kSdoFailed;
    answer = true;
  }
  if (answer) send(ch, reply);
}

bool SdoEngine::serverInitiateDownload(SdoChannel& ch, const CanFrame& frame, uint8_t c, CanFrame& reply) {
  const uint8_t* d = frame.data;
  ch.index = FrameIndex(d);
  ch.subIndex = d[3];
  ch.toggle = 0;
  ch.position = 0;
  ch.segmentMode = kSdoNoSegments;
  if (c & 1) {
    const uint32_t size = GetLe32(d + 4);
    if (size > static_cast<uint32_t>(kSdoBufferSize)) {
      ch.abortCode = kSdoAbortOutOfMemory;
    } else if (size < 1) {
      ch.abortCode = kSdoAbortBlockSize;
    } else {
      ch.blockLength = static_cast<int32_t>(size);
      ch.segmentMode = kSdoSegmentedDownload;
      ch.state = kSdoBusy;
    }
  } else {
    sdoMessage("Server: cannot handle download without size indication ($%02X)", c);
    ch.abortCode = kSdoAbortCommand;
  }
  reply = SdoFrame(ch.txCobId, 0x60, ch.index, ch.subIndex, 0);
  return true;
}

bool SdoEngine::serverExpeditedDownload(SdoChannel& ch, const CanFrame& frame, uint8_t c, CanFrame& reply) {
  const uint8_t* d = frame.data;
  ch.index = FrameIndex(d);
  ch.subIndex = d[3];
  std::memcpy(ch.value, d + 4, 4);
  ch.dataType = kCoTypeUnknown;
  ch.rawValue = 1;
  ch.valueSize = ExpeditedSize(c);
  ch.segmentMode = kSdoNoSegments;
  ch.blockLength = 0;
  ch.isDownload = 1;
  ch.accessSource = kSdoAccessFromServer;
  if (dictionary_.SDO_USER_DictionaryAccess(ch) == 0 && ch.abortCode == 0) {
    sdoMessage("Server: Bug in SDO_USER_DictionaryAccess, object $%04X.$%02X", ch.index, ch.subIndex);
    ch.abortCode = kSdoAbortIncompatibleAccess;
  }
  reply = SdoFrame(ch.txCobId, 0x60, ch.index, ch.subIndex, 0);
  ch.state = kSdoFinished;
  return true;
}

bool SdoEngine::serverDownloadSegment(SdoChannel& ch, const CanFrame& frame, uint8_t c, CanFrame& reply) {
  const int n = SegmentBytes(c);
  const uint8_t received = c & kToggleBit;
  if (ch.segmentMode != kSdoSegmentedDownload || received != ch.toggle || n < 1 ||
      ch.position + n > ch.blockLength) {
    ch.abortCode = kSdoAbortParameterIncompatible;
    return true;
  }
  if (ch.position + n > kSdoBufferSize) {
    ch.abortCode = kSdoAbortOutOfMemory;
    return true;
  }
  std::memcpy(ch.buffer + ch.position, frame.data + 1, static_cast<size_t>(n));
  ch.position += n;
  reply = SdoFrame(ch.txCobId, static_cast<uint8_t>(0x20 | received), 0, 0, 0);
  if (!(c & 1)) {
    ch.toggle ^= kToggleBit;
    ch.state = kSdoBusy;
    return true;
  }
  ch.segmentMode = kSdoNoSegments;
  // A last segment short of the size announced would hand the dictionary bytes of some earlier
  // transfer as if they were the client's.
  if (ch.position != ch.blockLength) {
    ch.abortCode = kSdoAbortParameterIncompatible;
    return true;
  }
  ch.isDownload = 1;
  ch.accessSource = kSdoAccessFromServer;
  if (dictionary_.SDO_USER_DictionaryAccess(ch) == 0) {
    if (ch.abortCode == 0) ch.abortCode = kSdoAbortUnsupportedAccess;
    ch.state = kSdoFailed;
  } else {
    ch.state = kSdoFinished;
  }
  return true;
}

bool SdoEngine::serverInitiateUpload(SdoChannel& ch, const CanFrame& frame, CanFrame& reply) {
  const uint8_t* d = frame.data;
  ch.index = FrameIndex(d);
  ch.subIndex = d[3];
  ch.dataType = kCoTypeUnsigned32;
  ch.valueSize = 4;
  ch.rawValue = 0;
  ch.accessSource = kSdoAccessFromServer;
  ch.isDownload = 0;
  // The dictionary says whether it delivers a block; what an earlier transfer left is no answer.
  ch.segmentMode = kSdoNoSegments;
  ch.blockLength = 0;
  if (dictionary_.SDO_USER_DictionaryAccess(ch) == 0) {
    if (ch.abortCode == 0) {
      sdoMessage("Server: Bug in SDO_USER_DictionaryAccess, object $%04X.$%02X", ch.index, ch.subIndex);
      ch.abortCode = kSdoAbortIncompatibleAccess;
    }
    return true;
  }
  if (ch.abortCode != 0) return true;
  if (ch.segmentMode != kSdoNoSegments) {
    // The segments are read out of the buffer: a longer block cannot be served.
    if (ch.blockLength > kSdoBufferSize) {
      ch.abortCode = kSdoAbortOutOfMemory;
      return true;
    }
    if (ch.blockLength < 0) ch.blockLength = 0;
    reply = SdoFrame(ch.txCobId, 0x41, ch.index, ch.subIndex, static_cast<uint32_t>(ch.blockLength));
    ch.segmentMode = kSdoSegmentedUpload;
    ch.toggle = 0;
    ch.position = 0;
    ch.state = kSdoBusy;
    return true;
  }
  int bytes = 0;
  uint8_t c = 0;
  switch (ch.dataType) {
    case 1:
    case 2:
    case 5:
      c = 0x4F;
      bytes = 1;
      break;
    case 3:
    case 6:
      c = 0x4B;
      bytes = 2;
      break;
    case 4:
    case 7:
    case 8:
    case 9:
    case 10:
      c = 0x43;
      bytes = 4;
      break;
    default:
      ch.abortCode = kSdoAbortIncompatibleAccess;
      return true;
  }
  reply = SdoFrame(ch.txCobId, c, ch.index, ch.subIndex, 0);
  std::memcpy(reply.data + 4, ch.value, static_cast<size_t>(bytes));
  ch.state = kSdoFinished;
  return true;
}

bool SdoEngine::serverUploadSegment(SdoChannel& ch, uint8_t c, CanFrame& reply) {
  const uint8_t received = c & kToggleBit;
  if (ch.segmentMode != kSdoSegmentedUpload || received != ch.toggle) {
    ch.abortCode = received == ch.toggle ? kSdoAbortSequence : kSdoAbortToggle;
    return true;
  }
  int n = std::min(ch.blockLength - ch.position, 7);
  n = std::max(0, std::min(n, kSdoBufferSize - ch.position));
  reply = SdoFrame(ch.txCobId, 0, 0, 0, 0);
  std::memcpy(reply.data + 1, ch.buffer + ch.position, static_cast<size_t>(n));
  ch.position += n;
  uint8_t r = static_cast<uint8_t>(((7 - n) << 1) | received);
  if (ch.position >= ch.blockLength) {
    r |= 1;
    ch.segmentMode = kSdoNoSegments;
    ch.state = kSdoFinished;
  } else {
    ch.toggle ^= kToggleBit;
    ch.state = kSdoBusy;
  }
  reply.data[0] = r;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Dispatch and timeout

int SdoEngine::ProcessFrame(const CanFrame& frame) {
  // A remote request carries no SDO.
  if (frame.rtr) return 0;
  const uint32_t id = frame.matchingId();
  const bool toClient = client_.enabled && id == client_.rxCobId;
  bool toServer = false;
  for (const SdoChannel& s : servers_) toServer |= s.enabled && id == s.rxCobId;
  if (!toClient && !toServer) return 0;
  // Bytes the frame does not carry count as zero, whatever its buffer holds beyond them.
  CanFrame f = frame;
  if (f.length < 8) std::memset(f.data + f.length, 0, static_cast<size_t>(8 - f.length));
  int taken = 0;
  if (toClient) {
    clientFrame(client_, f);
    ++taken;
  }
  if (toServer) {
    for (SdoChannel& s : servers_) {
      if (s.enabled && id == s.rxCobId) {
        serverFrame(s, f);
        ++taken;
      }
    }
  }
  return taken;
}

void SdoEngine::SdoTimeoutTick() {
  SdoTimeoutTick(clock_.nowMs());
}

void SdoEngine::SdoTimeoutTick(double now) {
  if (tickStarted_ && now >= lastTickMs_ && now - lastTickMs_ < kTickMs) return;
  tickStarted_ = true;
  lastTickMs_ = now;
  SdoChannel& ch = client_;
  if (ch.timer <= 0) return;
  if (--ch.timer == 0 && ch.busy()) {
    ch.state = kSdoFailed;
    if (timeoutCount_ < kMaxTimeoutCount) ++timeoutCount_;
    sdoMessage("Client%d: Timeout accessing object 0x%04X.%02X.", 0, ch.index, ch.subIndex);
  }
}

// ---------------------------------------------------------------------------------------------
// Values

std::string SdoDisplayBytes(const uint8_t* data, size_t size, int dataType) {
  constexpr size_t kMaxChars = 72;
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(kMaxChars);
  bool quoted = false;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (dataType != kCoTypeOctetString && b > 31) {
      // Room for the character and the closing quote, and for the opening one when it is due.
      const size_t opening = quoted ? 0 : (out.empty() ? 1 : 2);
      if (out.size() + opening + 2 > kMaxChars) break;
      if (!quoted) {
        if (!out.empty()) out += ' ';
        out += '"';
        quoted = true;
      }
      out += static_cast<char>(b);
    } else {
      const size_t closing = quoted ? 1 : 0;
      if (out.size() + closing + 3 > kMaxChars) break;
      if (quoted) {
        out += '"';
        quoted = false;
      }
      out += ' ';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  if (quoted) out += '"';
  return out;
}

ScriptValue SdoTransferValue(const SdoChannel& ch) {
  int type = ch.dataType;
  if (ch.blockLength > 0) {
    if (type == kCoTypeUnsigned32) type = kCoTypeVisibleString;
    const size_t n = static_cast<size_t>(std::min(ch.blockLength, kSdoBufferSize));
    return ScriptValue::string(SdoDisplayBytes(ch.buffer, n, type));
  }
  if (type == kCoTypeVisibleString || type == kCoTypeOctetString)
    return ScriptValue::string(SdoDisplayBytes(ch.value, 4, type));
  const uint32_t v = ch.value32();
  if (type == kCoTypeReal32) {
    float f;
    std::memcpy(&f, &v, sizeof f);
    return ScriptValue::floating(f);
  }
  switch (type) {
    case 1:
      return ScriptValue::integer(static_cast<int32_t>(v & 1));
    case 2:
      return ScriptValue::integer(static_cast<int8_t>(v));
    case 3:
      return ScriptValue::integer(static_cast<int16_t>(v));
    case 5:
      return ScriptValue::integer(static_cast<int32_t>(v & 0xFF));
    case 6:
      return ScriptValue::integer(static_cast<int32_t>(v & 0xFFFF));
    default:
      return ScriptValue::integer(static_cast<int32_t>(v));
  }
}

}  // namespace busprobe
