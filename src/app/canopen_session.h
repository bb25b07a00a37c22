// The CANopen side of the application: the local dictionary its SDO servers serve, the remote
// dictionary the browser and the dictionary scanner fill, the block pool both share, the SDO
// engine and the frame explanation of the lists. The application hands it every received frame
// at its place in the road of a frame, its timeout step and its settings step on the tick.
#pragma once

#include <memory>
#include <string>

#include "app/messages.h"
#include "base/clock.h"
#include "base/directory_settings.h"
#include "canopen/dictionary_access.h"
#include "canopen/eds_file.h"
#include "canopen/frame_explainer.h"
#include "canopen/object_dictionary.h"
#include "canopen/od_value.h"
#include "canopen/sdo_engine.h"
#include "canopen/sdo_readout_file.h"
#include "canopen/sdo_settings.h"

namespace busprobe {

// A dictionary with the headers its file gave.
struct LoadedDictionary {
  explicit LoadedDictionary(OdBlockPool& pool) : entries(pool) {}
  ObjectDictionary entries;
  EdsFileInfo fileInfo;
  EdsDeviceInfo deviceInfo;
  std::string path;  // the file it was last loaded from
};

class CanopenSession {
 public:
  // transmit: the common send path. configDir: where the configured folders are relative to.
  CanopenSession(SdoSettings& settings, const DirectorySettings& dirs, std::string configDir,
                 MessageLog& messages, Clock& clock, std::function<bool(CanFrame&)> transmit);
  CanopenSession(const CanopenSession&) = delete;
  CanopenSession& operator=(const CanopenSession&) = delete;

  SdoEngine& sdo() { return *sdo_; }
  const SdoEngine& sdo() const { return *sdo_; }
  FrameExplainer& explainer() { return explainer_; }
  LoadedDictionary& local() { return local_; }
  LoadedDictionary& remote() { return remote_; }
  OdBlockPool& pool() { return *pool_; }
  // The servers' way into the local dictionary, which the script command obj takes as well.
  SdoDictionaryAccess& localAccess() { return localAccess_; }
  // Where large uploads of the client are written (the objects folder).
  SdoReadoutFile& readoutFile() { return readout_; }

  // A dictionary file name as users give it: absolute as it stands, one with a folder relative to
  // the configuration directory, a bare name in the dictionaries folder ("Objects").
  std::string dictionaryPath(const std::string& name) const;
  // The dictionaries folder ("Objects" of the Directories section) as a path.
  std::string objectsFolder() const;

  // Loads the SDO servers' dictionary ("$NODEID" stands for server 0's node) and says so: "Loaded
  // CANopen OD for SDO server from "%s" ." and the loader's complaint, if any. quietIfMissing: a
  // file that does not exist is not worth a line (the configured default at start-up).
  bool loadLocalDictionary(const std::string& name, bool quietIfMissing);

  // Bytes written to readout files so far: a blocking wait restarts its window as they grow.
  uint64_t readoutBytes() const { return readoutBytes_; }
  void addReadoutBytes(uint64_t n) { readoutBytes_ += n; }

  // The settings changed (settings window, script): the channels are set up anew on the tick.
  void markSettingsChanged() { settingsChanged_ = true; }
  // Sets the channels up from the settings and forgets the traced transfers of the lists.
  void applySettings();
  // The tick's settings step: applies a change marked since the last one.
  void applyChangedSettings();

 private:
  SdoSettings& settings_;
  const DirectorySettings& dirs_;
  std::string configDir_;
  MessageLog& messages_;
  std::unique_ptr<OdBlockPool> pool_;  // 256 blocks of 2 kB: kept off the stack of the owner
  LoadedDictionary local_;
  LoadedDictionary remote_;
  LocalDictionaryAccess localAccess_;
  FrameExplainer explainer_;
  std::unique_ptr<SdoEngine> sdo_;
  bool settingsChanged_ = false;
  uint64_t readoutBytes_ = 0;
  SdoReadoutFile readout_;
};

}  // namespace busprobe
