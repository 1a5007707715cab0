#pragma once

#include <windows.h>

#include "unattended/RestartSequence.h"

// The restart steps on Win32: the process token, the shutdown privilege,
// ExitWindowsEx, and message boxes without an owner window. Used by the
// dialog's restart as the process ends and by a silent run with /REBOOT
// (which logs the messages instead of showing them).
class Win32RestartPlatform : public RestartPlatform {
  public:
    Win32RestartPlatform();
    ~Win32RestartPlatform() override;
    Win32RestartPlatform(const Win32RestartPlatform&) = delete;
    Win32RestartPlatform& operator=(const Win32RestartPlatform&) = delete;

    int OpenProcessToken() override;
    void LookupShutdownPrivilege() override;
    unsigned long EnableShutdownPrivilege() override;
    int RequestRestart(unsigned flags) override;
    void ShowMessage(const char* text, const char* caption) override;

  private:
    HANDLE token_;
    LUID shutdown_;
};
