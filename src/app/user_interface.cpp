#include "app/user_interface.h"

#include "base/translator.h"

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

bool UserQuestions::enterString(const std::string& title, const std::string& prompt, std::string& text) {
  return answerString(translated(title), translated(prompt), text);
}

}  // namespace busprobe
