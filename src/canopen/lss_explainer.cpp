#include "canopen/lss_explainer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "canopen/frame_explainer.h"
#include "canopen/lss_protocol.h"

namespace busprobe {
namespace {

__attribute__((format(printf, 2, 3))) void Appendf(std::string& text, const char* format, ...) {
  char piece[kCanopenCommentLimit + 1];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n > 0) text.append(piece, std::min(static_cast<size_t>(n), sizeof piece - 1));
}

const char* BitRateText(int index) {
  static const char* const kRates[] = {"1 MBit/s",   "800 kBit/s", "500 kBit/s", "250 kBit/s", "125 kBit/s",
                                       "100 kBit/s", "50 kBit/s",  "20 kBit/s",  "10 kBit/s",  "AutoDetect"};
  return index >= 0 && index < 10 ? kRates[index] : nullptr;
}

void AppendCommand(const CanFrame& frame, bool request, std::string& text) {
  const uint8_t* d = frame.data;
  const uint8_t command = d[0];
  switch (command) {
    case kLssSwitchStateGlobal:
      text += "Switch State Global";
      return;
    case kLssConfigureNodeId:
      Appendf(text, "Configure Node ID : %s=0x%02X", request ? "NodeID" : "Error", d[1]);
      return;
    case kLssConfigureBitTiming:
      text += "Configure Bit Timing: ";
      if (!request) {
        Appendf(text, "ErrorCode=%d, SpecError=%d", d[1], d[2]);
      } else {
        Appendf(text, "TableSel=%d, ", d[1]);
        if (d[1] != 0) {
          Appendf(text, "TableIdx=%d, ", d[2]);
        } else if (const char* rate = BitRateText(d[2])) {
          text += rate;
        } else {
          Appendf(text, "?TableIdx=%d?, ", d[2]);
        }
      }
      return;
    case kLssActivateBitTiming:
      text += "Activate Bit Timinig";
      return;
    case kLssStoreConfiguration:
      text += "Store Configuration";
      if (request) {
        text += " (no data)";
      } else {
        Appendf(text, ": ErrorCode=%d, SpecError=%d", d[1], d[2]);
      }
      return;
    case 0x40: text += "Switch State by Vendor ID"; return;
    case 0x41: text += "Switch State by Product Code"; return;
    case 0x42: text += "Switch State by Revision Nr"; return;
    case 0x43: text += "Switch State by Serial Nr"; return;
    case 0x44: text += "Switch State Response"; return;
    case 0x46: text += "Identify Slave / Vendor"; return;
    case 0x47: text += "Identify Slave / ProdCode"; return;
    case 0x48: text += "Identify Slave / RevisionLo"; return;
    case 0x49: text += "Identify Slave / RevisionHi"; return;
    case 0x4A: text += "Identify Slave / SerialNrLo"; return;
    case 0x4B: text += "Identify Slave / SerialNrHi"; return;
    case 0x4C: text += "Identify Non-Configured Remote Slave"; return;
    case kLssIdentifySlave: {
      bool reservedSet = false;
      for (int i = 1; i < 8; ++i) reservedSet = reservedSet || d[i] != 0;
      text += "Identify Slave ";
      text += reservedSet ? "MALFORMED: Reserved bytes nonzero" : "(contains no info)";
      return;
    }
    case 0x50: text += "Identify Non-Configured Slave"; return;
    case kLssFastscan: {
      text += "FScan";
      if (d[5] == kLssFastscanReset) {
        text += ": ALL SLAVES reset and respond !";
        return;
      }
      static const char* const kParts[] = {"VendorID", "ProdCode", "RevNr", "SerNr"};
      Appendf(text, " Check b%d..31 in %s=%08lX", d[5], d[6] < 4 ? kParts[d[6]] : "ILLEGAL 'LSSSub'",
              static_cast<unsigned long>(LssData32(frame, 1)));
      if (d[7] != d[6]) Appendf(text, ", Next=%d", d[7]);
      return;
    }
    case kLssInquireVendor: text += "Inquire Vendor ID"; return;
    case kLssInquireProduct: text += "Inquire Product Code"; return;
    case kLssInquireRevision: text += "Inquire Revision Number"; return;
    case kLssInquireSerial: text += "Inquire Serial Number"; return;
    case kLssInquireNodeId: text += "Inquire Node ID"; return;
    default:
      text += "Illegal/Unknown Command Specifier";
      return;
  }
}

}  // namespace

bool ExplainLssFrame(const CanFrame& frame, bool transmitted, std::string& comment) {
  comment.clear();
  const bool request = IsLssFrame(frame, kLssMasterToSlaveId);
  if (!request && !IsLssFrame(frame, kLssSlaveToMasterId)) return false;
  comment = (transmitted || (frame.fdFlags & CanFrame::kLoopback) != 0) ? "; TX " : "; rx ";
  comment += request ? "LSS:m2s " : "LSS:s2m ";
  AppendCommand(frame, request, comment);
  if (comment.size() > kCanopenCommentLimit) comment.resize(kCanopenCommentLimit);
  return true;
}

size_t ExplainLssFrame(const CanFrame& frame, bool transmitted, char* out, size_t capacity) {
  std::string comment;
  if (!ExplainLssFrame(frame, transmitted, comment) || capacity == 0) return 0;
  const size_t n = std::min(comment.size(), capacity - 1);
  std::memcpy(out, comment.data(), n);
  out[n] = '\0';
  return n;
}

}  // namespace busprobe
