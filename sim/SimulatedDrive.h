#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/DriveCommands.h"

// A simulated ATAPI DVD-ROM drive that executes the packet commands the
// program sends: INQUIRY, TEST UNIT READY, READ BUFFER mode 1 (control byte
// 0: the identification block; control byte 1: the flash contents) and mode
// 2 (the downloaded buffer), WRITE BUFFER mode 7 (download with offsets and
// save) and mode 4 (commit). It carries no platform code: the ASPI and
// pass-through carriers hand it the CDB and the data buffer they took from a
// request block.

// What became of one command.
enum class SimOutcome {
    Good,            // completed, SCSI status 0
    CheckCondition,  // completed, SCSI status 2 (refused or failed)
    NoDevice,        // nothing answered at this address (the drive vanished)
};

struct SimDriveIdentity {
    uint8_t deviceType = 5;                  // inquiry byte 0
    std::string vendor = "SIMDRIVE";         // inquiry bytes 8..15, space-padded
    std::string product = "DVD-ROM SIM16X";  // inquiry bytes 16..31, space-padded
    std::string revision = "1.00";           // inquiry bytes 32..35, space-padded
    uint16_t signature = 0x1106;
    uint16_t chipCode = 0x3120;
    uint16_t versionMajor = 1;
    uint16_t versionMinor = 0;
    uint16_t flashSizeKb = 0x80;  // identification bytes 10..11
};

// A fault that hits the commands at one flash position K times, then stops.
struct SimFault {
    enum Kind { FailWrite, FailReadBack, CorruptReadBack, FailFlashRead } kind;
    uint32_t position;  // byte position: buffer id << 16 | offset
    int times;
};

// One command as the drive received it, for the record of a run.
struct SimLogEntry {
    std::vector<uint8_t> cdb;
    DataDirection direction;
    uint32_t dataLength;
    SimOutcome outcome;
};

class SimulatedDrive {
  public:
    explicit SimulatedDrive(SimDriveIdentity identity = {});

    // Runs one command. data points at dataLength bytes: filled by In
    // commands, read by Out commands; null when dataLength is 0.
    SimOutcome Execute(const uint8_t* cdb, size_t cdbLength, DataDirection direction, uint8_t* data,
                       uint32_t dataLength);

    const SimDriveIdentity& Identity() const { return identity_; }
    // The flash contents (size from the identification, or set here).
    std::vector<uint8_t>& Flash() { return flash_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }

    void AddFault(const SimFault& fault) { faults_.push_back(fault); }
    void SetCommitFails(bool fails) { commitFails_ = fails; }
    // A vanished drive answers nothing at all.
    void SetVanished(bool vanished) { vanished_ = vanished; }
    // Commands complete only after this many milliseconds (the carriers use
    // it to deliver the completion late, from another thread).
    void SetCompletionDelayMs(unsigned ms) { completionDelayMs_ = ms; }
    unsigned CompletionDelayMs() const { return completionDelayMs_; }

    bool Committed() const { return commitCount_ > 0; }
    int CommitCount() const { return commitCount_; }
    const std::vector<SimLogEntry>& Log() const { return log_; }
    // The log as readable lines ("WRITE BUFFER mode 7 id 1 offset 0x4000
    // length 0x4000: good").
    std::string LogText() const;

  private:
    SimDriveIdentity identity_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> downloadBuffer_;
    std::vector<SimFault> faults_;
    std::vector<SimLogEntry> log_;
    bool commitFails_ = false;
    bool vanished_ = false;
    unsigned completionDelayMs_ = 0;
    int commitCount_ = 0;
};
