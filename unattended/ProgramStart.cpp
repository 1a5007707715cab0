#include "unattended/ProgramStart.h"

#include "unattended/CommandLine.h"
#include "unattended/RestartSequence.h"
#include "unattended/RunOutcome.h"

namespace {

// Where the lines of a run go when no log file could be opened.
class NoLog : public LogSink {
  public:
    void WriteLine(const std::string&) override {}
};

}  // namespace

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
        log = platform.OpenLog(plan.logPath);
        // The reason then goes into the default log, where one opens.
        if (log == nullptr && refusal.empty()) refusal = "Cannot open the log " + plan.logPath;
    }
    const std::string temp = platform.TempFolder();
    if (log == nullptr && !temp.empty()) log = platform.OpenLog(PathInFolder(temp, DefaultLogName));
    if (log == nullptr) log.reset(new NoLog);

    RunSeams seams = platform.Seams(plan, *log);
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
