// What the two dictionary browser windows show and do, without the windows: the grid's cell
// texts, the row colours, the labels, and every button's action. The local browser edits the
// dictionary the SDO servers serve; the remote one also reads and writes the objects of another
// node, one per timer tick, through the blocking client transfer. The windows copy the cells into
// their table and hand edits and clicks back; questions to the user stay with the windows.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "canopen/dictionary_scanner.h"
#include "canopen/eds_file.h"
#include "canopen/object_dictionary.h"
#include "canopen/sdo_blocking_transfer.h"
#include "canopen/sdo_settings.h"

namespace busprobe {

inline constexpr int kBrowserColumns = 9;
enum BrowserColumn : int {
  kColObject = 0,
  kColMark = 1,
  kColName = 2,
  kColType = 3,
  kColAccess = 4,
  kColDisplay = 5,
  kColValue = 6,
  kColSize = 7,
  kColCounters = 8,
};

enum class BrowserRowColour { kNormal, kError, kMarked };

// The phases and modes of the remote browser's pass over the dictionary.
enum class BrowserPassPhase { kIdle, kStart, kRun, kFinish };
enum class BrowserPassMode { kReadAll, kReadMarked, kWriteAll, kDictionaryScan };

inline constexpr char kBrowserLoadTitle[] = "Load CANopen dictionary file";
inline constexpr char kBrowserLoadFilter[] =
    "All supported files (*.dic,*eds,*.dcf)|*.dic;*eds;*.dcf|Dictionary files (*.dic)|*.DIC|"
    "Electronic Data Sheet (*.eds)|*.EDS|Device configuration file (*.dcf)|*.DCF";
inline constexpr char kBrowserSaveTitle[] = "Save CANopen dictionary file";
inline constexpr char kBrowserSaveFilter[] =
    "Dictionary files (*.dic)|*.DIC|Electronic Data Sheet (*.eds)|*.EDS|Device configuration file "
    "(*.dcf)|*.DCF";
inline constexpr char kBrowserWriteBackTitle[] = "CANopen OD";
inline constexpr char kBrowserWriteBackQuestion[] = "Write back the modified value via SDO ?";

using BrowserRow = std::array<std::string, kBrowserColumns>;

class DictionaryBrowser {
 public:
  static constexpr int kRunIntervalMs = 50;
  static constexpr int kIdleIntervalMs = 200;

  // port: the SDO client the remote browser reads and writes through; null for the local one.
  // message: a line for the messages window (timeouts, load reports).
  DictionaryBrowser(ObjectDictionary& dictionary, EdsFileInfo& fileInfo, EdsDeviceInfo& deviceInfo,
                    SdoSettings& settings, SdoClientPort* port,
                    std::function<void(const std::string&)> message = {});

  ObjectDictionary& dictionary() { return od_; }
  bool remote() const { return port_ != nullptr; }

  // The grid: header texts, one row per entry and an empty row behind them for a new entry.
  static std::string headerText(int column, bool showDefault);
  std::string headerText(int column) const { return headerText(column, showDefault_); }
  int rowCount() const { return static_cast<int>(rows_.size()); }
  const BrowserRow& row(int row) const { return rows_[static_cast<size_t>(row)]; }
  // An edit of a cell by the user; kept until apply() or the next rebuild.
  void setCell(int row, int column, const std::string& text);
  bool edited() const { return edited_; }
  BrowserRowColour rowColour(int row) const;
  // Renders every row anew from the dictionary: edits not applied are gone.
  void rebuild();
  // The rows whose entry carries the change mark, re-rendered and the mark cleared (the windows
  // repaint exactly those).
  std::vector<int> refreshChangedRows();

  bool showDefault() const { return showDefault_; }
  void setShowDefault(bool on);

  // The cells of every row are parsed back into the entry at that position (a row nobody
  // changed keeps its entry as it is); a last row naming an object is inserted. Rebuilds.
  void apply();
  // Selecting a row gives its entry a valid current value and names the row in the position label.
  void select(int row);
  int selectedRow() const { return selected_; }
  // "Delete object 0x%04X.%02X?", or empty when the row holds no entry.
  std::string deleteQuestion(int row) const;
  bool deleteRow(int row);
  void deleteAll();
  void toggleMark(int row);
  void resetCounters();
  // nodeId: what "$NODEID" stands for. Sets the status line (remote) and the position label.
  bool load(const std::string& path, uint8_t nodeId);
  // False with `error` set when the file could not be written.
  bool save(const std::string& path, int64_t utcSeconds, std::string& error);
  static std::string saveErrorText(const std::string& path);

