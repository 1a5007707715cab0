#include "unattended/UnattendedRun.h"

#include <algorithm>
#include <vector>

#include "device/DeviceList.h"
#include "flash/DeviceSession.h"
#include "flash/FlashBuffer.h"
#include "flash/FormatText.h"
#include "flash/OperationReport.h"
#include "flash/SaveFlashToFile.h"
#include "unattended/BackupName.h"
#include "unattended/ModelGuard.h"

namespace {

// Names tried for one backup before the run gives up on it.
constexpr int MaxBackupCandidates = 100;

const char* StepName(ChunkStep step) {
    switch (step) {
        case ChunkStep::Write:
            return "write";
        case ChunkStep::ReadBack:
            return "read-back";
        case ChunkStep::Compare:
            return "compare";
        default:
            return "flash read";
    }
}

// Stands where the dialog stands for the flash operations: every status text
// and every failed attempt goes into the log, under the drive's position.
// No question is ever asked: each gets the run's answer (no, unless told).
class LoggingFeedback : public OperatorFeedback {
  public:
    LoggingFeedback(RunLog& log, DriveBackend& backend, OperatorFeedback* echo,
                    RunObserver* observer)
        : log_(log), backend_(backend), echo_(echo), observer_(observer) {}

    void SetDrive(int position) { prefix_ = FormatText("Drive %d: ", position); }
    void SetAnswer(int answer) { answer_ = answer; }
    void Line(const std::string& text) { log_.Line(prefix_ + text); }
    // A line the user should read as well.
    void Say(const std::string& text) {
        Line(text);
        if (observer_) observer_->Notice(prefix_ + text);
    }

    void SetStatusText(const std::string& text) override {
        Line("status: " + text);
        if (echo_) echo_->SetStatusText(text);
    }
    void SetProgress(int position) override {
        if (echo_) echo_->SetProgress(position);
    }
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string& text, const char*, MessageButtons) override {
        Line((answer_ == AnswerYes ? "answered yes: " : "not asked: ") + text);
        return answer_;
    }
    void ChunkAttemptFailed(uint32_t offset, ChunkStep step) override {
        const std::string detail = step == ChunkStep::Compare ? "" : backend_.LastCommandDetail();
        Line(FormatText("attempt at flash offset 0x%05X failed: %s", static_cast<unsigned>(offset),
                        StepName(step)) +
             (detail.empty() ? "" : " (" + detail + ")"));
        if (echo_) echo_->ChunkAttemptFailed(offset, step);
    }

  private:
    RunLog& log_;
    DriveBackend& backend_;
    OperatorFeedback* echo_;
    RunObserver* observer_;
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
    int RequestRestart(unsigned flags) override {
        log_.Line(FormatText("Restart: requested with flags 0x%X", flags));
        return platform_.RequestRestart(flags);
    }
    void ShowMessage(const char* text, const char*) override {
        log_.Line(std::string("Restart: ") + text);
        failed = true;
    }

  private:
    RestartPlatform& platform_;
    RunLog& log_;
};

bool IsChosen(const DriveChoice& choice, int position, const DeviceRecord& drive,
              DriveBackend& backend) {
    switch (choice.kind) {
        case DriveChoice::Position:
            return position == choice.position;
        case DriveChoice::Letter:
            // The back-ends write drive letters in upper case, as choices are.
            return drive.DriveLetter != 0 && drive.DriveLetter == choice.letter;
        case DriveChoice::AdapterTarget:
            return drive.DriveLetter == 0 && drive.AdapterId == choice.adapter &&
                   drive.TargetId == choice.target;
        case DriveChoice::Path:
            return backend.AddressOf(drive) == choice.path;
        default:
            return true;
    }
}

// Empty when the image may be written; otherwise why not.
std::string PayloadProblem(const FirmwarePayload& payload) {
    if (payload.IsPlaceholder()) return "unfilled (Need Combine firmware first !!)";
    const unsigned computed = ImageChecksum(payload.Image(), ImageSize);
    const unsigned stored = payload.StoredChecksum();
    if (computed == stored) return "";
    return FormatText("checksum does not match (%04X / %04X)", computed, stored);
}

RunOutcome Finish(RunLog& log, RunSeams& seams, RunOutcome outcome) {
    log.Line(FormatText("Result: %s, exit code %d", OutcomeText(outcome), seams.exitCode(outcome)));
    return outcome;
}

void LogStart(RunLog& log, RunSeams& seams, const std::string& switchText) {
    log.Line(FormatText("Flash Upgrade Program %s, switches: %s", seams.programVersion,
                        switchText.c_str()));
}

