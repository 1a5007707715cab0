#pragma once

// The program's one application object, a static object: constructing it
// asks the system for its version before any other code of the program runs;
// destroying it, as the process ends, restarts Windows when the user asked
// for that.
class FlashUpgradeApp {
  public:
    FlashUpgradeApp();
    ~FlashUpgradeApp();

    FlashUpgradeApp(const FlashUpgradeApp&) = delete;
    FlashUpgradeApp& operator=(const FlashUpgradeApp&) = delete;

    // Everything the user sees, from the back-end's creation to the end of
    // the main window. Always returns 0: no message loop follows.
    int RunStartup();

    // Non-zero when the version query succeeded and the platform is not
    // Win32s.
    int PlatformSupported;
    // Non-zero when the user accepted the restart question.
    int RestartRequested;
};

// Asks Windows to restart, as the process ends.
void RestartWindows();
