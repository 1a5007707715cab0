#include "unattended/DriveSteps.h"

#include "flash/DeviceSession.h"
#include "flash/FlashBuffer.h"
#include "flash/FormatText.h"
#include "flash/OperationReport.h"
#include "flash/SaveFlashToFile.h"
#include "unattended/BackupName.h"
#include "unattended/BackupRecord.h"

namespace {

// The record of a backup read from drive, as this run writes it.
std::string RecordText(const DeviceRecord& drive, const uint8_t* flash, uint32_t size,
                       RunSeams& seams) {
    return FormatBackupRecord(
        RecordOfBackup(drive, flash, size, seams.clock.Now(),
                       std::string(seams.programName) + " " + seams.programVersion),
        seams.recordLineEnd);
}

// A new temporary in the folder holding data, flushed; null (and said) when
// it cannot be made whole.
std::unique_ptr<StagedFile> StageWhole(BackupFolder& folder, const void* data, uint32_t length,
                                       LoggingFeedback& feedback) {
    std::string temporary;
    std::unique_ptr<StagedFile> file = folder.Stage(temporary);
    if (file == nullptr) {
        feedback.Say("backup: cannot create " + folder.PathOf(temporary));
        return nullptr;
    }
    if (!file->Write(static_cast<const uint8_t*>(data), length) || !file->Flush()) {
        feedback.Say("backup: cannot write " + folder.PathOf(temporary) + ", removed");
        return nullptr;
    }
    return file;
}

// Reads the drive's whole flash, as Save does, and writes it into the backup
// folder with its record: both whole and on the disk under temporary names
// first, then the record under its own name, the backup last, so that a stop
// at any moment leaves no name of a backup on less than a whole one, and
// none without its record. path is the backup's. Temporaries that were begun
// but not named are removed.
bool BackupDrive(const DeviceRecord& drive, DeviceAccess& device, RunSeams& seams,
                 LoggingFeedback& feedback, std::string& path) {
    BackupFolder& folder = *seams.backup;
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

    const std::string record = RecordText(drive, buffer.get(), drive.FlashSize, seams);
    std::unique_ptr<StagedFile> file = StageWhole(folder, buffer.get(), drive.FlashSize, feedback);
    std::unique_ptr<StagedFile> recordFile =
        file ? StageWhole(folder, record.data(), static_cast<uint32_t>(record.size()), feedback)
             : nullptr;
    if (recordFile == nullptr) return false;
    // A candidate is free when neither it nor its record's name is taken (a
    // backup of an older run may stand without a record). The names are
    // chosen as the files take them, which never replaces: a name taken
    // meanwhile is passed over as well, and the record gives its name back
    // when the backup's was.
    StagedFile::Named named = StagedFile::Named::NameTaken;
    for (int attempt = 1; attempt <= MaxBackupCandidates && named == StagedFile::Named::NameTaken;
         ++attempt) {
        const std::string name = BackupFileName(drive, attempt);
        path = folder.PathOf(name);
        if (folder.Taken(name)) continue;
        named = recordFile->Name(RecordPathFor(name));
        if (named != StagedFile::Named::Yes) continue;
        named = file->Name(name);
        if (named != StagedFile::Named::Yes && !recordFile->Unname()) {
            named = StagedFile::Named::Failed;
        }
    }
    if (named != StagedFile::Named::Yes) {
        feedback.Say("backup: cannot create " + path);
        return false;
    }
    feedback.Say(FormatText("backup written: %s (%u bytes)", path.c_str(),
                            static_cast<unsigned>(drive.FlashSize)));
    feedback.Line("record written: " + RecordPathFor(path));
    return true;
}

// The file a Save writes, with its record going into place just before it.
class RecordedSave : public OutputFile {
  public:
    RecordedSave(SaveTarget& target, const DeviceRecord& drive, const std::string& path,
                 RunSeams& seams)
        : target_(target), drive_(drive), record_(RecordPathFor(path)), seams_(seams) {}
    bool Open(const std::string& path) override { return target_.Open(path); }
    bool Length(uint64_t& length) override { return target_.Length(length); }
    bool Truncate() override { return target_.Truncate(); }
    bool Write(const uint8_t* data, uint32_t length) override {
        if (!target_.WriteBeside(record_, RecordText(drive_, data, length, seams_))) return false;
        if (target_.Write(data, length)) return true;
        target_.RemoveBeside(record_);
        return false;
    }
    void Close() override { target_.Close(); }

  private:
    SaveTarget& target_;
    const DeviceRecord& drive_;
    std::string record_;
    RunSeams& seams_;
};

}  // namespace

bool SaveDrive(const FoundDrive& drive, const UnattendedPlan& plan, DeviceAccess& device,
               RunSeams& seams, LoggingFeedback& feedback) {
    RecordedSave file(*seams.save, drive.record, plan.savePath, seams);
    return SaveFlashToFile(drive.record, device, plan.savePath, file, feedback);
}

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
        return BackupDrive(drive.record, device, seams, feedback, path);
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
