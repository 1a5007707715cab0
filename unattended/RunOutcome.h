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
};

// 0, 3010, 1641, 1603, 2, 13, 87, 1618 (and 0, 1603, 1602).
int WindowsExitCode(RunOutcome outcome);
// 0 success, 1 failed (or declined), 2 bad usage, 3 no drive, 4 bad payload,
// 5 another copy is running or the drive is in use.
int LinuxExitCode(RunOutcome outcome);
// A few words for the log's last line ("upgraded, restart needed").
const char* OutcomeText(RunOutcome outcome);
