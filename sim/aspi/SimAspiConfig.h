#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimulatedDrive.h"
#include "sim/aspi/SimAspiHost.h"

// The simulator's set-up read from a text file (format in
// docs/simulator.md): adapters and the drives on them (the ASPI simulator),
// drive letters and the drives behind them (the pass-through simulator),
// their faults, the flash they start with and where their flash is saved.
// The simulated Linux device nodes (sim/sgio) read the adapters too: an
// adapter is a SCSI host there, and a drive names the nodes that lead to it.

// A Linux device node of a drive, "/dev/sr0" or "/dev/sg1".
struct SimNodeSetup {
    std::string path;
    bool busy = false;    // an exclusive open fails with EBUSY, as on a mounted drive
    bool denied = false;  // every open fails with EACCES
};

struct SimDriveSetup {
    uint8_t target = 0;
    char letter = 0;          // behind a drive letter: the letter
    bool passThrough = true;  // no: the letter opens but refuses pass-through
    SimDriveIdentity identity;
    std::vector<SimFault> faults;
    bool commitFails = false;
    bool vanished = false;
    unsigned delayMs = 0;
    std::string flashFile;  // initial flash contents, read at start
    std::string saveFile;   // flash saved here after every commit and at the end
    std::vector<SimNodeSetup> nodes;
};

struct SimAdapterSetup {
    uint8_t inquiryStatus = SS_COMP;
    uint8_t maxTargets = 0;
    std::vector<SimDriveSetup> drives;
};

// What stops or interrupts the simulated drives' process, as a kill or a
// user's signal would: once, right after the count-th drive command (or,
// with fileStep, file step of the program) whose line holds text (any line
// when text is empty). Set up by "kill-after = command|file N [TEXT]" (the
// signal 9: the process ends at once) and "signal-after = SIGNAL command|file
// N [TEXT]".
struct SimProcessEvent {
    int signal = 9;
    bool fileStep = false;
    unsigned count = 0;
    std::string text;
};
// The signal of the event that one more command or file step with this line
// fires (0: none). Each event fires once.
int NextProcessEvent(std::vector<SimProcessEvent>& events, bool fileStep, const std::string& line);

struct SimAspiSetup {
    bool supportInfoSet = false;
    uint32_t supportInfo = 0;
    std::string logFile;  // every drive's command log, written at the end
    std::vector<SimAdapterSetup> adapters;
    bool scsiMapMissing = false;  // the registry's SCSI device map is absent
    std::vector<SimDriveSetup> letters;
    // Linux only: paths opened as other paths (FROM, TO), and whether the
    // process may send commands outside the kernel's safe list.
    std::vector<std::pair<std::string, std::string>> pathMaps;
    bool rawIo = true;
    // The machine's power as the system reports it: "battery", "mains",
    // "unknown" (the status cannot be read), "none" (no system battery);
    // empty: as the real system says (ntsimfwd.dll only).
    std::string power;
    std::vector<SimProcessEvent> processEvents;
    // ntsimfwd.dll: the program's GetProcAddress finds no
    // SetThreadExecutionState, as on Windows 95 and NT 4.0.
    bool noExecutionState = false;
    // libsgiosim.so: every drive command and file step the events count,
    // and the close of a FIFO, appended to this file as it happens.
    std::string traceFile;
};

// Parses text; on failure returns false with a message naming the line.
bool ParseSimAspiSetup(const std::string& text, SimAspiSetup& setup, std::string& error);

// Gives a drive the faults and behaviour of its set-up.
void ApplyDriveSetup(const SimDriveSetup& setup, SimulatedDrive& drive);
// Fills the flash from the set-up's flash file, if it names one; false with
// a message when the file cannot be read.
bool LoadFlashFile(const SimDriveSetup& setup, SimulatedDrive& drive, std::string& error);

// A host with its drives built from a set-up; owns the drives.
class SimAspiRig {
  public:
    explicit SimAspiRig(const SimAspiSetup& setup);

    // Reads the initial flash files; false with a message when one fails.
    bool LoadFlashFiles(std::string& error);
    // Saves the flash of every drive with a save file, and the log, which
    // starts with preamble.
    void SaveAll(const std::string& preamble = std::string());
    // Saves the flash of drive when a commit came since the last save; the
    // host calls it after every command.
    void AfterCommand(SimulatedDrive& drive);

    SimAspiHost& Host() { return host_; }
    SimulatedDrive& Drive(size_t index) { return *drives_.at(index).drive; }
    const SimDriveSetup& DriveSetup(size_t index) const { return drives_.at(index).setup; }
    uint8_t DriveAdapter(size_t index) const { return drives_.at(index).adapter; }
    size_t DriveCount() const { return drives_.size(); }

  private:
    struct Placed {
        std::unique_ptr<SimulatedDrive> drive;
        SimDriveSetup setup;
        uint8_t adapter;
        int savedCommits;
    };
    void SaveFlash(Placed& placed);

    SimAspiSetup setup_;
    SimAspiHost host_;
    std::vector<Placed> drives_;
};

// Whole-file helpers.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);
bool WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length);
