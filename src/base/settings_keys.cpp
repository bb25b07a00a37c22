#include "base/settings_keys.h"

#include "base/ini_file.h"

namespace busprobe {

std::string CutSettingText(std::string s, size_t maxLen) {
  if (s.size() <= maxLen) return s;
  size_t n = maxLen;
  for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80; ++back) --n;
  s.resize(n);
  return s;
}

std::string IndexedKey(const char* key, size_t index) {
  return key + std::to_string(index);
}

void SettingsReader::integer(const char* section, const std::string& key, int& field, int def) {
  field = ini_.getInt(section, key, def);
}

void SettingsReader::u16(const char* section, const std::string& key, uint16_t& field, uint16_t def) {
  const int v = ini_.getInt(section, key, def);
  field = (v < 0 || v > 0xFFFF) ? def : static_cast<uint16_t>(v);
}

void SettingsReader::text(const char* section, const std::string& key, std::string& field, size_t maxLen,
                          const std::string& def) {
  field = CutSettingText(ini_.getString(section, key, def), maxLen);
}

void SettingsReader::real(const char* section, const std::string& key, double& field, double def) {
  field = ini_.getDouble(section, key, def);
}

void SettingsReader::fixed1(const char* section, const std::string& key, double& field, double def) {
  real(section, key, field, def);
}

void SettingsReader::command(const char* section, const std::string& key, std::string& field, size_t maxLen) {
  const std::string v = ini_.getString(section, key, "");
  if (!v.empty() && static_cast<unsigned char>(v[0]) > ' ') field = CutSettingText(v, maxLen);
}

void SettingsReader::geometry(const char* section, const std::string& key, int& field, int offset) {
  if (ini_.has(section, key)) {
    field = ini_.getInt(section, key, field);
  } else if (field != -1) {
    field += offset;
  }
}

void SettingsWriter::integer(const char* section, const std::string& key, int field, int) {
  ini_.setInt(section, key, field);
}

void SettingsWriter::u16(const char* section, const std::string& key, uint16_t field, uint16_t) {
  ini_.setInt(section, key, field);
}

void SettingsWriter::text(const char* section, const std::string& key, const std::string& field,
                          size_t maxLen, const std::string&) {
  ini_.setString(section, key, CutSettingText(field, maxLen));
}

void SettingsWriter::real(const char* section, const std::string& key, double field, double) {
  ini_.setDouble(section, key, field);
}

void SettingsWriter::fixed1(const char* section, const std::string& key, double field, double) {
  ini_.setDoubleFixed(section, key, field, 8, 1);
}

void SettingsWriter::command(const char* section, const std::string& key, const std::string& field,
                             size_t maxLen) {
  ini_.setString(section, key, CutSettingText(field, maxLen));
}

void SettingsWriter::geometry(const char* section, const std::string& key, int field, int) {
  if (field != -1) ini_.setInt(section, key, field);
}

}  // namespace busprobe
