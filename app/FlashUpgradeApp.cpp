#include "app/FlashUpgradeApp.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <memory>
#include <new>

#include "app/StartupLogic.h"
#include "app/Win32Backends.h"
#include "app/Win32Restart.h"
#include "device/OsVersionInfo.h"
#include "payload/FirmwarePayload.h"
#include "ui/FlashUpgradeDialog.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record the system fills");
static_assert(PlatformWin32s == VER_PLATFORM_WIN32s && PlatformWin32Nt == VER_PLATFORM_WIN32_NT,
              "platform ids are the platform's");

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
