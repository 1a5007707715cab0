#pragma once

// How an unattended run ended, and the exit code each platform reports for
// it, in the conventions its deployment tools read.
enum class RunOutcome {
    Listed,          // the drives were listed; nothing written
    Help,            // the usage was shown
    Upgraded,        // every selected drive upgraded; the new firmware needs a restart
    Restarted,       // the same, and the restart has been started
    Failed,          // a drive or the back-end failed; the log says which and why
    NoDrive,         // no drive that this firmware is for
    BadPayload,      // unfilled payload or checksum mismatch; nothing was sent
    BadUsage,        // unknown switch or bad value; no drive was touched
    AlreadyRunning,  // another copy of the program is running
    // The console program's outcomes; the Windows program never ends so.
    Saved,       // the chosen drive's flash is in the file
    DriveInUse,  // every drive that failed was in use (mounted, opened by another program)
    Declined,    // the operator did not confirm the writes; nothing written
    // Runs that are repeated by deployment tools.
    UpToDate,       // every selected drive carries this firmware already; nothing written
    UpgradeNeeded,  // the check: at least one drive would be written
    OnBattery,      // the machine runs on its battery: nothing written, try again later
    // Restore and verify.
    Verified,        // every drive the image is for holds exactly it
    Differs,         // the flash of at least one drive differs from the image
    BadRestoreFile,  // the backup to put back (or to compare with) is refused; nothing sent
};

// 0, 3010, 1641, 1603, 2, 13, 87, 1618 (and 0, 1603, 1602); up to date 0,
// upgrade needed 1, on battery 1237 (ERROR_RETRY: "a retry should be
// performed", which deployment engines can be told to retry on); verified
// 0, differs 1, a refused backup file 13 as a bad payload.
int WindowsExitCode(RunOutcome outcome);
// 0 success, 1 failed (or declined, or the check found a drive to write),
// 2 bad usage, 3 no drive, 4 bad payload, 5 another copy is running or the
// drive is in use, 75 on battery (EX_TEMPFAIL: try again later); verified 0,
// differs 1, a refused backup file 4 as a bad payload.
int LinuxExitCode(RunOutcome outcome);
// A few words for the log's last line ("upgraded, restart needed"), as the
// Windows program and the console program put them.
const char* OutcomeText(RunOutcome outcome);
const char* LinuxOutcomeText(RunOutcome outcome);
