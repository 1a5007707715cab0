#include <windows.h>

#include "app/FlashUpgradeApp.h"

// The one application object. Its construction queries the system version
// during static initialisation; its destruction, when the process ends after
// WinMain has returned, restarts Windows if the user asked for it.
static FlashUpgradeApp TheApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return TheApp.RunStartup();
}