// Reads the drive's whole flash, as Save does, into a new file of the
// backup folder. A file that was begun but not finished is removed.
bool BackupDrive(const DeviceRecord& drive, DeviceAccess& device, BackupFolder& folder,
                 LoggingFeedback& feedback) {
    FlashBuffer buffer = AllocateFlashBuffer(drive.FlashSize);
    if (!buffer) {
        feedback.Say(std::string("backup: ") + WriteMemoryFailedText);
        return false;
    }
    DeviceSession session(device);
    if (!session.Open(drive)) {
        feedback.Say("backup: " + OpenDeviceFailedText(drive));
        return false;
    }
    const int read = ReadFlashImage(device, buffer.get(), feedback);
    session.Close();
    if (!read) {
        feedback.Say("backup: the flash could not be read");
        return false;
    }

    std::string name;
    BackupFolder::Created created = BackupFolder::Created::NameTaken;
    for (int attempt = 1;
         attempt <= MaxBackupCandidates && created == BackupFolder::Created::NameTaken; ++attempt) {
        name = BackupFileName(drive, attempt);
        created = folder.CreateNew(name);
    }
    const std::string path = folder.PathOf(name);
    if (created != BackupFolder::Created::Yes) {
        feedback.Say("backup: cannot create " + path);
        return false;
    }
    if (!folder.Write(buffer.get(), drive.FlashSize) || !folder.Close()) {
        folder.Remove();
        feedback.Say("backup: cannot write " + path + ", removed");
        return false;
    }
    feedback.Say(FormatText("backup written: %s (%u bytes)", path.c_str(),
                            static_cast<unsigned>(drive.FlashSize)));
    return true;
}

}  // namespace

RunOutcome EndBeforeRun(const std::string& switchText, const std::string& reason,
                        RunOutcome outcome, RunSeams& seams) {
    RunLog log(seams.logSink, seams.clock);
    LogStart(log, seams, switchText);
    log.Line(reason);
    return Finish(log, seams, outcome);
}

namespace {

// Why a drive's operation failed, when the back-end can tell: said to the
// user with what to do. True when the drive was in use.
bool ExplainFailure(DriveBackend& backend, LoggingFeedback& feedback) {
    const DriveFailure refusal = backend.ExplainLastFailure();
    if (!refusal.advice.empty()) feedback.Say(refusal.advice);
    return refusal.inUse;
}

// Runs one step on a drive between the observer's start and end calls.
template <typename Step>
bool RunStepOn(RunObserver* observer, const FoundDrive& drive, RunStep step, Step run) {
    if (observer) observer->StepStarted(drive, step);
    const bool done = run();
    if (observer) observer->StepEnded(drive, step, done);
    return done;
}

// How a run that wrote or read drives ended: a failure of a drive that was
// only in use counts as that, any other as a failure.
RunOutcome AfterDrives(int failures, int inUse, RunOutcome success) {
    if (failures == 0) return success;
    return failures == inUse ? RunOutcome::DriveInUse : RunOutcome::Failed;
}

}  // namespace

