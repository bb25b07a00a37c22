#include "app/canopen_session.h"

#include <sys/stat.h>

#include "canopen/od_files.h"

namespace busprobe {

CanopenSession::CanopenSession(SdoSettings& settings, const DirectorySettings& dirs, std::string configDir,
                               MessageLog& messages, Clock& clock, std::function<bool(CanFrame&)> transmit)
    : settings_(settings),
      dirs_(dirs),
      configDir_(std::move(configDir)),
      messages_(messages),
      pool_(std::make_unique<OdBlockPool>()),
      local_(*pool_),
      remote_(*pool_),
      localAccess_(local_.entries),
      readout_([this] { return objectsFolder(); }, [this](uint64_t n) { addReadoutBytes(n); }) {
  explainer_.setEntryNameLookup([this](uint16_t index, uint8_t subIndex) -> std::string_view {
    const OdEntry* entry = local_.entries.find(index, subIndex);
    return entry ? entry->nameView() : std::string_view();
  });
  SdoEngineLinks links;
  links.transmit = std::move(transmit);
  links.message = [this](std::string_view line) { messages_.printText(line); };
  links.messagesWanted = [this] { return messages_.sdoMessages; };
  links.translator = messages_.translator();
  sdo_ = std::make_unique<SdoEngine>(settings_, localAccess_, clock, std::move(links));
  sdo_->SdoApplySettings();
}

std::string CanopenSession::dictionaryPath(const std::string& name) const {
  if (name.empty() || name[0] == '/') return name;
  if (name.find('/') != std::string::npos) return configDir_ + "/" + name;
  return objectsFolder() + "/" + name;
}

std::string CanopenSession::objectsFolder() const {
  const std::string& folder = dirs_.objects;
  if (!folder.empty() && folder[0] == '/') return folder;
  return configDir_ + (folder.empty() ? "" : "/" + folder);
}

bool CanopenSession::loadLocalDictionary(const std::string& name, bool quietIfMissing) {
  const std::string path = dictionaryPath(name);
  struct stat st;
  if (quietIfMissing && (path.empty() || ::lstat(path.c_str(), &st) != 0)) return false;
  DictionaryLoadOptions options;
  SdoSettings corrected = settings_;
  SdoCorrectNodeIds(corrected);
  options.nodeId = static_cast<uint8_t>(corrected.serverNodeId);
  std::string problem;
  const bool ok = LoadDictionary(path, local_.fileInfo, local_.deviceInfo, local_.entries, options, problem);
  if (ok) {
    local_.path = path;
    messages_.PrintMessage("Loaded CANopen OD for SDO server from \"%s\" .", path.c_str());
  }
  if (!problem.empty()) messages_.PrintMessage("Problem in \"%s\" : %s .", path.c_str(), problem.c_str());
  return ok;
}

void CanopenSession::applySettings() {
  settingsChanged_ = false;
  sdo_->SdoApplySettings();
  explainer_.clearTrace();
}

void CanopenSession::applyChangedSettings() {
  if (settingsChanged_) applySettings();
}

}  // namespace busprobe
