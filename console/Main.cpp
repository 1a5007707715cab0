// flash-upgrade: the console program. It reads the options into a plan,
// takes the one-copy lock and hands the plan to the same run the Windows
// program's silent mode makes, with the Linux seams around it.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/ConsoleJson.h"
#include "console/ConsoleOptions.h"
#include "console/ConsoleReport.h"
#include "console/LinuxPower.h"
#include "console/LinuxSeams.h"
#include "console/LinuxSourceFiles.h"
#include "console/LogindStayAwake.h"

namespace {

// The product's version, the one the Windows program's title shows.
const char ProgramVersion[] = "1.58";

int Refuse(const std::string& why) {
    if (!why.empty()) std::fprintf(stderr, "flash-upgrade: %s\n", why.c_str());
    std::fprintf(stderr, "Try 'flash-upgrade --help' for more information.\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    const ConsoleOptions options = ParseConsoleOptions(argc, argv);
    const UnattendedPlan& plan = options.plan;
    if (options.refused) return Refuse(options.error);
    const FirmwarePayload payload = FirmwarePayload::Program();
    if (plan.action == PlanAction::Help) {
        std::fputs(ConsoleUsageText, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("flash-upgrade %s\n", ProgramVersion);
        return 0;
    }

    FileLogSink log;
    if (plan.hasLog && !log.Open(plan.logPath)) {
        return Refuse("cannot open the log " + plan.logPath + ": " + log.Refusal());
    }
    LocalClock clock;
    SgIoBackend backend;
    DirectoryBackupFolder backup(plan.backupFolder);
    ReplacingSaveFile saveFile;
    const bool upgrade = plan.action == PlanAction::Upgrade;
    const bool table = plan.action == PlanAction::List || plan.action == PlanAction::Check;
    ConsoleReport report(payload, table && !options.json, isatty(STDERR_FILENO) != 0,
                         upgrade && !options.yes, plan.restorePath);
    JsonReport json(payload, plan, report, report);
    SysfsPowerProbe power;
    RunSeams seams{backend,
                   log,
                   clock,
                   plan.hasBackup ? &backup : nullptr,
                   nullptr,
                   0,
                   0,
                   PauseMilliseconds,
                   LinuxExitCode,
                   ProgramVersion,
                   options.json ? static_cast<OperatorFeedback*>(&json) : &report,
                   options.json ? static_cast<RunObserver*>(&json) : &report,
                   &saveFile,
                   &power,
                   LinuxOutcomeText};
    LogindStayAwake awake;
    seams.awake = &awake;
    // From the confirmation on, a drive may be half written: an interrupt, a
    // closed terminal or a closed pipe must not end the program.
    BlockedSignals signals;
    seams.signals = &signals;
    LinuxSourceFiles sourceFiles;
    seams.files = &sourceFiles;
    seams.programName = "flash-upgrade";
    seams.recordLineEnd = "\n";
    // The exit status of a run that got this far; with --json the document
    // goes out first.
    auto end = [&](RunOutcome outcome) {
        const int code = LinuxExitCode(outcome);
        if (options.json) std::fputs(json.Document(outcome, code).c_str(), stdout);
        return code;
    };

    if (upgrade && !options.yes && !isatty(STDIN_FILENO)) {
        const std::string why =
            std::string(plan.hasRestore ? "--restore" : "--upgrade") +
            " asks before it writes, and there is no terminal to ask at: add --yes";
        const RunOutcome outcome = EndBeforeRun(plan.switchText, why, RunOutcome::BadUsage, seams);
        Refuse(why);
        return end(outcome);
    }
    OneCopyLock lock;
    const OneCopyLock::Result locked = lock.Take();
    if (locked == OneCopyLock::Result::HeldElsewhere) {
        const std::string why =
            "another copy of flash-upgrade is running (it holds " + lock.Path() + ")";
        std::fprintf(stderr, "flash-upgrade: %s\n", why.c_str());
        return end(EndBeforeRun(plan.switchText, why, RunOutcome::AlreadyRunning, seams));
    }
    if (locked == OneCopyLock::Result::Unusable) {
        // Whatever stands in the lock's way is said, and stops nothing.
        std::fprintf(stderr, "flash-upgrade: %s\n", lock.Notice().c_str());
        RunLog(log, clock).Line(lock.Notice());
    }
    return end(RunUnattended(plan, payload, seams));
}
