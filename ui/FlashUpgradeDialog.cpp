#include "ui/FlashUpgradeDialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstring>

#include "flash/SaveFlashToFile.h"
#include "flash/UpgradeFirmware.h"
#include "flash/win32/Win32OutputFile.h"
#include "flash/win32/Win32StayAwake.h"
#include "payload/FirmwarePayload.h"
#include "ui/DialogLogic.h"
#include "ui/Resource.h"

static_assert(IDC_DEVICEBOX == DeviceBoxId && IDC_PROGRESSBAR == ProgressBarId &&
                  IDC_PATHFIELD == PathFieldId && IDC_STATUSLINE == StatusLineId &&
                  IDC_SAVEBUTTON == SaveButtonId && IDC_UPGRADEBUTTON == UpgradeButtonId &&
                  IDC_EXITBUTTON == ExitButtonId && IDC_BROWSEBUTTON == BrowseButtonId,
              "the resource script and the flash operations name the same controls");
static_assert(AnswerOk == IDOK && AnswerCancel == IDCANCEL && AnswerYes == IDYES &&
                  AnswerNo == IDNO,
              "message box answers are the platform's");

namespace {

void SleepPause(unsigned milliseconds) {
    Sleep(milliseconds);
}

UINT MessageBoxStyle(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::OkCancel:
            return MB_OKCANCEL;
        case MessageButtons::YesNo:
            return MB_YESNO;
        case MessageButtons::Ok:
            break;
    }
    return MB_OK;
}

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(window, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

}  // namespace

FlashUpgradeDialog::FlashUpgradeDialog(HINSTANCE instance)
    : SelectedDevice(nullptr),
      RestartRequested(0),
      AppIcon(LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPICON))),
      UpgradeDone(0),
      ProgressPosition(0),
      instance_(instance),
      window_(nullptr),
      device_(nullptr) {}

INT_PTR FlashUpgradeDialog::RunModal(DeviceAccess& device) {
    device_ = &device;
    RestartRequested = 0;
    INT_PTR result =
        DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_FLASHUPGRADE), nullptr,
                        &FlashUpgradeDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    device_ = nullptr;
    return result;
}

INT_PTR CALLBACK FlashUpgradeDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    FlashUpgradeDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<FlashUpgradeDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    } else {
        self = reinterpret_cast<FlashUpgradeDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    // Messages that arrive before WM_INITDIALOG get the default treatment.
    if (self == nullptr) return FALSE;
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR FlashUpgradeDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return InitDialog();
        case WM_PAINT:
            return Paint();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(AppIcon);
        case WM_COMMAND:
            // Button clicks, Enter and Esc; notifications of the combo box
            // and the edit fields are left to the dialog manager.
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                case IDC_EXITBUTTON:
                    ExitDialog();
                    return TRUE;
                case IDC_SAVEBUTTON:
                    Save();
                    return TRUE;
                case IDC_UPGRADEBUTTON:
                    Upgrade();
                    return TRUE;
                case IDC_BROWSEBUTTON:
                    BrowseFirmwareFile();
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

BOOL FlashUpgradeDialog::InitDialog() {
    // The path field starts with FirmwarePath, which is empty here.
    SetDlgItemTextA(window_, IDC_PATHFIELD, FirmwarePath.c_str());

    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(AppIcon));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(AppIcon));

    std::string title = WindowText(window_) + TitleVersionSuffix;
    SetWindowTextA(window_, title.c_str());

    for (int i = 0; i < Devices.Count(); ++i) {
        std::string line = DeviceLineText(*Devices.At(i));
        SendDlgItemMessageA(window_, IDC_DEVICEBOX, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(line.c_str()));
    }
    SendDlgItemMessageA(window_, IDC_DEVICEBOX, CB_SETCURSEL, 0, 0);

    InitialControls controls =
        InitialControlsFor(Devices.Count(), FirmwarePayload::Program().IsPlaceholder());
    if (!controls.deviceBoxEnabled) EnableControl(IDC_DEVICEBOX, false);
    if (!controls.upgradeEnabled) EnableControl(IDC_UPGRADEBUTTON, false);
    if (controls.statusText != nullptr) SetStatusText(controls.statusText);

    ProgressPosition = 0;
    SendDlgItemMessageA(window_, IDC_PROGRESSBAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window_, IDC_PROGRESSBAR, PBM_SETPOS, ProgressPosition, 0);

    SelectedDevice = nullptr;
    UpgradeDone = 0;
    CentreOnWorkArea();
    // Let the dialog manager set the default keyboard focus.
    return TRUE;
}

