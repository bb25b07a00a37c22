// The configuration file: its name, and every key of the settings records it carries.
//
// Each record has one list of keys, used for reading and for writing alike, so the two cannot
// drift apart. Load* reads the file (a missing or unreadable file gives the defaults, without a
// message) and applies the reading rules; Save* does a read-modify-write of the file, keeping
// every section and key it does not own, and replaces it atomically; it refuses (false, with a
// text) to replace a file that exists but cannot be read, whose other sections would be lost.
// Save* returns false with a text when the file cannot be written. The Read*/Write* forms work
// on a document already in memory (several records in one file write, tests).
//
// The application calls these at start-up and shutdown; tool windows use IniFile for their own
// sections.
#pragma once

#include <string>

#include "app/settings.h"
#include "base/ini_file.h"
#include "can/interface_settings.h"

namespace busprobe {

// `directory` + "/" (unless it already ends in '/') + "NVK_Busprobe.ini"; an instance number
// n > 0 gives "NVK_Busprobe<n>.ini". The directory is taken whole: cutting a long one would
// name a different place.
std::string BuildIniFileName(const std::string& directory, int instanceNumber);

// The main sections, then "WatchesAndPlotter" and "SpectrumAnalyserByVantor". Reading also sets
// the values that are never stored (the trigger's missing-message timeout) and applies the rules:
// MaxWindowLines limited to 20..10000, all three Log* 0 switch Rx and Tx logging on, HtmlBrowser
// taken only when it starts with a printable character, TxDelay 100 when it is not a number,
// strings cut to their key's length (never inside a UTF-8 character).
void ReadMainSettings(const IniFile& ini, MainSettings& s);
void WriteMainSettings(IniFile& ini, const MainSettings& s);
void LoadMainSettings(const std::string& path, MainSettings& s);
bool SaveMainSettings(const std::string& path, const MainSettings& s, std::string* error);

// "SoundInterface": the audio output device; a value outside 0..2 reads as 2.
void ReadSoundSettings(const IniFile& ini, MainSettings& s);
void WriteSoundSettings(IniFile& ini, const MainSettings& s);
void LoadSoundSettings(const std::string& path, MainSettings& s);
bool SaveSoundSettings(const std::string& path, const MainSettings& s, std::string* error);

// "MainWindow", RecentFile0..4 of "LastSession", and "FirmwareUpdater". The geometry keys (Left,
// Top, Width, Height, HSplitRx, VSplitRx, VSplitMsg) work with what the window put into the
// record: a missing key keeps the record's value, Left and Top moved by 16 pixels per instance
// number unless they are -1 ("not known", the window places itself); a geometry value of -1 is
// not written, so a window that is not in its normal state keeps the stored position. FirstRun is
// always written as 0: the next start is not the first one.
void ReadMainWindowSettings(const IniFile& ini, MainWindowSettings& w, int instanceNumber);
void WriteMainWindowSettings(IniFile& ini, const MainWindowSettings& w);
void LoadMainWindowSettings(const std::string& path, MainWindowSettings& w, int instanceNumber);
bool SaveMainWindowSettings(const std::string& path, const MainWindowSettings& w, std::string* error);

// "CanInterface". A fresh configuration selects the built-in virtual bus (type 10). Ports and
// the interrupt outside 0..65535 read as their defaults. A file that exists but cannot be read
// keeps the record as it was; a missing file gives the defaults.
void ReadInterfaceSettings(const IniFile& ini, CanInterfaceSettings& c);
void WriteInterfaceSettings(IniFile& ini, const CanInterfaceSettings& c);
void LoadInterfaceSettings(const std::string& path, CanInterfaceSettings& c);
bool SaveInterfaceSettings(const std::string& path, const CanInterfaceSettings& c, std::string* error);

}  // namespace busprobe
