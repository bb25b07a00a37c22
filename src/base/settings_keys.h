// The two directions of a configuration key list. Each subsystem writes the keys of its settings
// record once, as a function template in its own .cpp over the record's constness and a visitor,
// and runs it with SettingsReader (file into record) or SettingsWriter (record into file):
//
//   template <class S, class V> void VisitThing(S& s, V& v) {
//     const Thing d;  // the defaults: a fresh record, so file and struct cannot disagree
//     v.integer("Thing", "Size", s.size, d.size);
//   }
//
// A field can then never be read under one name and written under another. (A round trip
// cannot catch a misspelt name either; tests check the names against a list of their own.)
//
// Both visitors have the same calls; the arguments that only reading needs (defaults, offsets)
// are ignored when writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace busprobe {

class IniFile;

// The length of every path and file name key.
constexpr size_t kSettingPathLen = 255;

// Cuts to at most `maxLen` bytes without splitting a UTF-8 sequence: half a character would turn
// a path or name into invalid text.
std::string CutSettingText(std::string s, size_t maxLen);

// `key` followed by the decimal index: "Name" and 3 give "Name3".
std::string IndexedKey(const char* key, size_t index);

class SettingsReader {
 public:
  explicit SettingsReader(const IniFile& ini) : ini_(ini) {}
  // The reader keeps a reference: a document that ends with the statement would leave it dangling.
  explicit SettingsReader(const IniFile&& ini) = delete;

  void integer(const char* section, const std::string& key, int& field, int def);
  // Outside 0..65535 reads as the default: a port or interrupt cannot hold more.
  void u16(const char* section, const std::string& key, uint16_t& field, uint16_t def);
  void text(const char* section, const std::string& key, std::string& field, size_t maxLen,
            const std::string& def);
  void real(const char* section, const std::string& key, double& field, double def);
  // Written in a fixed layout with one decimal; read like any other number.
  void fixed1(const char* section, const std::string& key, double& field, double def);
  // A stored value replaces the built-in one only when it starts with a printable character.
  void command(const char* section, const std::string& key, std::string& field, size_t maxLen);
  // A window's own geometry: a missing key keeps what the window put in, moved by `offset`
  // unless it is -1 ("not known": the window places itself).
  void geometry(const char* section, const std::string& key, int& field, int offset);

 private:
  const IniFile& ini_;
};

class SettingsWriter {
 public:
  explicit SettingsWriter(IniFile& ini) : ini_(ini) {}

  void integer(const char* section, const std::string& key, int field, int def);
  void u16(const char* section, const std::string& key, uint16_t field, uint16_t def);
  void text(const char* section, const std::string& key, const std::string& field, size_t maxLen,
            const std::string& def);
  // The shortest text that reads back to the same value.
  void real(const char* section, const std::string& key, double field, double def);
  // "%8.1f": eight characters, one decimal.
  void fixed1(const char* section, const std::string& key, double field, double def);
  void command(const char* section, const std::string& key, const std::string& field, size_t maxLen);
  // -1 is not written, so a window that does not know its geometry keeps the stored one.
  void geometry(const char* section, const std::string& key, int field, int offset);

 private:
  IniFile& ini_;
};

}  // namespace busprobe
