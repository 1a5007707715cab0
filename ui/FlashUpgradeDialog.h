#pragma once

#include <windows.h>

#include <string>

#include "device/DeviceAccess.h"
#include "device/DeviceList.h"
#include "flash/OperatorFeedback.h"

// The program's only window: the device box, the Upgrade button, the status
// line and the progress bar of dialog template 102, plus the hidden path
// field, browse and Save buttons. A plain modal dialog over the Win32 dialog
// manager; what it decides lives in DialogLogic.
class FlashUpgradeDialog : public OperatorFeedback {
  public:
    explicit FlashUpgradeDialog(HINSTANCE instance);

    FlashUpgradeDialog(const FlashUpgradeDialog&) = delete;
    FlashUpgradeDialog& operator=(const FlashUpgradeDialog&) = delete;

    // Runs the window modally, without an owner, with device as the back-end
    // of its commands. Returns IDOK when the user left it, -1 when the window
    // could not be created.
    INT_PTR RunModal(DeviceAccess& device);

    // OperatorFeedback, on the window's controls.
    void SetStatusText(const std::string& text) override;
    void SetProgress(int position) override;
    void EnableControl(int controlId, bool enabled) override;
    int ShowMessageBox(const std::string& text, const char* caption,
                       MessageButtons buttons) override;

    // The drive the running operation works on; null before the first one.
    const DeviceRecord* SelectedDevice;
    // 1 when the user accepted the restart question. 0 until the user
    // leaves the window, and 0 after a run that never reached the exit.
    int RestartRequested;
    // The drives found at start-up, one line of the device box each.
    DeviceList Devices;
    // The file chosen with the browse button; Save writes to it.
    std::string FirmwarePath;
    HICON AppIcon;
    // 1 once an upgrade has succeeded in this run; never cleared.
    int UpgradeDone;
    // Last position a flash loop showed on the progress bar.
    int ProgressPosition;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL InitDialog();
    void CentreOnWorkArea();
    BOOL Paint();
    void ExitDialog();
    void Upgrade();
    void Save();
    void BrowseFirmwareFile();
    int SelectedIndex() const;

    HINSTANCE instance_;
    HWND window_;
    DeviceAccess* device_;
};
