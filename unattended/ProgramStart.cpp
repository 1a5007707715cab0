#include "unattended/ProgramStart.h"

#include "flash/FormatText.h"
#include "unattended/CommandLine.h"
#include "unattended/RestartSequence.h"
#include "unattended/RunOutcome.h"

namespace {

// Where the lines of a run go when no log file could be opened.
class NoLog : public LogSink {
  public:
    void WriteLine(const std::string&) override {}
};

// The default log in folder; note says why it is not the first candidate.
std::unique_ptr<LogSink> OpenDefaultLog(ProgramStartPlatform& platform, const std::string& folder,
                                        std::string& note) {
    const std::string first = PathInFolder(folder, DefaultLogName);
    LogOpening opening = platform.OpenLog(first, true);
    if (opening.sink != nullptr || !platform.FilesMayBeLinks()) return std::move(opening.sink);
    for (int attempt = 2; attempt <= MaxLogCandidates; ++attempt) {
        const std::string path = PathInFolder(folder, DefaultLogFileName(attempt));
        LogOpening next = platform.OpenLog(path, false);
        if (next.sink == nullptr) continue;
        note = "Log " + first + " not written: " + LogRefusalText(opening) + "; this run logs to " +
               path;
        return std::move(next.sink);
    }
    return nullptr;
}

}  // namespace

std::string DefaultLogFileName(int attempt) {
    return attempt <= 1 ? DefaultLogName : FormatText("FlashUpgrade-%d.log", attempt);
}

std::string LogRefusalText(const LogOpening& opening) {
    switch (opening.outcome) {
        case LogOpening::Outcome::ReparsePoint:
            return "it is a reparse point (a link to another file)";
        case LogOpening::Outcome::HardLinks:
            return FormatText("it has %lu hard links (another name leads to the same file)",
                              opening.count);
        default:
            return FormatText("it cannot be opened (error %lu)", opening.count);
    }
}

bool TakeSingleCopy(ProgramStartPlatform& platform) {
    for (const char* name : SingleCopyNames) {
        const ProgramStartPlatform::Mark mark = platform.CreateMark(name);
        if (mark != ProgramStartPlatform::Mark::NotAccepted) {
            return mark == ProgramStartPlatform::Mark::Taken;
        }
    }
    return true;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '\\' || last == '/' || (last == ':' && folder.size() == 2)) return folder + name;
    return folder + '\\' + name;
}

int StartProgram(const std::string& commandLine, const FirmwarePayload& payload,
                 ProgramStartPlatform& platform) {
    const SwitchParse parse = ParseSwitches(SplitCommandLine(commandLine));
    const UnattendedPlan& plan = parse.plan;
    if (!parse.refused && plan.action == PlanAction::Help) {
        platform.ShowMessage(UsageText, StartupCaption);
        return WindowsExitCode(RunOutcome::Help);
    }
    if (!parse.refused && plan.action == PlanAction::Dialog) {
        if (TakeSingleCopy(platform)) return platform.RunDialog();
        platform.ShowMessage(AlreadyRunningText, StartupCaption);
        return WindowsExitCode(RunOutcome::AlreadyRunning);
    }

    platform.QuietSystemErrors();
    std::string refusal = parse.refused ? "Command line refused: " + parse.reason : "";
    std::unique_ptr<LogSink> log;
    if (plan.hasLog) {
        LogOpening opening = platform.OpenLog(plan.logPath, true);
        log = std::move(opening.sink);
        // The reason then goes into the default log, where one opens.
        if (log == nullptr && refusal.empty()) {
            refusal = "Cannot open the log " + plan.logPath;
            if (opening.outcome != LogOpening::Outcome::Failed)
                refusal += ": " + LogRefusalText(opening);
        }
    }
    const std::string temp = platform.TempFolder();
    std::string note;
    if (log == nullptr && !temp.empty()) log = OpenDefaultLog(platform, temp, note);
    if (log == nullptr) log.reset(new NoLog);

    RunSeams seams = platform.Seams(plan, *log);
    if (!note.empty()) RunLog(seams.logSink, seams.clock).Line(note);
    RunOutcome outcome;
    if (!refusal.empty()) {
        outcome = EndBeforeRun(plan.switchText, refusal, RunOutcome::BadUsage, seams);
    } else if (!TakeSingleCopy(platform)) {
        outcome =
            EndBeforeRun(plan.switchText, AlreadyRunningText, RunOutcome::AlreadyRunning, seams);
    } else {
        outcome = RunUnattended(plan, payload, seams);
    }
    return WindowsExitCode(outcome);
}
