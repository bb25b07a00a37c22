#include "interp/interp_settings.h"

#include "base/settings_keys.h"

namespace busprobe {

namespace {

template <class S, class V>
void VisitInterpreter(S& s, V& v) {
  const InterpreterSettings d;
  const char* sec = "Interpreter";
  v.fixed1(sec, "TxDelay", s.txDelay, d.txDelay);
  v.integer(sec, "SoundEnabled", s.soundEnabled, d.soundEnabled);
  v.integer(sec, "SaveVarValues", s.saveVarValues, d.saveVarValues);
}

}  // namespace

void ReadInterpreterSettings(const IniFile& ini, InterpreterSettings& s) {
  SettingsReader r(ini);
  VisitInterpreter(s, r);
}

void WriteInterpreterSettings(IniFile& ini, const InterpreterSettings& s) {
  SettingsWriter w(ini);
  VisitInterpreter(s, w);
}

}  // namespace busprobe
