// The translation seam: every text the program shows passes one Translator, owned by the
// application, keyed by its English text. The few places all texts pass (the messages window's
// print functions, the CAN layer's error texts, the interpreter's stop message, the questions to
// the user, the GUI's caption helper) ask it; with no table loaded every text is its own
// translation. printf-style texts are translated as formats, before their arguments are filled in.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace busprobe {

class Translator {
 public:
  // The text in the current language; `english` itself when there is no translation.
  std::string_view translate(std::string_view english) const;
  // The same for a format or constant text that must stay a C string.
  const char* translate(const char* english) const;

  // Installs a translation (the translation tables fill these); an empty table means English.
  void add(std::string english, std::string translated);
  void clear() { table_.clear(); }
  bool empty() const { return table_.empty(); }

 private:
  std::unordered_map<std::string, std::string> table_;
};

}  // namespace busprobe
