#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceAccess.h"
#include "flash/OperatorFeedback.h"
#include "flash/OutputFile.h"
#include "flash/UpgradeFirmware.h"
#include "flash/VerifyFlash.h"
#include "payload/FirmwarePayload.h"
#include "unattended/FirmwareSource.h"
#include "unattended/ModelGuard.h"
#include "unattended/PowerGuard.h"
#include "unattended/RestartSequence.h"
#include "unattended/RunLog.h"
#include "unattended/RunOutcome.h"
#include "unattended/UnattendedPlan.h"
#include "unattended/UpToDate.h"

// Why an operation on a drive failed, as far as the back-end can tell, for
// someone who can do something about it.
struct DriveFailure {
    bool inUse = false;  // mounted, or held by another program
    std::string advice;  // empty: the back-end has nothing to add to the status text
};

// What a run needs to reach the drives of its platform.
class DriveBackend {
  public:
    virtual ~DriveBackend() = default;
    // Platform family and back-end, for the log.
    virtual std::string Description() = 0;
    // A new back-end; null, or one whose Initialized is 0, when it cannot
    // start.
    virtual std::unique_ptr<DeviceAccess> Create() = 0;
    // What the dialog shows when the back-end cannot start.
    virtual std::string FailureText() = 0;
    // A drive's address as the log writes it and a path choice names it.
    virtual std::string AddressOf(const DeviceRecord& drive) { return WindowsDriveAddress(drive); }
    // Why the last operation on a drive failed (the open refused, a command
    // the system would not pass); asked after each drive that failed.
    virtual DriveFailure ExplainLastFailure() { return {}; }
    // What became of the last command sent, for the log of a failed attempt
    // (statuses, sense data); empty when the back-end cannot say more.
    virtual std::string LastCommandDetail() { return {}; }
    // Empty when this process may write a drive's flash; otherwise why not
    // and what to do. Asked once, before anything is read or written.
    virtual std::string WriteRefusal() { return {}; }
    // What the user should know about the enumeration (device nodes it could
    // not open, and why).
    virtual std::vector<std::string> EnumerationRemarks() { return {}; }
};

// A file of the backup folder that is written under a temporary name (one
// no backup ever gets) and takes its final name only once it is whole and on
// the disk: a backup's name never holds less than a whole backup, whenever
// the program, the machine or the drive stops.
class StagedFile {
  public:
    enum class Named { Yes, NameTaken, Failed };

    // Deletes the temporary unless it was given its final name.
    virtual ~StagedFile() = default;
    // Writes all of data at the end of the file; a short write fails.
    virtual bool Write(const uint8_t* data, uint32_t length) = 0;
    // Puts what was written on the disk and closes the file; false when it
    // may be lost.
    virtual bool Flush() = 0;
    // Gives the flushed file the final name in the folder, and puts that on
    // the disk too. Nothing is ever replaced: NameTaken when anything (a
    // file, a link) has that name already.
    virtual Named Name(const std::string& name) = 0;
    // Takes the final name away again: the file is its temporary once more
    // (a file named beside a backup whose own name turned out taken). False
    // when it cannot be.
    virtual bool Unname() = 0;
};

// The folder backups go to. Further files may be staged beside a backup and
// named before it (the backup is named last): its record.
class BackupFolder {
  public:
    virtual ~BackupFolder() = default;
    virtual bool Exists() = 0;
    // The full path of the file of this name in the folder, for the log.
    virtual std::string PathOf(const std::string& name) = 0;
    // The temporaries (IsBackupTemporary) the folder holds: what runs that
    // were stopped before their backup was whole left there.
    virtual std::vector<std::string> Leftovers() = 0;
    // Whether anything (a file, a link, a folder) has this name in the folder.
    virtual bool Taken(const std::string& name) = 0;
    // A new temporary file, created under a BackupTemporaryName that nothing
    // has yet, and named in temporary; null when none can be created
    // (temporary then names the last one tried).
    virtual std::unique_ptr<StagedFile> Stage(std::string& temporary) = 0;
};

// The file a Save plan writes, through SaveFlashToFile.
class SaveTarget : public OutputFile {
  public:
    // Whether a file exists at path before the run touches anything.
    virtual bool Exists(const std::string& path) = 0;
    // Puts text at path the way the file itself is put there (whole and on
    // the disk before it takes the name): the saved flash's record, just
    // before the flash takes its name. False when it cannot.
    virtual bool WriteBeside(const std::string& path, const std::string& text) = 0;
    // Removes what WriteBeside put at path: the flash did not follow.
    virtual void RemoveBeside(const std::string& path) = 0;
};

