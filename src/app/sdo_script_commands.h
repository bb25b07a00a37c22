// The script words of the CANopen side: sdo. (the SDO client: enable, node, read, val, write) and
// obj. / obd. (the local dictionary the SDO servers serve: load, read, write). Each is a statement
// and a factor alike; registered once when the application wires its subsystems.
#pragma once

#include "interp/script_extensions.h"

namespace busprobe {

class Application;

void RegisterCanopenScriptWords(Application& app, ScriptExtensions& table);

}  // namespace busprobe
