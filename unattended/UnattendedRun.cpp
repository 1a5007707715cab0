#include "unattended/UnattendedRun.h"

#include <algorithm>
#include <vector>

#include "device/DeviceList.h"
#include "flash/FormatText.h"
#include "flash/OperationReport.h"
#include "flash/SaveFlashToFile.h"
#include "unattended/DriveSteps.h"
#include "unattended/ModelGuard.h"
#include "unattended/RunFeedback.h"

namespace {

RunOutcome Finish(RunLog& log, RunSeams& seams, RunOutcome outcome) {
    log.Line(FormatText("Result: %s, exit code %d", seams.outcomeText(outcome),
                        seams.exitCode(outcome)));
    return outcome;
}

void LogStart(RunLog& log, RunSeams& seams, const std::string& switchText) {
    log.Line(FormatText("Flash Upgrade Program %s, switches: %s", seams.programVersion,
                        switchText.c_str()));
}

// How a run that wrote or read drives ended: a failure of a drive that was
// only in use counts as that, any other as a failure.
RunOutcome AfterDrives(int failures, int inUse, RunOutcome success) {
    if (failures == 0) return success;
    return failures == inUse ? RunOutcome::DriveInUse : RunOutcome::Failed;
}

}  // namespace

RunOutcome EndBeforeRun(const std::string& switchText, const std::string& reason,
                        RunOutcome outcome, RunSeams& seams) {
    RunLog log(seams.logSink, seams.clock);
    LogStart(log, seams, switchText);
    log.Line(reason);
    return Finish(log, seams, outcome);
}

