// The interpreter's settings (section "Interpreter"): the pause between two transmissions of a
// script, the acoustic signals switch and whether script variables survive a program run.
#pragma once

namespace busprobe {

class IniFile;

struct InterpreterSettings {
  double txDelay = 100.0;  // ms between two transmissions of a script
  int soundEnabled = 0;
  int saveVarValues = 1;
};

// A TxDelay that is not a number reads as 100; it is written as "%8.1f".
void ReadInterpreterSettings(const IniFile& ini, InterpreterSettings& s);
void WriteInterpreterSettings(IniFile& ini, const InterpreterSettings& s);

}  // namespace busprobe
