#pragma once

#include <string>

#include "unattended/RunFeedback.h"
#include "unattended/UnattendedRun.h"

// The steps of a run on one drive: whether the plan chose it, whether it is
// written, its backup and its upgrade.

// Whether the plan's drive choice names this drive.
bool IsChosen(const DriveChoice& choice, int position, const DeviceRecord& drive,
              DriveBackend& backend);

// Whether a drive that passed the guard (or was forced) is written, with
// the plan's action: a drive that carries this firmware already is not,
// unless the plan reinstalls. Says so when the drive is left alone, written
// again, or cannot be judged; logs the verdict otherwise.
bool DecideWrite(const FoundDrive& drive, const UnattendedPlan& plan, LoggingFeedback& feedback);

// What became of the steps on one drive: whether they were done (the drive
// written, or its flash read and compared), whether a failure was one of a
// drive in use, and whether the flash read differs from the image.
struct DriveResult {
    bool done;
    bool inUse;
    bool differs = false;
};

// The backup when the plan asks for it, then the write of the source's
// image, each between the observer's start and end; after a failure, the
// back-end's explanation.
DriveResult BackUpAndUpgrade(const FoundDrive& drive, const UnattendedPlan& plan,
                             DeviceAccess& device, const FirmwareSource& source, RunSeams& seams,
                             LoggingFeedback& feedback);

// The Save plan's read-out of the drive into plan.savePath, with its record
// (RecordPathFor) beside it: the record in place whole just before the file
// takes its name, and removed again when the file then cannot.
bool SaveDrive(const FoundDrive& drive, const UnattendedPlan& plan, DeviceAccess& device,
               RunSeams& seams, LoggingFeedback& feedback);

// Reads the drive's flash and compares it with the source's image; says
// whether it is equal, or where it differs and in how many chunks.
DriveResult VerifyDrive(const FoundDrive& drive, DeviceAccess& device, const FirmwareSource& source,
                        RunSeams& seams, LoggingFeedback& feedback);

// Why a drive's operation failed, when the back-end can tell: said to the
// user with what to do. True when the drive was in use.
bool ExplainFailure(DriveBackend& backend, LoggingFeedback& feedback);

// Runs one step on a drive between the observer's start and end calls.
template <typename Step>
bool RunStepOn(RunObserver* observer, const FoundDrive& drive, RunStep step, Step run) {
    if (observer) observer->StepStarted(drive, step);
    const bool done = run();
    if (observer) observer->StepEnded(drive, step, done);
    return done;
}
