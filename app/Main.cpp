#include <windows.h>

#include "app/FlashUpgradeApp.h"
#include "app/Win32ProgramStart.h"

// The one application object. Its construction queries the system version
// during static initialisation; its destruction, when the process ends after
// WinMain has returned, restarts Windows if the user asked for it in the
// window.
static FlashUpgradeApp TheApp;

// The command line chooses the window, the usage or a silent run; the exit
// code is the run's.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunProgram(TheApp);
}
