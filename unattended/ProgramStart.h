#pragma once

#include <memory>
#include <string>

#include "payload/FirmwarePayload.h"
#include "unattended/RunLog.h"
#include "unattended/UnattendedPlan.h"
#include "unattended/UnattendedRun.h"

// The start of the Windows program: its command line chooses the window, the
// usage or an unattended run, and only one copy at a time reaches the drives.

constexpr char AlreadyRunningText[] =
    "Another copy of the Flash Upgrade Program is already running.";
constexpr char DefaultLogName[] = "FlashUpgrade.log";

// The default log lies in the TEMP folder, which for a run started as SYSTEM
// (a software-distribution system's account) is the Windows folder's Temp,
// where every user may create files. On the NT family another user could
// plant a link there: a hard link to another file, or a reparse point (a
// symbolic link, a mount point). Such a file is never written: the run
// writes a new log beside it, FlashUpgrade-2.log, then -3, ... (always
// created anew, so none of them can be planted either) and says in its
// first line which file was refused and why. Windows 95/98 have neither
// kind of link and keep the old way: FlashUpgrade.log, or no log.
constexpr int MaxLogCandidates = 100;
// The n-th candidate (from 1): DefaultLogName, then "FlashUpgrade-n.log".
std::string DefaultLogFileName(int attempt);

// A log file as the platform opened it, or why it did not.
struct LogOpening {
    enum class Outcome { Opened, Failed, ReparsePoint, HardLinks };
    Outcome outcome = Outcome::Failed;
    std::unique_ptr<LogSink> sink;  // when Opened
    unsigned long count = 0;        // the error code (Failed), the links (HardLinks)
};
// Why a file was not opened as the log, in the log's words: "it has 2 hard
// links (another name leads to the same file)".
std::string LogRefusalText(const LogOpening& opening);

// The mark a running copy holds is a named mutex. Windows 2000 and later
// keep named objects per terminal session; a "Global\" name is seen by the
// copies of every session and user, which all reach the same drives.
// Windows NT 4.0 has no such namespace (only its Terminal Server edition
// does): a backslash there names a folder of the object namespace that does
// not exist, and the creation fails; Windows 95/98 document no backslash in
// these names either. So the global name is tried first and the plain name,
// machine-wide on those systems, where the global one is not accepted. The
// choice follows what the system accepts rather than the version it
// reports, which a compatibility setting (or Wine, per program) can change
// for one copy and not another.
constexpr const char* SingleCopyNames[] = {"Global\\FlashUpgradeProgram", "FlashUpgradeProgram"};

// name in folder, with one backslash between them; a folder written as a
// bare drive ("C:") stays relative to that drive's current folder.
std::string PathInFolder(const std::string& folder, const std::string& name);

// What the start needs of the platform.
class ProgramStartPlatform {
  public:
    virtual ~ProgramStartPlatform() = default;
    // Modal message box with an OK button and no owner window.
    virtual void ShowMessage(const char* text, const char* caption) = 0;
    // From here on the run is silent: the system shows none of its own
    // error boxes either (a drive without a disk, a library that will not
    // load, a crash).
    virtual void QuietSystemErrors() = 0;
    // The folder for temporary files as the system names it; empty when it
    // does not say.
    virtual std::string TempFolder() = 0;
    // Whether a file may be a link (the NT family): a file is then opened
    // without following a reparse point, and one that is a reparse point or
    // has more than one hard link is closed again, unwritten.
    virtual bool FilesMayBeLinks() = 0;
    // The file opened for appending lines: a new one, or with existing
    // also one that exists.
    virtual LogOpening OpenLog(const std::string& path, bool existing) = 0;
    // Creates the named mutex of the running copy and keeps it until the
    // program ends.
    enum class Mark { Taken, HeldByAnother, NotAccepted };
    virtual Mark CreateMark(const char* name) = 0;
    // The program as without switches: the window. Returns the exit code.
    virtual int RunDialog() = 0;
    // The seams of an unattended run of plan, its lines going to log.
    virtual RunSeams Seams(const UnattendedPlan& plan, LogSink& log) = 0;
};

// Takes the mark under the first name the system accepts; false when
// another copy holds it. Where no name is accepted the program goes on.
bool TakeSingleCopy(ProgramStartPlatform& platform);

// Reads the command line and does what it asks; returns the exit code.
//   - no switches: the window, once the mark is taken; a second copy shows
//     AlreadyRunningText and ends with 1618 without looking for drives;
//   - /? or /HELP: the usage in a message box, 0;
//   - /S or /LIST: no window, no message box. The log is /LOG's file or
//     DefaultLogName in the temporary folder. A /LOG that cannot be opened
//     (or is refused as a link) refuses the run (87) before any drive is
//     touched. A default log that cannot be opened or is refused gives way
//     to the next candidate where files may be links, and leaves the run
//     without a log elsewhere; refused switches end with 87, a second copy
//     with 1618, each logged where a log opens.
int StartProgram(const std::string& commandLine, const FirmwarePayload& payload,
                 ProgramStartPlatform& platform);
