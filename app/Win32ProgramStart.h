#pragma once

#include "app/FlashUpgradeApp.h"

// The program's command line (GetCommandLineA) read and carried out through
// StartProgram, over the Win32 seams of the window, the log, the clock, the
// backup folder, the restart and the mark of the running copy. Returns the
// exit code.
int RunProgram(FlashUpgradeApp& app);
