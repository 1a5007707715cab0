#pragma once

#include <cstdint>

// The restart of Windows after an upgrade: the same token steps and flags
// whether the user accepted the restart question or a silent run asked for
// it with its switch.

// The NT family's platform id of the version query.
constexpr uint32_t PlatformWin32Nt = 2;

// Flags of the restart request (the platform's EWX_ values).
constexpr unsigned RestartFlagReboot = 0x02;
constexpr unsigned RestartFlagForceIfHung = 0x10;

constexpr char StartupCaption[] = "DVD Firmware Upgrade Program";
constexpr char OpenTokenFailedText[] = "Reboot : OpenProcessToken Fail!!";
constexpr char AdjustPrivilegeFailedText[] = "Reboot : AdjustTokenPrivileges Fail!!";
constexpr char ExitWindowsFailedText[] = "Reboot : ExitWindowsEx Fail!!";

// The flags the restart asks for: a reboot that also ends programs that hang
// on the NT family from Windows 2000 on (older systems do not know that
// flag), a plain reboot otherwise.
unsigned RestartFlags(uint32_t platformId, uint32_t majorVersion);

// What the restart needs of the platform.
class RestartPlatform {
  public:
    virtual ~RestartPlatform() = default;
    // Opens the process token for adjusting and querying privileges; non-zero
    // on success.
    virtual int OpenProcessToken() = 0;
    // Looks up the shutdown privilege on the local system.
    virtual void LookupShutdownPrivilege() = 0;
    // Enables the looked-up privilege on the opened token and returns the
    // last-error code the call left behind.
    virtual unsigned long EnableShutdownPrivilege() = 0;
    // Asks Windows to end the session; non-zero when the request was taken.
    virtual int RequestRestart(unsigned flags) = 0;
    // Modal message box with an OK button and no owner window.
    virtual void ShowMessage(const char* text, const char* caption) = 0;
};

// Asks Windows to restart. On the NT family the shutdown privilege is enabled
// first; every failed step is reported and the sequence goes on.
void RestartWindowsWith(uint32_t platformId, uint32_t majorVersion, RestartPlatform& platform);
