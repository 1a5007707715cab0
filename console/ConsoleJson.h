#pragma once

#include <string>
#include <vector>

#include "flash/OperatorFeedback.h"
#include "payload/FirmwarePayload.h"
#include "unattended/UnattendedRun.h"

// What --json prints: one document on the standard output, built from what
// the run reports as it goes. The human view still sees every call (the
// status texts, notices and progress on the standard error, the question
// before writing); only the table of --list and --check gives way to the
// document.
class JsonReport : public OperatorFeedback, public RunObserver {
  public:
    JsonReport(const FirmwarePayload& payload, const UnattendedPlan& plan, OperatorFeedback& echo,
               RunObserver& next)
        : payload_(payload), plan_(plan), echo_(echo), next_(next) {}

    void SetStatusText(const std::string& text) override;
    void SetProgress(int position) override { echo_.SetProgress(position); }
    void EnableControl(int control, bool enabled) override {
        echo_.EnableControl(control, enabled);
    }
    int ShowMessageBox(const std::string& text, const char* title,
                       MessageButtons buttons) override {
        return echo_.ShowMessageBox(text, title, buttons);
    }
    void ChunkAttemptFailed(uint32_t offset, ChunkStep step) override {
        echo_.ChunkAttemptFailed(offset, step);
    }

    void DrivesFound(const std::vector<FoundDrive>& drives) override;
    bool ConfirmWrite(const std::vector<FoundDrive>& targets) override;
    void StepStarted(const FoundDrive& drive, RunStep step) override;
    void StepEnded(const FoundDrive& drive, RunStep step, bool succeeded) override;
    void Notice(const std::string& text) override;
    void BackupWritten(const FoundDrive& drive, const std::string& path) override;
    void SourceRead(const FirmwareSource& source) override;
    void Verified(const FoundDrive& drive, const FlashComparison& comparison) override;

    // The document, once the run has ended so; always valid JSON (UTF-8),
    // whatever bytes the drives reported.
    std::string Document(RunOutcome outcome, int exitCode) const;

  private:
    struct Entry {
        FoundDrive drive;
        std::string done;    // empty until a step has ended
        std::string status;  // the last status text of its steps
        std::string notice;  // the last notice about it
        std::string backup;
        bool verified = false;
        FlashComparison comparison;
    };
    Entry* Find(int position);

    const FirmwarePayload& payload_;
    const UnattendedPlan& plan_;
    OperatorFeedback& echo_;
    RunObserver& next_;
    std::vector<Entry> entries_;
    std::vector<std::string> notices_;
    bool hasRecord_ = false;
    BackupRecord record_;       // of the backup a restore or a verify reads
    Entry* current_ = nullptr;  // the drive of the step under way
};

// A text a drive or a payload holds, as JSON can carry it: every byte is the
// character of that code (ISO 8859-1), so ASCII stays as it is, any other
// byte cannot make the document invalid, and each byte can be read back.
std::string InquiryTextForJson(const std::string& bytes);
