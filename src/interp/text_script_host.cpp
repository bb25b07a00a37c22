#include "interp/text_script_host.h"

namespace busprobe {

TextScriptHost::TextScriptHost(Clock& clock) : clock_(clock) {
  extensionTable.addBusComponent("baudrate", [](int, ScriptCursor&) { return ScriptValue::integer(500); });
  extensionTable.addBusComponent("nTxFrames", [this](int, ScriptCursor&) {
    return ScriptValue::integer(static_cast<int32_t>(sent.size()));
  });
}

void TextScriptHost::setText(std::string_view text) {
  text_.assign(text);
  lines_.clear();
  std::size_t start = 0;
  while (start < text_.size()) {
    std::size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::size_t stop = end;
    if (stop > start && text_[stop - 1] == '\r') --stop;
    lines_.emplace_back(text_.data() + start, stop - start);
    start = end + 1;
  }
}

void TextScriptHost::receive(const CanFrame& frame) {
  if (history.size() >= 4096) history.erase(history.begin());
  history.push_back(frame);
}

void TextScriptHost::message(std::string_view text) {
  if (messages.size() < keepLimit) messages.emplace_back(text);
}

void TextScriptHost::printOutput(std::string_view text) {
  if (output.size() < keepLimit) output.emplace_back(text);
}

bool TextScriptHost::findReceivedFrame(uint32_t id, double referenceTimeSec, CanFrame& out) {
  for (auto it = history.rbegin(); it != history.rend(); ++it) {
    if (referenceTimeSec != 0 && it->timestamp * 0.001 < referenceTimeSec) break;
    if (it->matchingId() == CanFrame::matchingId(id)) {
      out = *it;
      return true;
    }
  }
  return false;
}

int32_t TextScriptHost::receivedCount(uint32_t id) {
  int32_t n = 0;
  for (const CanFrame& f : history) n += f.matchingId() == CanFrame::matchingId(id) ? 1 : 0;
  return n;
}

bool TextScriptHost::readLine(int index, std::string_view& out) {
  if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) return false;
  out = lines_[static_cast<std::size_t>(index)];
  if (out.size() > kMaxScriptLineChars) out = out.substr(0, kMaxScriptLineChars);
  return true;
}

bool TextScriptHost::transmit(CanFrame& frame) {
  if (sent.size() < keepLimit) sent.push_back({frame, clock_.nowMs()});
  return true;
}

bool TextScriptHost::findReceivedSince(const FrameWaitPattern& pattern, double sinceSec, CanFrame& out) {
  for (const CanFrame& f : history) {
    if (f.timestamp * 0.001 >= sinceSec && pattern.matches(f)) {
      out = f;
      return true;
    }
  }
  return false;
}

void TextScriptHost::setIdsShownAsText(const int32_t ids[4]) {
  for (int k = 0; k < 4; ++k) idsAsText[k] = ids[k];
}

}  // namespace busprobe
