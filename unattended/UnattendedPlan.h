#pragma once

#include <cstdint>
#include <string>

// What one run of the program is to do, as its command line asked. The
// Windows program reads it from its switches, the console program from its
// options; the run itself does not care which.

enum class PlanAction {
    Dialog,   // no switches: the main window, exactly as without this mode
    Upgrade,  // every selected drive that passes the model guard, in list order
    List,     // the found drives and the guard's verdicts into the log
    Help,     // the usage text
    Save,     // the chosen drive's whole flash into a file (the console program)
    Check,    // nothing written: whether an upgrade would write any drive
    Verify,   // nothing written: whether each drive's flash holds exactly the image
};

// Which found drives a run acts on.
struct DriveChoice {
    enum Kind {
        All,            // every found drive
        Position,       // the drive at list position `position`, from 0
        Letter,         // the drive of drive letter `letter` (NT family)
        AdapterTarget,  // the drive at `adapter`:`target` (Windows 95/98)
        Path,           // the drive whose address the back-end writes as `path`
    } kind = All;
    int position = 0;
    char letter = 0;  // upper case
    uint8_t adapter = 0;
    uint8_t target = 0;
    std::string path;
};

struct UnattendedPlan {
    PlanAction action = PlanAction::Dialog;
    DriveChoice drive;
    bool hasLog = false;
    std::string logPath;  // when hasLog
    bool hasBackup = false;
    std::string backupFolder;  // when hasBackup
    bool reboot = false;
    bool force = false;
    bool reinstall = false;    // write drives that carry this firmware already
    bool ignorePower = false;  // write on battery too
    std::string savePath;      // when Save
    // Upgrade and Verify: a backup file instead of the payload's image.
    bool hasRestore = false;
    std::string restorePath;  // when hasRestore
    bool overwrite = false;   // Save may replace an existing file
    // The switches as given, for the log.
    std::string switchText;
};
