// The Qt program: the application object with its main window and the event loop.
#pragma once

#include "app/application.h"

// Runs the program with its windows until the main window closes (the normal shutdown has run by
// then); returns the process exit status. SIGINT and SIGTERM close the window like the user would.
int RunGui(int argc, char** argv, busprobe::AppOptions options);
