#pragma once

#include <cstdint>
#include <string>

// Control ids of the main dialog that the flash operations and the dialog's
// own handlers switch on and off.
enum ControlId : int {
    DeviceBoxId = 1000,
    ProgressBarId = 1001,
    PathFieldId = 1002,
    StatusLineId = 1004,
    SaveButtonId = 1009,
    UpgradeButtonId = 1010,
    ExitButtonId = 1011,
    BrowseButtonId = 1014,
};

enum class MessageButtons { Ok, OkCancel, YesNo };

// The step of a chunk attempt that failed: the write, the read-back or the
// comparison of the upgrade, or the flash read of the read-out.
enum class ChunkStep { Write, ReadBack, Compare, FlashRead };

// Answers of a message box; the values are the platform's IDOK, IDCANCEL,
// IDYES and IDNO.
enum MessageAnswer : int {
    AnswerOk = 1,
    AnswerCancel = 2,
    AnswerYes = 6,
    AnswerNo = 7,
};

// How the flash operations talk to the user. Every call acts at once, on the
// calling thread.
class OperatorFeedback {
  public:
    virtual ~OperatorFeedback() = default;

    // Replaces the whole text of the status line.
    virtual void SetStatusText(const std::string& text) = 0;
    // Shows position (0..100) on the progress bar and remembers it as the
    // last position shown. During an upgrade 0 means the write begins again
    // from the first chunk.
    virtual void SetProgress(int position) = 0;
    // Enables or disables one of the dialog's controls.
    virtual void EnableControl(int controlId, bool enabled) = 0;
    // Modal message box without an owner window; caption null shows the
    // platform's default caption. Returns the button pressed.
    virtual int ShowMessageBox(const std::string& text, const char* caption,
                               MessageButtons buttons) = 0;
    // One attempt on the chunk at flash offset failed at step; the loop
    // tries again or gives up as before. The dialog shows nothing for it.
    virtual void ChunkAttemptFailed(uint32_t offset, ChunkStep step) {
        static_cast<void>(offset);
        static_cast<void>(step);
    }
    // A line the log and a console show, that the window does not: what the
    // loop did about something the user did not see happen.
    virtual void Notice(const std::string& text) { static_cast<void>(text); }
};
