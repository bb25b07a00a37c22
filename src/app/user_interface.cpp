#include "app/user_interface.h"

#include "base/settings_keys.h"
#include "base/translator.h"
#include "can/typed_number.h"

namespace busprobe {

std::string UserQuestions::translated(const std::string& text) const {
  if (translator_ == nullptr) return text;
  return std::string(translator_->translate(std::string_view(text)));
}

bool UserQuestions::askYesNo(const std::string& title, const std::string& text, bool defaultYes) {
  return answerYesNo(translated(title), translated(text), defaultYes);
}

void UserQuestions::showMessageBox(const std::string& title, const std::string& text) {
  presentMessageBox(translated(title), translated(text));
}

std::string UserQuestions::chooseFile(const FileChoice& choice) {
  FileChoice shown = choice;
  shown.title = translated(choice.title);
  for (std::string& filter : shown.filters) filter = translated(filter);
  return answerFileChoice(shown);
}

bool UserQuestions::enterString(const std::string& line1, const std::string& line2, std::string& text) {
  return answerString(translated(line1), translated(line2), text);
}

bool UserQuestions::enterText(const std::string& line1, const std::string& line2, std::string& text,
                              size_t size) {
  std::string typed = text;
  if (!answerString(translated(line1), translated(line2), typed)) return false;
  text = CutSettingText(std::move(typed), size);
  return true;
}

int64_t UserQuestions::enterNumber(const std::string& line1, const std::string& line2, int64_t current) {
  std::string typed = std::to_string(current);
  if (!answerString(translated(line1), translated(line2), typed)) return current;
  int64_t number = current;
  return ReadTypedNumber(typed, TypedRadix::kDecimalOrHex, number) ? number : current;
}

}  // namespace busprobe
