#pragma once

#include <cstdio>
#include <string>

#include "flash/OperatorFeedback.h"
#include "payload/FirmwarePayload.h"
#include "unattended/UnattendedRun.h"

// Where the console's lines go and the answer to its question comes from.
struct ConsoleStreams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::FILE* in = stdin;
};

// What the console shows of a run: the drive table of --list and --check on
// the standard output; the question before writing; and on the standard error every
// status text, the notices, and the progress of each step, as a bar that
// redraws itself in a terminal or as plain lines otherwise. Every text is
// shown through EscapedText: a drive's texts are data, and an escape
// sequence among them must not reach the terminal.
class ConsoleReport : public OperatorFeedback, public RunObserver {
  public:
    // bar: the standard error is a terminal. ask: ask before writing (the
    // answer is read from the standard input). restore: the backup a
    // restore writes instead of the payload.
    ConsoleReport(const FirmwarePayload& payload, bool list, bool bar, bool ask,
                  const std::string& restore = "", ConsoleStreams streams = {})
        : payload_(payload),
          list_(list),
          bar_(bar),
          ask_(ask),
          restore_(restore),
          streams_(streams) {}

    // OperatorFeedback: the status texts and progress of the step under way.
    void SetStatusText(const std::string& text) override;
    void SetProgress(int position) override;
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override {
        return AnswerNo;
    }
    void ChunkAttemptFailed(uint32_t offset, ChunkStep step) override;

    // RunObserver.
    void DrivesFound(const std::vector<FoundDrive>& drives) override;
    bool ConfirmWrite(const std::vector<FoundDrive>& targets) override;
    void StepStarted(const FoundDrive& drive, RunStep step) override;
    void StepEnded(const FoundDrive& drive, RunStep step, bool succeeded) override;
    void Notice(const std::string& text) override;
    void SourceRead(const FirmwareSource& source) override;

  private:
    void Message(const std::string& text);  // a line of its own on stderr
    // text escaped, then end.
    void Print(std::FILE* stream, const std::string& text, const char* end = "\n");
    void DrawBar();
    void EndBar();

    const FirmwarePayload& payload_;
    bool list_, bar_, ask_;
    std::string restore_;  // and what its record says, once read
    ConsoleStreams streams_;
    std::string prefix_;  // "Drive 0 (/dev/sr0)"
    RunStep step_ = RunStep::Upgrade;
    int chunks_ = 0, done_ = 0, percent_ = 0, retries_ = 0, failedInRow_ = 0;
    bool barShown_ = false;
};

// "5.1V for DVD-ROM 16X (firmware 5.*V), checksum 1234": what the program
// carries, for --version and --list.
std::string DescribePayload(const FirmwarePayload& payload);
