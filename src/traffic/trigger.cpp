#include "traffic/trigger.h"

#include "base/number_lex.h"

namespace busprobe {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// Splits the pattern into fields: blank-separated words, or a parenthesised expression (which
// may contain blanks) taken up to its matching ")". An unclosed expression runs to the end.
std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    const size_t start = i;
    if (text[i] == '(') {
      int depth = 0;
      for (; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        if (text[i] == ')' && --depth == 0) {
          ++i;
          break;
        }
      }
    } else {
      while (i < text.size() && !IsBlank(text[i])) ++i;
    }
    fields.push_back(text.substr(start, i - start));
  }
  return fields;
}

}  // namespace

FramePattern::Field FramePattern::ParseField(std::string_view token, int defaultRadix) {
  Field field;
  if (token.empty()) return field;
  if (token.front() == '(') {
    if (token.size() >= 2 && token.back() == ')') {
      field.kind = Kind::kExpression;
      field.expression.assign(token);
    }
    return field;
  }
  if (token == "XX" || token.find_first_not_of('x') == std::string_view::npos) {
    field.kind = Kind::kAny;
    return field;
  }
  size_t pos = 0;
  bool negative = false;
  if (token[pos] == '-' || token[pos] == '+') negative = token[pos++] == '-';
  int radix = defaultRadix;
  pos += ScriptRadixPrefix(token.substr(pos), radix);
  if (pos >= token.size()) return field;  // a prefix without digits
  const char* p = token.data() + pos;
  const char* const end = token.data() + token.size();
  uint64_t digits = 0;
  ScanDigits(p, end, radix, kAnyDigitCount, digits);
  if (p != end) return field;
  const uint32_t value = static_cast<uint32_t>(digits);  // wraps like the language
  field.kind = Kind::kNumber;
  field.value = negative ? 0u - value : value;
  return field;
}

FramePattern FramePattern::Parse(std::string_view text) {
  FramePattern pattern;
  const std::vector<std::string_view> tokens = SplitFields(text);
  // Only the identifier, R, L and eight data bytes are read; anything after them is ignored.
  const size_t count = tokens.size() < 11 ? tokens.size() : 11;
  pattern.fields_.reserve(count);
  for (size_t i = 0; i < count; ++i) pattern.fields_.push_back(ParseField(tokens[i], i == 1 ? 10 : 16));
  return pattern;
}

bool FramePattern::Resolve(const Field& field, const TriggerEvaluator* evaluator, bool& any,
                           uint32_t& value) {
  any = false;
  switch (field.kind) {
    case Kind::kNumber:
      value = field.value;
      return true;
    case Kind::kAny:
      any = true;
      return true;
    case Kind::kExpression: {
      if (evaluator == nullptr || !*evaluator) return false;
      int64_t result = 0;
      if (!(*evaluator)(field.expression, result)) return false;
      value = static_cast<uint32_t>(result);
      return true;
    }
    case Kind::kInvalid:
      break;
  }
  return false;
}

bool FramePattern::matches(const CanFrame& frame, const TriggerEvaluator* evaluator) const {
  if (fields_.size() < 3) return false;  // identifier, R and L are always needed
  bool any = false;
  uint32_t value = 0;
  if (!Resolve(fields_[0], evaluator, any, value) ||
      (!any && CanFrame::matchingId(value) != frame.matchingId()))
    return false;
  if (!Resolve(fields_[1], evaluator, any, value) || (!any && value != frame.rtr)) return false;
  if (!Resolve(fields_[2], evaluator, any, value)) return false;
  if (any) return true;
  if (value != frame.length) return false;
  const size_t bytes = value < 8 ? value : 8;
  if (fields_.size() < 3 + bytes) return false;
  for (size_t i = 0; i < bytes; ++i) {
    if (!Resolve(fields_[3 + i], evaluator, any, value)) return false;
    if (!any && value != frame.data[i]) return false;
  }
  return true;
}

const std::array<const char*, 9> Trigger::kEventTexts = {
    "ANY error",
    "SDO CLIENT error",
    "SDO SERVER error",
    "ANY reception of a CAN message",
    "Reception of SPECIAL CAN message #1 (defined on OPTIONS tab)",
    "Reception of SPECIAL CAN message #2 (defined on OPTIONS tab)",
    "Reception of SPECIAL CAN message #3 (defined on OPTIONS tab)",
    "Reception of SPECIAL CAN message #4 (defined on OPTIONS tab)",
    "Missing CAN message (reception timeout, define on OPTIONS tab)",
};

