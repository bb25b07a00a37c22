// One SDO endpoint: the client channel or one of the servers. The engine works on these records,
// the server's dictionary access fills and reads them, and the callers of a blocking client
// transfer (scripts, browsers, scanners, the firmware updater) set them up and read the result.
#pragma once

#include <cstdint>
#include <functional>

namespace busprobe {

inline constexpr int kSdoBufferSize = 2048;
inline constexpr int kSdoServerCount = 8;

enum SdoState : uint8_t {
  kSdoIdle = 0,
  kSdoFinished = 1,
  kSdoFailed = 2,
  kSdoBusy = 4,  // every state above 2 counts as busy
};

// Who reaches the local dictionary through the server's access function.
enum SdoAccessSource : uint8_t {
  kSdoAccessFromServer = 1,  // a request a server channel received: counted
  kSdoAccessFromScript = 4,  // the script command obj: not counted
};

enum SdoSegmentMode : uint8_t {
  kSdoNoSegments = 0,
  kSdoSegmentedUpload = 1,
  kSdoSegmentedDownload = 2,
};

// What a client's data-block callback is told.
enum SdoBlockEvent : int {
  kSdoBlockAnnounced = 1,  // a segmented upload of `number` bytes begins
  kSdoBlockData = 2,       // `number` bytes at `data` arrived
  kSdoBlockEnded = 3,      // the upload ended after `number` bytes
};

struct SdoChannel;

// kSdoBlockAnnounced: 0 takes the data as a stream of kSdoBlockData calls, -1 keeps it in the
// buffer (cut at 2048 bytes), anything else is an abort code that refuses the upload. The result
// of the other events is ignored.
using SdoDataBlockCallback =
    std::function<int32_t(SdoChannel& channel, int event, int32_t number, const uint8_t* data)>;

struct SdoChannel {
  uint32_t txCobId = 0;
  uint32_t rxCobId = 0;
  uint32_t isDownload = 0;
  uint32_t enabled = 0;
  uint8_t accessSource = 0;
  uint16_t index = 0;
  uint8_t subIndex = 0;
  uint8_t state = kSdoIdle;
  int32_t timeoutTicks = 0;  // client timeout in 100 ms ticks
  int32_t timer = 0;         // ticks left of the running client transfer
  uint8_t dataType = 0;
  uint8_t valueSize = 0;  // significant bytes of an expedited value, 1..4; 0 counts as 4
  uint32_t rawValue = 0;  // 1: the value bytes are taken as they are, whatever dataType says
  int32_t position = 0;
  uint8_t segmentMode = kSdoNoSegments;
  int32_t blockLength = 0;
  uint8_t toggle = 0;  // 0x00 or 0x10
  uint8_t value[4] = {};
  uint8_t buffer[kSdoBufferSize] = {};
  uint32_t abortCode = 0;
  uint32_t rxCount = 0, txCount = 0;
  SdoDataBlockCallback dataCallback;  // client only
  uint32_t streaming = 0;             // client only
  uint32_t limitLargeUploads = 0;     // client only

  bool busy() const { return state > 2; }
  uint32_t value32() const {
    return static_cast<uint32_t>(value[0]) | static_cast<uint32_t>(value[1]) << 8 |
           static_cast<uint32_t>(value[2]) << 16 | static_cast<uint32_t>(value[3]) << 24;
  }
  void setValue32(uint32_t v) {
    for (int i = 0; i < 4; ++i) value[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // Back to the zeroed state of a freshly applied configuration; the callback stays.
  void reset() {
    SdoDataBlockCallback keep = std::move(dataCallback);
    *this = SdoChannel();
    dataCallback = std::move(keep);
  }
};

// The server side's way into the local dictionary: read when isDownload is 0, write otherwise.
// 1 on success, 0 when the object does not exist (abortCode then 0x06020000); it may return 1 and
// still set abortCode (access violation, type mismatch), which the server answers with an abort.
class SdoDictionaryAccess {
 public:
  virtual ~SdoDictionaryAccess() = default;
  virtual int SDO_USER_DictionaryAccess(SdoChannel& channel) = 0;
};

}  // namespace busprobe
