#include "app/Win32Restart.h"

static_assert(RestartFlagReboot == EWX_REBOOT && RestartFlagForceIfHung == EWX_FORCEIFHUNG,
              "restart flags are the platform's");

Win32RestartPlatform::Win32RestartPlatform() : token_(nullptr) {
    shutdown_.LowPart = 0, shutdown_.HighPart = 0;
}

Win32RestartPlatform::~Win32RestartPlatform() {
    if (token_ != nullptr) CloseHandle(token_);
}

int Win32RestartPlatform::OpenProcessToken() {
    return ::OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_);
}

void Win32RestartPlatform::LookupShutdownPrivilege() {
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown_);
}

unsigned long Win32RestartPlatform::EnableShutdownPrivilege() {
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = shutdown_;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token_, FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError();
}

int Win32RestartPlatform::RequestRestart(unsigned flags) {
    return ExitWindowsEx(flags, 0);
}

void Win32RestartPlatform::ShowMessage(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}
