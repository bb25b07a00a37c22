// Any bytes as a configuration file: reading every settings record must not fail, an untouched
// document must give back the same bytes, and what is written must read back unchanged.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/config_file.h"
#include "base/ini_file.h"

namespace {

using busprobe::IniFile;

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Records {
  busprobe::MainSettings main;
  busprobe::MainWindowSettings window;
  busprobe::PlayerWindowSettings player;
  busprobe::CanInterfaceSettings intf;

  void read(const IniFile& ini) {
    busprobe::ReadSoundSettings(ini, main);
    busprobe::ReadMainSettings(ini, main);
    busprobe::ReadMainWindowSettings(ini, window, 1);
    busprobe::ReadPlayerWindowSettings(ini, player);
    busprobe::ReadInterfaceSettings(ini, intf);
  }
  void write(IniFile& ini) const {
    busprobe::WriteSoundSettings(ini, main);
    busprobe::WriteMainSettings(ini, main);
    busprobe::WriteMainWindowSettings(ini, window);
    busprobe::WritePlayerWindowSettings(ini, player);
    busprobe::WriteInterfaceSettings(ini, intf);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::parse(input);
  Check(ini.text() == input);

  Records first;
  first.read(ini);

  // Values taken from the input itself, set under names the settings do not use.
  const std::string section(input.substr(0, 16));
  const std::string value(input.substr(size > 64 ? size - 64 : 0));
  int number = 0;
  double real = 0.0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  if (size >= sizeof real) std::memcpy(&real, data + size - sizeof real, sizeof real);
  const bool sectionTaken = ini.setInt(section, "FuzzKey", number);
  Check(ini.setString("FuzzValues", "Text", value));
  Check(ini.setInt("FuzzValues", "Int", number));
  Check(ini.setDouble("FuzzValues", "Real", real));
  Check(ini.setDoubleFixed("FuzzValues", "Fixed", real, 8, 1));

  first.write(ini);
  const IniFile back = IniFile::parse(ini.text());
  Records second;
  second.read(back);
  // Records compared through their written form: equal texts mean equal stored fields.
  IniFile expected, actual;
  first.write(expected);
  second.write(actual);
  Check(actual.text() == expected.text());

  if (sectionTaken) Check(back.getInt(section, "FuzzKey", ~number) == number);
  Check(back.getString("FuzzValues", "Text", "") == value.substr(0, value.find_first_of("\r\n")));
  Check(back.getInt("FuzzValues", "Int", ~number) == number);
  if (std::isfinite(real)) {
    Check(back.getDouble("FuzzValues", "Real", -1.0) == real);
    const double fixed = back.getDouble("FuzzValues", "Fixed", std::nan(""));
    Check(std::fabs(fixed - real) <= 0.05 * (1 + 1e-12) + std::fabs(real) * 1e-15);
  }
  return 0;
}
