#pragma once

#include <string>

#include "flash/OperatorFeedback.h"
#include "unattended/RestartSequence.h"
#include "unattended/RunLog.h"
#include "unattended/UnattendedRun.h"

// The feedback of a run goes to its log: what the dialog would show, and the
// restart's failures.

// Stands where the dialog stands for the flash operations: every status text
// and every failed attempt goes into the log, under the drive's position.
// No question is ever asked: each gets the run's answer (no, unless told).
class LoggingFeedback : public OperatorFeedback {
  public:
    LoggingFeedback(RunLog& log, DriveBackend& backend, OperatorFeedback* echo,
                    RunObserver* observer)
        : log_(log), backend_(backend), echo_(echo), observer_(observer) {}

    void SetDrive(int position);
    void SetAnswer(int answer) { answer_ = answer; }
    // From now on every status text, progress step, failed attempt and
    // notice first says a held signal that arrived.
    void WatchSignals(SignalHold* signals) { signals_ = signals; }
    void Line(const std::string& text) { log_.Line(prefix_ + text); }
    // A line the user should read as well.
    void Say(const std::string& text);

    void SetStatusText(const std::string& text) override;
    void SetProgress(int position) override;
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string& text, const char*, MessageButtons) override;
    void ChunkAttemptFailed(uint32_t offset, ChunkStep step) override;
    void Notice(const std::string& text) override;

  private:
    void SaySignals();

    RunLog& log_;
    DriveBackend& backend_;
    OperatorFeedback* echo_;
    RunObserver* observer_;
    SignalHold* signals_ = nullptr;
    std::string prefix_;
    int answer_ = AnswerNo;
};

// The restart steps of the platform, with their failures written to the log
// instead of shown: a silent run never opens a message box.
class LoggedRestart : public RestartPlatform {
  public:
    LoggedRestart(RestartPlatform& platform, RunLog& log) : platform_(platform), log_(log) {}
    bool failed = false;

    int OpenProcessToken() override { return platform_.OpenProcessToken(); }
    void LookupShutdownPrivilege() override { platform_.LookupShutdownPrivilege(); }
    unsigned long EnableShutdownPrivilege() override { return platform_.EnableShutdownPrivilege(); }
    int RequestRestart(unsigned flags) override;
    void ShowMessage(const char* text, const char*) override;

  private:
    RestartPlatform& platform_;
    RunLog& log_;
};