const std::array<const char*, 4> Trigger::kActionTexts = {
    "freeze message display windows",
    "let message display windows run",
    "Beep with PC speaker (tone #1)",
    "Whistle with PC speaker (tone #2)",
};

Trigger::Trigger(TriggerSources sources, std::function<void(bool stopped)> setDisplaysStopped,
                 AudioOutput* audio)
    : sources_(std::move(sources)), setDisplaysStopped_(std::move(setDisplaysStopped)), tones_(audio) {}

void Trigger::configure(const TriggerSettings& settings) {
  settings_ = settings;
  for (int i = 0; i < kSpecialPatterns; ++i) {
    special_[static_cast<size_t>(i)] = FramePattern::Parse(settings.specialMessage[static_cast<size_t>(i)]);
  }
  missing_ = FramePattern::Parse(settings.missingMessage);
}

uint64_t Trigger::errorCountNow() const {
  if (sources_.errorCount) return sources_.errorCount();
  return read(sources_.sdoClientErrors) + read(sources_.sdoServerErrors);
}

void Trigger::takeSnapshots() {
  rxSnapshot_ = read(sources_.receivedFramesBus1);
  clientErrorSnapshot_ = read(sources_.sdoClientErrors);
  serverErrorSnapshot_ = read(sources_.sdoServerErrors);
  errorSnapshot_ = errorCountNow();
}

void Trigger::reset() {
  startState_ = false;
  stopState_ = false;
  specialMarks_.fill(false);
  // Counting from now: a message that never came is missing one timeout after the start.
  missingLastSeenMs_ = sources_.nowMs ? sources_.nowMs() : 0.0;
  takeSnapshots();
}

bool Trigger::eventTrue(int bit) const {
  switch (bit) {
    case kAnyError:
      return errorCountNow() > errorSnapshot_;
    case kSdoClientError:
      return read(sources_.sdoClientErrors) > clientErrorSnapshot_;
    case kSdoServerError:
      return read(sources_.sdoServerErrors) > serverErrorSnapshot_;
    case kAnyReception:
      return read(sources_.receivedFramesBus1) > rxSnapshot_;
    case kMissingMessage: {
      if (!sources_.nowMs) return false;
      return sources_.nowMs() > missingLastSeenMs_ + settings_.missingMessageTimeoutMs;
    }
    default:
      for (int i = 0; i < kSpecialPatterns; ++i) {
        if (bit == (kSpecial1 << i)) return specialMarks_[static_cast<size_t>(i)];
      }
      return false;
  }
}

int Trigger::EvaluateEvents(int eventBits, bool useAnd) const {
  eventBits &= kAllEvents;
  if (eventBits == 0) return -1;
  bool result = useAnd;
  for (int bit = 1; bit <= kMissingMessage; bit <<= 1) {
    if ((eventBits & bit) == 0) continue;
    const bool value = eventTrue(bit);
    result = useAnd ? (result && value) : (result || value);
  }
  return result ? 1 : 0;
}

void Trigger::RunActions(int actionBits) {
  if ((actionBits & kFreeze) && setDisplaysStopped_) setDisplaysStopped_(true);
  if ((actionBits & kRun) && setDisplaysStopped_) setDisplaysStopped_(false);
  if (actionBits & kBeep) tones_.play(700, 500);
  if (actionBits & kWhistle) tones_.play(200, 2000, 50);
}

void Trigger::TriggerOnFrame(const CanFrame* frame) {
  if (frame != nullptr) {
    for (size_t i = 0; i < special_.size(); ++i) {
      if (!special_[i].empty() && special_[i].matches(*frame, &evaluator_)) specialMarks_[i] = true;
    }
    if (!missing_.empty() && missing_.matches(*frame, &evaluator_)) missingLastSeenMs_ = frame->timestamp;
  }
  if (settings_.enableModule) {
    const int start = EvaluateEvents(settings_.startEvents, startAnd_);
    if (start >= 0) {
      const bool rose = start > (startState_ ? 1 : 0);
      startState_ = start != 0;
      if (rose) RunActions(settings_.startActions);
    }
    const int stop = EvaluateEvents(settings_.stopEvents, stopAnd_);
    if (stop >= 0) {
      const bool rose = stop > (stopState_ ? 1 : 0);
      stopState_ = stop != 0;
      if (rose) RunActions(settings_.stopActions);
    }
  }
  takeSnapshots();
}

void Trigger::toggleStartCondition() {
  startState_ = !startState_;
  if (startState_) RunActions(settings_.startActions);
}

void Trigger::toggleStopCondition() {
  stopState_ = !stopState_;
  if (stopState_) RunActions(settings_.stopActions);
}

}  // namespace busprobe
