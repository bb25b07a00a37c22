// The folders and files of section "Directories". Several subsystems read them (command files,
// log files, dictionaries, help, the browser), so the record sits below all of them.
#pragma once

#include <string>

namespace busprobe {

class IniFile;

struct DirectorySettings {
  std::string programs = "Programs";
  std::string objects = "Objects";
  std::string helpFile = "CanHlp1";
  std::string logFileDir;
  std::string htmlBrowser;  // taken only when its first character is above a space
  std::string myObjectDictionary = "MyObject.DIC";
  std::string hisObjectDictionary = "HisObject.DIC";
};

// Paths are cut to 255 bytes, the browser command line to 511. A stored HtmlBrowser that does not
// start with a printable character keeps the record's value.
void ReadDirectorySettings(const IniFile& ini, DirectorySettings& d);
void WriteDirectorySettings(IniFile& ini, const DirectorySettings& d);

}  // namespace busprobe