// A drive the run found, with the model guard's verdict.
struct FoundDrive {
    int position;
    std::string address;
    DeviceRecord record;
    GuardVerdict verdict;
    bool chosen;  // the plan's drive choice names it
    UpToDateVerdict upToDate;
    bool willWrite;  // the run writes it (or, checking, would)
};

enum class RunStep { Backup, Upgrade, Save, Verify };

// What a console shows of a run beside its log. Nothing here is needed: each
// call does nothing (and confirms) unless the front-end says otherwise.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // Every found drive, in list order, once the back-end has listed them.
    virtual void DrivesFound(const std::vector<FoundDrive>&) {}
    // Before anything is sent for the upgrade: the drives about to be
    // written. False ends the run with nothing written.
    virtual bool ConfirmWrite(const std::vector<FoundDrive>&) { return true; }
    // The status texts, progress steps and failed attempts that follow
    // belong to this step on this drive, until it ends.
    virtual void StepStarted(const FoundDrive&, RunStep) {}
    virtual void StepEnded(const FoundDrive&, RunStep, bool /*succeeded*/) {}
    // A line of the log the user should read: a refusal, a failure and what
    // to do about it, a backup written.
    virtual void Notice(const std::string&) {}
    // The backup of a drive is complete in this file.
    virtual void BackupWritten(const FoundDrive&, const std::string& /*path*/) {}
    // What the run writes or compares with, once read (usable or not).
    virtual void SourceRead(const FirmwareSource&) {}
    // A drive's flash was read and compared with the image.
    virtual void Verified(const FoundDrive&, const FlashComparison&) {}
};

// The signals that would end the program (an interrupt, a hang-up, a
// termination, a closed pipe), held from the confirmation of a write to the
// end of the process: a drive left half written has no firmware.
class SignalHold {
  public:
    virtual ~SignalHold() = default;
    virtual void Hold() = 0;
    // Once, after a held signal arrived: the words for the user.
    virtual std::string Arrived() = 0;
};

// The platform around a run. backup is needed when the plan asks for
// backups, restart when it asks for the restart (Windows only).
struct RunSeams {
    DriveBackend& backend;
    LogSink& logSink;
    LogClock& clock;
    BackupFolder* backup;
    RestartPlatform* restart;
    uint32_t platformId;  // for the restart sequence
    uint32_t majorVersion;
    PauseFunction pause;  // the pause after the commit
    int (*exitCode)(RunOutcome);
    const char* programVersion;
    // Optional: also sees every status text, progress step and failed
    // attempt (a console's progress display).
    OperatorFeedback* echo;
    // Optional: the console's view of the run, and the file a Save plan
    // writes.
    RunObserver* observer = nullptr;
    SaveTarget* save = nullptr;
    // Optional: asked before the first write; without it no run is held
    // back for the battery.
    PowerProbe* power = nullptr;
    // The words of the log's last line.
    const char* (*outcomeText)(RunOutcome) = OutcomeText;
    // Optional: keeps the machine awake while a drive is written.
    StayAwake* awake = nullptr;
    // Optional: held once the writes are confirmed, asked at every step.
    SignalHold* signals = nullptr;
    // Needed when the plan puts a backup back (or compares with one).
    SourceFiles* files = nullptr;
    // The record beside each backup: the program's name in it, and its line
    // ends.
    const char* programName = "Flash Upgrade Program";
    const char* recordLineEnd = "\r\n";
};

// Runs an Upgrade, Check, List or Save plan to its end and logs every step:
// the payload check (an unusable payload reaches no drive), the back-end,
// the drives found, the guard's verdicts and whether each carries the
// firmware already; then, when a drive is left to write, the power status,
// and for each selected drive that passes and is not up to date (unless
// plan.reinstall), in list order, the backup when asked and the upgrade;
// then the restart when asked and every drive was upgraded. A Check plan
// stops before the power status: whether a drive would be written is its
// outcome. A Save plan reads the one chosen drive's flash into plan.savePath
// instead (any model; an existing file only with plan.overwrite). A Verify
// plan reads the flash of each selected drive that passes and compares it
// with the image. With plan.hasRestore a backup file (RestoreSource) takes
// the payload's place: its record decides the drives and whether each is up
// to date, and a refused file reaches no drive. The last line holds the
// outcome and its exit code.
RunOutcome RunUnattended(const UnattendedPlan& plan, const FirmwarePayload& payload,
                         RunSeams& seams);

// A run that ends before it starts (refused switches, another copy
// running): logs the switches, why, and the outcome with its exit code.
RunOutcome EndBeforeRun(const std::string& switchText, const std::string& reason,
                        RunOutcome outcome, RunSeams& seams);