RunOutcome RunUnattended(const UnattendedPlan& plan, const FirmwarePayload& payload,
                         RunSeams& seams) {
    RunLog log(seams.logSink, seams.clock);
    LogStart(log, seams, plan.switchText);
    const bool upgrade = plan.action == PlanAction::Upgrade;
    const bool save = plan.action == PlanAction::Save;
    if (!upgrade && !save && plan.action != PlanAction::List) {
        return Finish(log, seams, RunOutcome::Help);
    }
    LoggingFeedback feedback(log, seams.backend, seams.echo, seams.observer);
    // A line of the run, not of one drive, that the user should read too.
    auto say = [&](const std::string& text) {
        log.Line(text);
        if (seams.observer) seams.observer->Notice(text);
    };

    const std::string problem = PayloadProblem(payload);
    if (!problem.empty()) {
        if (upgrade) {
            say("Payload: " + problem);
            return Finish(log, seams, RunOutcome::BadPayload);
        }
        log.Line("Payload: " + problem);
    } else {
        log.Line(FormatText("Payload: firmware %s for model %u, checksum %04X",
                            payload.Version().c_str(), static_cast<unsigned>(payload.ModelId()),
                            static_cast<unsigned>(payload.StoredChecksum())));
    }
    if (upgrade && plan.hasBackup && (seams.backup == nullptr || !seams.backup->Exists())) {
        say("Backup folder not found: " + plan.backupFolder);
        return Finish(log, seams, RunOutcome::BadUsage);
    }
    if (save && (seams.save == nullptr || plan.drive.kind == DriveChoice::All)) {
        say("Save: needs one chosen drive and a file");
        return Finish(log, seams, RunOutcome::BadUsage);
    }
    // An existing file is refused before any drive is touched.
    if (save && !plan.overwrite && seams.save->Exists(plan.savePath)) {
        say("Save: " + SaveCancelledText(plan.savePath));
        return Finish(log, seams, RunOutcome::Failed);
    }

    log.Line("Platform: " + seams.backend.Description());
    std::unique_ptr<DeviceAccess> device = seams.backend.Create();
    if (device == nullptr || device->Initialized == 0) {
        say("Back-end failed: " + seams.backend.FailureText());
        return Finish(log, seams, RunOutcome::Failed);
    }
    DeviceList drives;
    device->EnumerateDevices(drives);
    log.Line(FormatText("Drives found: %d", drives.Count()));
    for (const std::string& remark : seams.backend.EnumerationRemarks()) say(remark);

    std::vector<FoundDrive> found;
    std::vector<FoundDrive> targets;
    for (int position = 0; position < drives.Count(); ++position) {
        const DeviceRecord& drive = *drives.At(position);
        const std::string address = seams.backend.AddressOf(drive);
        log.Line(DriveLogText(position, address, drive));
        const bool chosen = IsChosen(plan.drive, position, drive, seams.backend);
        found.push_back({position, address, drive, JudgeDrive(payload.ModelId(), drive), chosen,
                         JudgeUpToDate(payload.ModelId(), payload.Version(), drive), false});
        if (!chosen) continue;
        const GuardVerdict& verdict = found.back().verdict;
        feedback.SetDrive(position);
        if (verdict.passes) {
            feedback.Line("model guard passes: " + verdict.reason);
        } else if (plan.force || save) {
            feedback.Line(std::string(save ? "model guard not needed to read: "
                                           : "model guard skipped (forced): ") +
                          verdict.reason);
        } else if (upgrade) {
            feedback.Say("model guard refuses: " + verdict.reason);
        } else {
            feedback.Line("model guard refuses: " + verdict.reason);
        }
        if (verdict.passes || plan.force || save) targets.push_back(found.back());
    }
    if (seams.observer) seams.observer->DrivesFound(found);

    const bool anyChosen =
        std::any_of(found.begin(), found.end(), [](auto& d) { return d.chosen; });
    if (!anyChosen && plan.drive.kind != DriveChoice::All) {
        say("The chosen drive was not found");
        return Finish(log, seams, RunOutcome::NoDrive);
    }
    if (plan.action == PlanAction::List) return Finish(log, seams, RunOutcome::Listed);

    if (targets.empty()) {
        say("No drive that this firmware is for");
        return Finish(log, seams, RunOutcome::NoDrive);
    }
    int failures = 0;
    int inUse = 0;
    if (save) {
        const FoundDrive& drive = targets.front();
        feedback.SetDrive(drive.position);
        feedback.SetAnswer(plan.overwrite ? AnswerYes : AnswerNo);
        if (!RunStepOn(seams.observer, drive, RunStep::Save, [&] {
                return SaveFlashToFile(drive.record, *device, plan.savePath, *seams.save, feedback);
            })) {
            ++failures;
            if (ExplainFailure(seams.backend, feedback)) ++inUse;
        }
        return Finish(log, seams, AfterDrives(failures, inUse, RunOutcome::Saved));
    }

    const std::string refusal = seams.backend.WriteRefusal();
    if (!refusal.empty()) {
        say(refusal);
        return Finish(log, seams, RunOutcome::Failed);
    }
    if (seams.observer && !seams.observer->ConfirmWrite(targets)) {
        log.Line("Not confirmed: nothing written");
        return Finish(log, seams, RunOutcome::Declined);
    }

    for (const FoundDrive& drive : targets) {
        feedback.SetDrive(drive.position);
        const bool backedUp =
            !plan.hasBackup || RunStepOn(seams.observer, drive, RunStep::Backup, [&] {
                return BackupDrive(drive.record, *device, *seams.backup, feedback);
            });
        const bool upgraded =
            backedUp && RunStepOn(seams.observer, drive, RunStep::Upgrade, [&] {
                return UpgradeFirmware(drive.record, *device, payload, feedback, seams.pause);
            });
        if (!backedUp) feedback.Say("not written: no backup");
        feedback.Line(upgraded ? "upgraded" : "not upgraded");
        if (upgraded) continue;
        ++failures;
        if (ExplainFailure(seams.backend, feedback)) ++inUse;
    }
    device.reset();

    const RunOutcome written = AfterDrives(failures, inUse, RunOutcome::Upgraded);
    if (written != RunOutcome::Upgraded || !plan.reboot) return Finish(log, seams, written);
    if (seams.restart == nullptr) {
        log.Line("Restart: not available here");
        return Finish(log, seams, RunOutcome::Failed);
    }
    LoggedRestart restart(*seams.restart, log);
    RestartWindowsWith(seams.platformId, seams.majorVersion, restart);
    return Finish(log, seams, restart.failed ? RunOutcome::Failed : RunOutcome::Restarted);
}
