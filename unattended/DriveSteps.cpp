#include "unattended/DriveSteps.h"

#include "flash/DeviceSession.h"
#include "flash/FlashBuffer.h"
#include "flash/FormatText.h"
#include "flash/OperationReport.h"
#include "flash/SaveFlashToFile.h"
#include "unattended/BackupName.h"

namespace {

// Names tried for one backup before the run gives up on it.
constexpr int MaxBackupCandidates = 100;

// Reads the drive's whole flash, as Save does, into a new file of the
// backup folder; path is the file's. A file that was begun but not
// finished is removed.
bool BackupDrive(const DeviceRecord& drive, DeviceAccess& device, BackupFolder& folder,
                 LoggingFeedback& feedback, std::string& path) {
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
    path = folder.PathOf(name);
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

bool DecideWrite(const FoundDrive& drive, const UnattendedPlan& plan, LoggingFeedback& feedback) {
    const bool check = plan.action == PlanAction::Check;
    const UpToDateVerdict& verdict = drive.upToDate;
    if (verdict.state == UpToDateVerdict::Differs) {
        feedback.Line(verdict.reason);
        return true;
    }
    if (verdict.state == UpToDateVerdict::CannotJudge) {
        feedback.Say(verdict.reason + (check ? "; would be written" : "; written as before"));
        return true;
    }
    if (plan.reinstall) {
        feedback.Say(verdict.reason + (check ? "; would be written again" : "; written again"));
        return true;
    }
    feedback.Say(verdict.reason + (check ? "; would not be written" : "; not written"));
    return false;
}

bool ExplainFailure(DriveBackend& backend, LoggingFeedback& feedback) {
    const DriveFailure refusal = backend.ExplainLastFailure();
    if (!refusal.advice.empty()) feedback.Say(refusal.advice);
    return refusal.inUse;
}

DriveResult BackUpAndUpgrade(const FoundDrive& drive, const UnattendedPlan& plan,
                             DeviceAccess& device, const FirmwareSource& source, RunSeams& seams,
                             LoggingFeedback& feedback) {
    feedback.SetDrive(drive.position);
    std::string path;
    const bool backedUp = !plan.hasBackup || RunStepOn(seams.observer, drive, RunStep::Backup, [&] {
        return BackupDrive(drive.record, device, *seams.backup, feedback, path);
    });
    if (plan.hasBackup && backedUp && seams.observer) seams.observer->BackupWritten(drive, path);
    const bool upgraded =
        backedUp && RunStepOn(seams.observer, drive, RunStep::Upgrade, [&] {
            return UpgradeFirmware(drive.record, device, source.Image(), source.Checksum(),
                                   feedback, seams.pause, seams.awake);
        });
    if (!backedUp) feedback.Say("not written: no backup");
    feedback.Line(upgraded ? "upgraded" : "not upgraded");
    if (upgraded) return {true, false};
    return {false, ExplainFailure(seams.backend, feedback)};
}

DriveResult VerifyDrive(const FoundDrive& drive, DeviceAccess& device, const FirmwareSource& source,
                        RunSeams& seams, LoggingFeedback& feedback) {
    feedback.SetDrive(drive.position);
    FlashComparison comparison;
    if (!RunStepOn(seams.observer, drive, RunStep::Verify, [&] {
            return VerifyFlash(drive.record, device, source.Image(), feedback, comparison);
        })) {
        feedback.Say("the flash could not be read");
        return {false, ExplainFailure(seams.backend, feedback)};
    }
    if (comparison.differingChunks == 0) {
        feedback.Say("the flash equals the image");
    } else {
        feedback.Say(
            FormatText("the flash differs from the image: first at offset 0x%05X, in %d "
                       "of %u chunks of 16 KB",
                       static_cast<unsigned>(comparison.firstDifference),
                       comparison.differingChunks, static_cast<unsigned>(ImageSize / ChunkSize)));
    }
    if (seams.observer) seams.observer->Verified(drive, comparison);
    return {true, false, comparison.differingChunks != 0};
}
