#include "base/translator.h"

namespace busprobe {

std::string_view Translator::translate(std::string_view english) const {
  if (table_.empty()) return english;
  const auto it = table_.find(std::string(english));
  return it == table_.end() ? english : std::string_view(it->second);
}

const char* Translator::translate(const char* english) const {
  if (table_.empty() || english == nullptr) return english;
  const auto it = table_.find(english);
  return it == table_.end() ? english : it->second.c_str();
}

void Translator::add(std::string english, std::string translated) {
  table_.insert_or_assign(std::move(english), std::move(translated));
}

}  // namespace busprobe
