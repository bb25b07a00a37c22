// The configuration file: its name, and the loading and saving of the settings records it carries.
//
// Each subsystem owns the key table of its record (one list for reading and writing, so the two
// cannot drift apart); this composes them. Load* reads the file (a missing or unreadable file
// gives the defaults, without a message) and applies the reading rules; Save* does a
// read-modify-write of the file, keeping every section and key it does not own (among them those
// of tools this version does not have), and replaces it atomically; it refuses (false, with a
// text) to replace a file that exists but cannot be read, whose other sections would be lost.
// Save* returns false with a text when the file cannot be written. The Read*/Write* forms work
// on a document already in memory (several records in one file write, tests).
//
// The application calls these at start-up and shutdown; windows keep their state in records
// loaded and saved here, never in the file directly.
#pragma once

#include <string>
#include <string_view>

#include "app/settings.h"
#include "base/ini_file.h"
#include "can/interface_settings.h"

namespace busprobe {

// `directory` + "/" (unless it already ends in '/') + "NVK_Busprobe.ini"; an instance number
// n > 0 gives "NVK_Busprobe<n>.ini". The directory is taken whole: cutting a long one would
// name a different place.
std::string BuildIniFileName(const std::string& directory, int instanceNumber);

// The files the program saves into the configuration directory: the configuration file of any
// instance ("NVK_Busprobe.ini", "NVK_Busprobe<n>.ini") and "current_vars.txt". Their temporary
// files, left by a save that was killed, are removed at start-up.
bool IsSavedConfigDirectoryFile(std::string_view name);

// The main sections: "CanSettings", "Directories", "CanDisplay", "Trigger", "Interpreter",
// "Logging", "CanMessages", "LogfilePlayer" and CurrFile of "LastSession" (by default the
// Programs folder, cut to 80 bytes, + "/default.cmd"). The reading rules are those of each
// record's table.
void ReadMainSettings(const IniFile& ini, MainSettings& s);
void WriteMainSettings(IniFile& ini, const MainSettings& s);
void LoadMainSettings(const std::string& path, MainSettings& s);
bool SaveMainSettings(const std::string& path, const MainSettings& s, std::string* error);

// "SoundInterface": the audio output device; a value outside 0..2 reads as 2.
void ReadSoundSettings(const IniFile& ini, MainSettings& s);
void WriteSoundSettings(IniFile& ini, const MainSettings& s);
void LoadSoundSettings(const std::string& path, MainSettings& s);
bool SaveSoundSettings(const std::string& path, const MainSettings& s, std::string* error);

// "MainWindow" and RecentFile0..4 of "LastSession". The geometry keys (Left, Top, Width, Height,
// HSplitRx, VSplitRx, VSplitMsg) work with what the window put into the record: a missing key
// keeps the record's value, Left and Top moved by 16 pixels per instance number unless they are
// -1 ("not known", the window places itself); a geometry value of -1 is not written, so a window
// that is not in its normal state keeps the stored position. FirstRun is always written as 0:
// the next start is not the first one.
void ReadMainWindowSettings(const IniFile& ini, MainWindowSettings& w, int instanceNumber);
void WriteMainWindowSettings(IniFile& ini, const MainWindowSettings& w);
void LoadMainWindowSettings(const std::string& path, MainWindowSettings& w, int instanceNumber);
bool SaveMainWindowSettings(const std::string& path, const MainWindowSettings& w, std::string* error);

// "CanPlayerWindow": Left and Top, geometry keys as above (no instance offset). The window puts
// its position into the record only where the program always wrote it back (an administrator),
// so for everyone else the stored position stays as it is.
void ReadPlayerWindowSettings(const IniFile& ini, PlayerWindowSettings& p);
void WritePlayerWindowSettings(IniFile& ini, const PlayerWindowSettings& p);
void LoadPlayerWindowSettings(const std::string& path, PlayerWindowSettings& p);
bool SavePlayerWindowSettings(const std::string& path, const PlayerWindowSettings& p, std::string* error);

// "DictViewWindow" and "RemoteDictViewWindow" (Left, Top, Width, Height, geometry keys as above)
// and "RemoteObjectDictionaryViewer" (DontReadLargeObjects).
void ReadDictionaryBrowserSettings(const IniFile& ini, DictionaryBrowserSettings& b);
void WriteDictionaryBrowserSettings(IniFile& ini, const DictionaryBrowserSettings& b);
bool SaveDictionaryBrowserSettings(const std::string& path, const DictionaryBrowserSettings& b,
                                   std::string* error);

// "CanInterface" (key table with the record). A fresh configuration reads a fresh record, except
// CvUDP_flags, which keeps its current value when missing. A file that exists but cannot be read
// keeps the record as it was; a missing file gives the defaults.
void LoadInterfaceSettings(const std::string& path, CanInterfaceSettings& c);
bool SaveInterfaceSettings(const std::string& path, const CanInterfaceSettings& c, std::string* error);

}  // namespace busprobe
