#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/DeviceList.h"
#include "device/DeviceRecord.h"
#include "flash/OperationReport.h"
#include "flash/OperatorFeedback.h"

// What the main window decides, apart from the Win32 calls that carry it out.

// Appended to the template's title when the window opens.
constexpr char TitleVersionSuffix[] = " 1.58";

constexpr char NoDeviceSelectedText[] = "No device selected!!";
constexpr char FirmwareSelectedText[] = "Select Firmware or Click Upgrade to Upgrade...";
constexpr char RestartQuestionText[] =
    "You must restart Windows in order for the changes to take effect."
    "You may restart now or exit and restart later.";
constexpr char RestartQuestionCaption[] = "DVD Firmware Upgrade Program - Restart System";

// The firmware file the browse button accepts.
constexpr char FirmwareExtension[] = "bin";
constexpr char FirmwareInitialFileName[] = "*.bin";
// The filter list of the file dialog: one entry, then the list's end.
constexpr char FirmwareFileFilter[] = "Firmware File (bin)\0*.bin\0";
constexpr unsigned CurrentDirectoryBufferSize = 256;

// One line of the device box: vendor, product and revision exactly as
// stored, each followed by one blank, then "Version major.minor".
std::string DeviceLineText(const DeviceRecord& record);

// How the controls stand once the window has opened.
struct InitialControls {
    bool deviceBoxEnabled;
    bool upgradeEnabled;
    // Text for the status line, or null when it stays empty.
    const char* statusText;
};
InitialControls InitialControlsFor(int recordCount, bool payloadIsPlaceholder);

// Leaving the window: after a successful upgrade in this run the user is
// asked whether to restart Windows. Returns the new RestartRequested: 1 only
// when the question was asked and answered with OK.
int AskForRestart(int upgradeDone, OperatorFeedback& feedback);

// Upgrade and Save act on the record at the device box's selection. With no
// line selected (the user typed text that matches no line) the status line
// says so and nothing else happens. Returns the operation's result, or false
// when there was no record.
using RecordOperation = std::function<bool(const DeviceRecord& selected)>;
bool RunOnSelectedRecord(const DeviceList& devices, int selectedIndex, OperatorFeedback& feedback,
                         const RecordOperation& operation);

// The text after the last full stop of a file name (no directory part), or
// empty when there is none.
std::string FileExtensionOf(const std::string& fileName);
// True for a file name whose extension is "bin" in any case.
bool IsFirmwareFileName(const std::string& fileName);
// Whether the result of the current-directory query into a buffer of
// bufferSize characters is a usable directory: 0 means failure, a result not
// below the buffer size is the size that would have been needed.
bool IsUsableCurrentDirectory(unsigned long queryResult, unsigned long bufferSize);

// Top-left corner of the icon drawn centred in the minimised window's client
// area; negative when the area is smaller than the icon.
struct IconPosition {
    int x;
    int y;
};
IconPosition CentredIconPosition(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// Top-left corner that centres a window of the given size in the screen's
// work area, moved back inside the area where the window is larger than it
// so its caption stays reachable.
struct WindowPosition {
    int x;
    int y;
};
WindowPosition CentredWindowPosition(int areaLeft, int areaTop, int areaRight, int areaBottom,
                                     int width, int height);