RunOutcome RunUnattended(const UnattendedPlan& plan, const FirmwarePayload& payload,
                         RunSeams& seams) {
    RunLog log(seams.logSink, seams.clock);
    LogStart(log, seams, plan.switchText);
    const bool upgrade = plan.action == PlanAction::Upgrade;
    const bool check = plan.action == PlanAction::Check;
    const bool save = plan.action == PlanAction::Save;
    const bool list = plan.action == PlanAction::List;
    const bool verify = plan.action == PlanAction::Verify;
    // Upgrade and Check decide alike; only Upgrade writes.
    const bool decides = upgrade || check;
    if (!decides && !save && !list && !verify) return Finish(log, seams, RunOutcome::Help);
    LoggingFeedback feedback(log, seams.backend, seams.echo, seams.observer);
    // A line of the run, not of one drive, that the user should read too.
    auto say = [&](const std::string& text) {
        log.Line(text);
        if (seams.observer) seams.observer->Notice(text);
    };

    // What the run writes or compares with: the payload, or a backup file
    // read and checked before any drive is touched.
    const PayloadSource carried(payload);
    RestoreSource restore;
    if (plan.hasRestore && seams.files == nullptr) {
        say("Restore: cannot read files here");
        return Finish(log, seams, RunOutcome::BadUsage);
    }
    if (plan.hasRestore) restore.Load(plan.restorePath, plan.force, *seams.files);
    const FirmwareSource& source =
        plan.hasRestore ? static_cast<const FirmwareSource&>(restore) : carried;
    if (seams.observer) seams.observer->SourceRead(source);
    const std::string problem = source.Problem();
    if (!problem.empty() && (decides || verify)) {
        say(problem);
        return Finish(log, seams,
                      plan.hasRestore ? RunOutcome::BadRestoreFile : RunOutcome::BadPayload);
    }
    log.Line(problem.empty() ? source.Description() : problem);
    if (upgrade && plan.hasBackup && (seams.backup == nullptr || !seams.backup->Exists())) {
        say("Backup folder not found: " + plan.backupFolder);
        return Finish(log, seams, RunOutcome::BadUsage);
    }
    if (upgrade && plan.hasBackup) {
        for (const std::string& name : seams.backup->Leftovers())
            say("Backup folder: " + seams.backup->PathOf(name) +
                " is not a backup: a run that was stopped before its backup was whole left it "
                "there; remove it");
    }
    if (save && (seams.save == nullptr || plan.drive.kind == DriveChoice::All)) {
        say("Save: needs one chosen drive and a file");
        return Finish(log, seams, RunOutcome::BadUsage);
    }
    // The file and its record beside it: a file that would be its own
    // record is refused, and so is an existing file or record before any
    // drive is touched.
    const std::string savedRecord = RecordPathFor(plan.savePath);
    if (save && savedRecord == plan.savePath) {
        say("Save: " + plan.savePath + " would be its own record: give it another extension");
        return Finish(log, seams, RunOutcome::BadUsage);
    }
    for (const std::string& path : {plan.savePath, savedRecord}) {
        if (save && !plan.overwrite && seams.save->Exists(path)) {
            say("Save: " + SaveCancelledText(path));
            return Finish(log, seams, RunOutcome::Failed);
        }
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
    int targets = 0;  // chosen drives that pass the guard, or need not
    for (int position = 0; position < drives.Count(); ++position) {
        const DeviceRecord& drive = *drives.At(position);
        const std::string address = seams.backend.AddressOf(drive);
        log.Line(DriveLogText(position, address, drive));
        const bool chosen = IsChosen(plan.drive, position, drive, seams.backend);
        found.push_back(
            {position, address, drive, source.Judge(drive), chosen, source.UpToDate(drive), false});
        FoundDrive& entry = found.back();
        if (!chosen) continue;
        const GuardVerdict& verdict = entry.verdict;
        feedback.SetDrive(position);
        // A listing says beside the guard's verdict whether the drive is up to date.
        const std::string upToDate = list ? "; " + entry.upToDate.reason : "";
        if (verdict.passes) {
            feedback.Line("model guard passes: " + verdict.reason + upToDate);
        } else if (plan.force || save) {
            feedback.Line(std::string(save ? "model guard not needed to read: "
                                           : "model guard skipped (forced): ") +
                          verdict.reason);
        } else if (decides || verify) {
            feedback.Say("model guard refuses: " + verdict.reason);
        } else {
            feedback.Line("model guard refuses: " + verdict.reason + upToDate);
        }
        if (!verdict.passes && !plan.force && !save) continue;
        ++targets;
        entry.willWrite = decides && DecideWrite(entry, plan, feedback);
    }
    if (seams.observer) seams.observer->DrivesFound(found);

    const bool anyChosen =
        std::any_of(found.begin(), found.end(), [](auto& d) { return d.chosen; });
    if (!anyChosen && plan.drive.kind != DriveChoice::All) {
        say("The chosen drive was not found");
        return Finish(log, seams, RunOutcome::NoDrive);
    }
    if (list) return Finish(log, seams, RunOutcome::Listed);

    if (targets == 0) {
        say("No drive that this firmware is for");
        return Finish(log, seams, RunOutcome::NoDrive);
    }
    int failures = 0;
    int inUse = 0;
    if (save) {
        const FoundDrive& drive =
            *std::find_if(found.begin(), found.end(), [](auto& d) { return d.chosen; });
        feedback.SetDrive(drive.position);
        feedback.SetAnswer(plan.overwrite ? AnswerYes : AnswerNo);
        if (!RunStepOn(seams.observer, drive, RunStep::Save,
                       [&] { return SaveDrive(drive, plan, *device, seams, feedback); })) {
            ++failures;
            if (ExplainFailure(seams.backend, feedback)) ++inUse;
        }
        return Finish(log, seams, AfterDrives(failures, inUse, RunOutcome::Saved));
    }
    if (verify) {
        int differ = 0;
        for (const FoundDrive& drive : found) {
            if (!drive.chosen || (!drive.verdict.passes && !plan.force)) continue;
            const DriveResult result = VerifyDrive(drive, *device, source, seams, feedback);
            failures += !result.done;
            inUse += result.inUse;
            differ += result.differs;
        }
        const RunOutcome read = differ ? RunOutcome::Differs : RunOutcome::Verified;
        return Finish(log, seams, AfterDrives(failures, inUse, read));
    }

    std::vector<FoundDrive> writes;
    std::copy_if(found.begin(), found.end(), std::back_inserter(writes),
                 [](auto& d) { return d.willWrite; });
    if (writes.empty()) {
        log.Line("Every drive this firmware is for carries it already");
        return Finish(log, seams, RunOutcome::UpToDate);
    }
    if (check) return Finish(log, seams, RunOutcome::UpgradeNeeded);

    if (plan.ignorePower) {
        log.Line("power status: not asked (the power check is switched off)");
    } else if (seams.power != nullptr) {
        const PowerVerdict power = seams.power->Read();
        if (power.onBattery) {
            say(power.reason + ": nothing written, try again on mains power");
            return Finish(log, seams, RunOutcome::OnBattery);
        }
        log.Line(power.reason);
    }
    const std::string refusal = seams.backend.WriteRefusal();
    if (!refusal.empty()) {
        say(refusal);
        return Finish(log, seams, RunOutcome::Failed);
    }
    if (seams.observer && !seams.observer->ConfirmWrite(writes)) {
        log.Line("Not confirmed: nothing written");
        return Finish(log, seams, RunOutcome::Declined);
    }
    if (seams.signals) seams.signals->Hold();
    feedback.WatchSignals(seams.signals);

    for (const FoundDrive& drive : writes) {
        const DriveResult result = BackUpAndUpgrade(drive, plan, *device, source, seams, feedback);
        failures += !result.done;
        inUse += result.inUse;
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