  // Labels.
  const std::string& gridPosText() const { return gridPos_; }
  const std::string& statusText() const { return status_; }
  void setStatusText(std::string text) { status_ = std::move(text); }
  std::string accessCountText(uint32_t count) const;

  // Remote only. The node read and written; reads and writes use the client timeout.
  int nodeId() const { return nodeId_; }
  void setNodeId(int node) { nodeId_ = node; }
  bool markedOnly = false;
  bool limitLargeUploads = true;
  void startRead();
  void startWrite();
  void setPeriodic(bool on);
  bool periodic() const { return periodic_; }
  // A dictionary scan: each run step reads the object `scanner` names next, adding what answers
  // to the dictionary. The scanner must outlive the pass.
  void startScan(DictionaryScanner& scanner);
  // Told when a scan step names the object it reads next (before the read waits) and when it has
  // its result, so the scanner window can show both.
  std::function<void()> onScanProgress;
  // "Stop": a running scan goes on to its finish.
  void stopScan();
  bool scanning() const {
    return mode_ == BrowserPassMode::kDictionaryScan && phase_ != BrowserPassPhase::kIdle;
  }
  // Set when a scan has finished; a write refused as read-only afterwards takes the entry's write
  // access away, so later "Send !" passes skip it. Showing the browser clears it.
  bool scanFinished() const { return scanFinished_; }
  void browserShown() { scanFinished_ = false; }
  // Scans finished so far: the scanner window closes when this moves.
  int scansFinished() const { return scansFinished_; }
  BrowserPassPhase phase() const { return phase_; }
  BrowserPassMode mode() const { return mode_; }
  // One step of the pass; returns the timer interval the pass wants next. `changedRows` gets the
  // rows that need repainting.
  int passTick(std::vector<int>* changedRows = nullptr);
  int passAccessed() const { return passAccessed_; }
  int passErrors() const { return passErrors_; }
  // Reads one object into the dictionary (type 0: the standard type); true on success.
  bool ReadRemoteObject(uint16_t index, uint8_t subIndex, uint8_t type, uint32_t* abortCode = nullptr);
  // Writes the entry at `position`; true on success.
  bool WriteRemoteObject(int position);
  // Enter in the value column answered Yes: apply, then write that row's entry (remote) and
  // count the result. Returns the entry's new row, -1 when the row holds none.
  int writeBackRow(int row);

 private:
  BrowserRow renderRow(const OdEntry& entry) const;
  bool applyRow(int row, const BrowserRow& cells);
  // The next entry the running pass handles after `position`, -1 at the end.
  int nextPassPosition(int position) const;
  // One run step of a dictionary scan.
  void scanStep(std::vector<int>* changedRows);
  // The entry a scan read creates for an object the dictionary does not hold yet.
  OdEntry scannedEntry(uint16_t index, uint8_t subIndex, uint8_t type, const SdoChannel& ch) const;

  ObjectDictionary& od_;
  EdsFileInfo& fileInfo_;
  EdsDeviceInfo& deviceInfo_;
  SdoSettings& settings_;
  SdoClientPort* port_;
  std::function<void(const std::string&)> message_;

  std::vector<BrowserRow> rows_;
  std::vector<BrowserRow> rendered_;  // what rebuild() put there, to tell edits apart
  bool showDefault_ = false;
  bool edited_ = false;
  int selected_ = -1;
  std::string gridPos_;
  std::string status_;

  int nodeId_ = 1;
  bool periodic_ = false;
  bool inTransfer_ = false;
  BrowserPassPhase phase_ = BrowserPassPhase::kIdle;
  BrowserPassMode mode_ = BrowserPassMode::kReadAll;
  int passPosition_ = -1;
  int passAccessed_ = 0;
  int passErrors_ = 0;
  DictionaryScanner* scanner_ = nullptr;
  bool scanRead_ = false;  // entries missing from the dictionary are created only by a scan read
  bool scanFinished_ = false;
  int scansFinished_ = 0;
};

}  // namespace busprobe
