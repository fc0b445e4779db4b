// The launcher's start-up sequence: configuration, runtime, commands, end.
#pragma once

#include "platform/win32.h"

namespace tx {

// Runs the launcher for the module `instance` and answers 1, the exit status
// of every run that reaches its end. Start-up failures end the process
// earlier: status 0 after a message of their own, status 2 when the module
// table cannot be had.
int LauncherMain(HINSTANCE instance);

} // namespace tx
