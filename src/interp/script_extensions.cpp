#include "interp/script_extensions.h"

namespace busprobe {

namespace {

template <typename Handler>
const Handler* find(const std::vector<std::pair<std::string_view, Handler>>& entries, std::string_view name) {
  for (const auto& [known, handler] : entries) {
    if (known == name) return &handler;
  }
  return nullptr;
}

template <typename Handler>
bool add(std::vector<std::pair<std::string_view, Handler>>& entries, std::string_view known,
         Handler handler) {
  if (known.empty() || !handler || find(entries, known) != nullptr) return false;
  entries.emplace_back(known, std::move(handler));
  return true;
}

}  // namespace

bool ScriptExtensions::addCommand(std::string_view word, Command run) {
  return add(commands_, ExtensionCommandWord(word), std::move(run));
}

bool ScriptExtensions::addFactor(std::string_view name, Factor read) {
  return add(factors_, ExtensionFactorName(name), std::move(read));
}

bool ScriptExtensions::addBusComponent(std::string_view name, BusComponent read) {
  return add(busComponents_, BusComponentName(name), std::move(read));
}

const ScriptExtensions::Command* ScriptExtensions::command(std::string_view word) const {
  return find(commands_, word);
}

const ScriptExtensions::Factor* ScriptExtensions::factor(std::string_view name) const {
  return find(factors_, name);
}

const ScriptExtensions::BusComponent* ScriptExtensions::busComponent(std::string_view name) const {
  return find(busComponents_, name);
}

}  // namespace busprobe