// The template places the window at 0, 0; it opens in the middle of the
// screen's work area instead.
void FlashUpgradeDialog::CentreOnWorkArea() {
    RECT area;
    RECT window;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(window_, &window)) {
        return;
    }
    WindowPosition at =
        CentredWindowPosition(area.left, area.top, area.right, area.bottom,
                              window.right - window.left, window.bottom - window.top);
    SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL FlashUpgradeDialog::Paint() {
    if (!IsIconic(window_)) return FALSE;
    PAINTSTRUCT paint;
    HDC context = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
    RECT client;
    GetClientRect(window_, &client);
    IconPosition at = CentredIconPosition(client.right - client.left, client.bottom - client.top,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    DrawIcon(context, at.x, at.y, AppIcon);
    EndPaint(window_, &paint);
    return TRUE;
}

void FlashUpgradeDialog::ExitDialog() {
    RestartRequested = AskForRestart(UpgradeDone, *this);
    FirmwarePath = WindowText(GetDlgItem(window_, IDC_PATHFIELD));
    EndDialog(window_, IDOK);
}

int FlashUpgradeDialog::SelectedIndex() const {
    return static_cast<int>(SendDlgItemMessageA(window_, IDC_DEVICEBOX, CB_GETCURSEL, 0, 0));
}

void FlashUpgradeDialog::Upgrade() {
    bool succeeded =
        RunOnSelectedRecord(Devices, SelectedIndex(), *this, [this](const DeviceRecord& record) {
            SelectedDevice = &record;
            Win32StayAwake awake;
            return UpgradeFirmware(record, *device_, FirmwarePayload::Program(), *this, SleepPause,
                                   &awake);
        });
    if (succeeded) UpgradeDone = 1;
}

void FlashUpgradeDialog::Save() {
    RunOnSelectedRecord(Devices, SelectedIndex(), *this, [this](const DeviceRecord& record) {
        SelectedDevice = &record;
        Win32OutputFile file;
        SaveFlashToFile(record, *device_, FirmwarePath, file, *this);
        return true;
    });
}

void FlashUpgradeDialog::BrowseFirmwareFile() {
    char directory[CurrentDirectoryBufferSize];
    DWORD directoryLength = GetCurrentDirectoryA(sizeof directory, directory);

    char file[MAX_PATH];
    std::strcpy(file, FirmwareInitialFileName);

    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    // The size Windows 95/98 and NT 4 know; they refuse the longer structure.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = FirmwareFileFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir =
        IsUsableCurrentDirectory(directoryLength, sizeof directory) ? directory : nullptr;
    dialog.Flags = OFN_HIDEREADONLY;
    dialog.lpstrDefExt = FirmwareExtension;
    if (!GetOpenFileNameA(&dialog)) return;

    std::string path = file;
    std::string name = dialog.nFileOffset < path.size() ? path.substr(dialog.nFileOffset) : path;
    if (!IsFirmwareFileName(name)) return;

    FirmwarePath = path;
    SetDlgItemTextA(window_, IDC_PATHFIELD, FirmwarePath.c_str());
    EnableControl(IDC_UPGRADEBUTTON, true);
    SetStatusText(FirmwareSelectedText);
}

void FlashUpgradeDialog::SetStatusText(const std::string& text) {
    SetDlgItemTextA(window_, IDC_STATUSLINE, text.c_str());
}

void FlashUpgradeDialog::SetProgress(int position) {
    ProgressPosition = position;
    SendDlgItemMessageA(window_, IDC_PROGRESSBAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void FlashUpgradeDialog::EnableControl(int controlId, bool enabled) {
    EnableWindow(GetDlgItem(window_, controlId), enabled ? TRUE : FALSE);
}

int FlashUpgradeDialog::ShowMessageBox(const std::string& text, const char* caption,
                                       MessageButtons buttons) {
    return MessageBoxA(nullptr, text.c_str(), caption, MessageBoxStyle(buttons));
}
