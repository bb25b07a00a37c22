// The script words the CAN bus and traffic side provide: the components of can[bus] (bit rate,
// frame and error counters, controller reset, test duration), the `freeze` and `cursor` factors and
// the `ClearScreen` command. Registered once when the application wires its subsystems.
#pragma once

#include "interp/script_extensions.h"

namespace busprobe {

class Application;

void RegisterTrafficScriptWords(Application& app, ScriptExtensions& table);

}  // namespace busprobe
