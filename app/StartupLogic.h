#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "device/DeviceAccess.h"
#include "device/DeviceList.h"
#include "unattended/RestartSequence.h"

// What the program does from its start to its end, apart from the Win32 calls
// that carry it out: the platform check, the choice of back-end, the
// no-device messages; the restart of Windows is in unattended/RestartSequence.

// Win32s, refused (the NT family's id is beside the restart sequence).
constexpr uint32_t PlatformWin32s = 0;

constexpr char NoDeviceCaption[] = "Firmware Upgrade Program";
constexpr char PlatformFailedText[] = "Flash ROM Upgrade Program Initialized Failed!!";
constexpr char PassThroughFailedText[] =
    "Flash ROM Upgrade Program Initialized Failed (Windows NT/2000)!!";
// The only start-up text that breaks its line with a line feed alone.
constexpr char AspiFailedText[] =
    "Flash ROM Upgrade Program Initialized Failed (Windows 95/98)!!\n"
    "ASPI for Win32 is not initialized!!";

// The result of the version query as PlatformSupported: the query's own
// result, except that Win32s is refused.
int PlatformSupportedFrom(int queryResult, uint32_t platformId);

enum class BackendKind { PassThrough, Aspi };
// Pass-through on the NT family, ASPI on every other platform id.
BackendKind BackendFor(uint32_t platformId);

// The text shown when the back-end of this kind is not usable.
const char* BackendFailedText(BackendKind kind);

// The text shown when no drive was found, by the payload's model id: rows 1
// to 7 name the drive model the program is for, every other id gets
// "No support device Found!!".
const char* NoDeviceMessage(uint8_t modelId);

// What start-up needs of the platform.
class StartupPlatform {
  public:
    virtual ~StartupPlatform() = default;
    // Modal message box with an OK button and no owner window.
    virtual void ShowMessage(const char* text, const char* caption) = 0;
    // A new back-end of the given kind; null when it could not be created.
    virtual std::unique_ptr<DeviceAccess> CreateBackend(BackendKind kind) = 0;
};

// What start-up needs of the main window.
class StartupDialog {
  public:
    virtual ~StartupDialog() = default;
    virtual DeviceList& Devices() = 0;
    // Runs the window modally until the user leaves it.
    virtual void RunModal(DeviceAccess& device) = 0;
    // The user's answer to the restart question, read after RunModal.
    virtual int RestartRequested() const = 0;
};
using DialogFactory = std::function<std::unique_ptr<StartupDialog>()>;

// Everything the user sees: the platform check, the back-end, the drive
// search, then the main window or the no-device message. Sets
// restartRequested (to 0 unless the user accepted the restart question) and
// returns 0, so that no message loop runs.
int RunStartupSequence(int platformSupported, uint32_t platformId, uint8_t modelId,
                       StartupPlatform& platform, const DialogFactory& createDialog,
                       int& restartRequested);
