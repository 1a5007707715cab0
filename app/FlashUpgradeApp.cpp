#include "app/FlashUpgradeApp.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <memory>
#include <new>

#include "app/StartupLogic.h"
#include "app/Win32Backends.h"
#include "device/OsVersionInfo.h"
#include "payload/FirmwarePayload.h"
#include "ui/FlashUpgradeDialog.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record the system fills");
static_assert(PlatformWin32s == VER_PLATFORM_WIN32s && PlatformWin32Nt == VER_PLATFORM_WIN32_NT,
              "platform ids are the platform's");
static_assert(RestartFlagReboot == EWX_REBOOT && RestartFlagForceIfHung == EWX_FORCEIFHUNG,
              "restart flags are the platform's");

namespace {

void ShowOkMessage(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

class Win32StartupPlatform : public StartupPlatform {
  public:
    void ShowMessage(const char* text, const char* caption) override {
        ShowOkMessage(text, caption);
    }
    std::unique_ptr<DeviceAccess> CreateBackend(BackendKind kind) override {
        return kind == BackendKind::PassThrough ? CreatePassThroughBackend() : CreateAspiBackend();
    }
};

class MainDialog : public StartupDialog {
  public:
    explicit MainDialog(HINSTANCE instance) : dialog_(instance) {}
    DeviceList& Devices() override { return dialog_.Devices; }
    void RunModal(DeviceAccess& device) override { dialog_.RunModal(device); }
    int RestartRequested() const override { return dialog_.RestartRequested; }

  private:
    FlashUpgradeDialog dialog_;
};

class Win32RestartPlatform : public RestartPlatform {
  public:
    Win32RestartPlatform() : token_(nullptr) { shutdown_.LowPart = 0, shutdown_.HighPart = 0; }
    ~Win32RestartPlatform() override {
        if (token_ != nullptr) CloseHandle(token_);
    }
    Win32RestartPlatform(const Win32RestartPlatform&) = delete;
    Win32RestartPlatform& operator=(const Win32RestartPlatform&) = delete;

    int OpenProcessToken() override {
        return ::OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                  &token_);
    }
    void LookupShutdownPrivilege() override {
        LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown_);
    }
    unsigned long EnableShutdownPrivilege() override {
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid = shutdown_;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token_, FALSE, &privileges, 0, nullptr, nullptr);
        return GetLastError();
    }
    int RequestRestart(unsigned flags) override { return ExitWindowsEx(flags, 0); }
    void ShowMessage(const char* text, const char* caption) override {
        ShowOkMessage(text, caption);
    }

  private:
    HANDLE token_;
    LUID shutdown_;
};

}  // namespace

FlashUpgradeApp::FlashUpgradeApp() : PlatformSupported(0), RestartRequested(0) {
    OsVersionInfo.dwOSVersionInfoSize = sizeof OsVersionInfo;
    int result = GetVersionExA(&OsVersionInfo);
    PlatformSupported = PlatformSupportedFrom(result, OsVersionInfo.dwPlatformId);
}

FlashUpgradeApp::~FlashUpgradeApp() {
    if (RestartRequested != 0) RestartWindows();
}

int FlashUpgradeApp::RunStartup() {
    // The progress bar's window class lives in the common controls.
    InitCommonControls();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    Win32StartupPlatform platform;
    return RunStartupSequence(
        PlatformSupported, OsVersionInfo.dwPlatformId, FirmwarePayload::Program().ModelId(),
        platform, [instance] { return std::unique_ptr<StartupDialog>(new MainDialog(instance)); },
        RestartRequested);
}

void RestartWindows() {
    Win32RestartPlatform platform;
    RestartWindowsWith(OsVersionInfo.dwPlatformId, OsVersionInfo.dwMajorVersion, platform);
}
