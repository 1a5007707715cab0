#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceAccess.h"
#include "flash/OperatorFeedback.h"
#include "flash/UpgradeFirmware.h"
#include "payload/FirmwarePayload.h"
#include "unattended/RestartSequence.h"
#include "unattended/RunLog.h"
#include "unattended/RunOutcome.h"
#include "unattended/UnattendedPlan.h"

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
};

// The folder backups go to. A file is only ever created anew: a name that is
// taken is reported as such and never opened.
class BackupFolder {
  public:
    enum class Created { Yes, NameTaken, Failed };

    virtual ~BackupFolder() = default;
    virtual bool Exists() = 0;
    // The full path of the file of this name in the folder, for the log.
    virtual std::string PathOf(const std::string& name) = 0;
    virtual Created CreateNew(const std::string& name) = 0;
    // Writes all of data to the file created last; a short write fails.
    virtual bool Write(const uint8_t* data, uint32_t length) = 0;
    // Closes the file created last; false when what was written may be lost.
    virtual bool Close() = 0;
    // Closes the file created last, if open, and deletes it.
    virtual void Remove() = 0;
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
};

// Runs an Upgrade or List plan to its end and logs every step: the payload
// check (an unusable payload reaches no drive), the back-end, the drives
// found, the guard's verdicts, then for each selected drive that passes, in
// list order, the backup when asked and the upgrade; then the restart when
// asked and every drive was upgraded. The last line holds the outcome and
// its exit code.
RunOutcome RunUnattended(const UnattendedPlan& plan, const FirmwarePayload& payload,
                         RunSeams& seams);

// A run that ends before it starts (refused switches, another copy
// running): logs the switches, why, and the outcome with its exit code.
RunOutcome EndBeforeRun(const std::string& switchText, const std::string& reason,
                        RunOutcome outcome, RunSeams& seams);
