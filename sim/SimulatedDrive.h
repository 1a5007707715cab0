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

// Fixed-format sense data, as long as the drive sends it.
constexpr size_t SimSenseLength = 18;

// Whether a command meets a pending unit attention (and takes it) or runs
// as usual: INQUIRY, GET CONFIGURATION and GET EVENT STATUS NOTIFICATION
// run, as on a real drive, so that the system's media polling does not take
// it; every other command takes it.
constexpr uint8_t OpGetConfiguration = 0x46;
constexpr uint8_t OpGetEventStatusNotification = 0x4A;
bool ReportsUnitAttention(uint8_t opcode);

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
    // The flash holds flashSizeKb * 1024 bytes (DefaultFlashSize(chipCode)
    // when 0), all of them flashFill at power-on; Flash() can change them.
    uint8_t flashFill = 0xFF;
    // At or above 0: the inquiry revision is the four flash bytes at this
    // offset, as a drive reports the revision of the firmware it holds (the
    // simulator at once after the commit, a real drive after a power cycle).
    int32_t revisionAt = -1;
};

// A fault that hits the commands at one flash position K times, then stops.
struct SimFault {
    enum Kind {
        FailWrite,
        FailReadBack,
        CorruptReadBack,
        FailFlashRead,
        Reset,
        SilentReset,
        ResetBeforeCommit
    } kind;
    uint32_t position;  // byte position: buffer id << 16 | offset
    int times;          // below 0: every time
};
// FailWrite: WRITE BUFFER mode 7 refused, nothing stored.
// FailReadBack: READ BUFFER mode 2 refused.
// CorruptReadBack: READ BUFFER mode 2 completes, but the byte at position
//   comes back inverted.
// FailFlashRead: READ BUFFER mode 1 with control byte 1 refused.
// Reset: after a READ BUFFER mode 2 completed, the drive is reset, as by a
//   bus reset or a power dip: its download buffer is erased, and its next
//   command (any that ReportsUnitAttention) ends in CHECK CONDITION with
//   UNIT ATTENTION 29h/00h without being executed, once. "After the third chunk" is a
//   reset at position 0x8000: after that chunk was read back.
// SilentReset: the same, but someone else took the unit attention: the
//   buffer is erased and nothing is said.
// ResetBeforeCommit: the drive is reset just before a commit arrives (the
//   position is not used): the download is erased and the commit itself
//   ends in that unit attention, not executed.
// A fault hits every such command whose transfer covers its position.

// One command as the drive received it, for the record of a run.
struct SimLogEntry {
    std::vector<uint8_t> cdb;
    DataDirection direction;
    uint32_t dataLength;
    SimOutcome outcome;
    std::string note;  // why the drive refused, or which fault it played
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
    // Where WRITE BUFFER mode 7 puts its data (all 0xFF at power-on); the
    // commit copies it into the flash.
    const std::vector<uint8_t>& DownloadBuffer() const { return downloadBuffer_; }

    void AddFault(const SimFault& fault) { faults_.push_back(fault); }
    void SetCommitFails(bool fails) { commitFails_ = fails; }
    // A vanished drive answers nothing at all.
    void SetVanished(bool vanished) { vanished_ = vanished; }
    // Commands complete only after this many milliseconds. The drive only
    // keeps the value: the carriers use it to deliver the completion late,
    // from another thread.
    void SetCompletionDelayMs(unsigned ms) { completionDelayMs_ = ms; }
    unsigned CompletionDelayMs() const { return completionDelayMs_; }

    // The sense data of the last command that ended in CHECK CONDITION
    // (SimSenseLength bytes, fixed format): for a reset UNIT ATTENTION
    // 29h/00h; for an injected fault HARDWARE ERROR 44h; for an unknown
    // command ILLEGAL REQUEST 20h; for anything else refused ILLEGAL
    // REQUEST 24h. Every carrier hands it on as far as its sense buffer
    // reaches.
    const uint8_t* Sense() const { return sense_; }
    // A reset happened that no command has been told of yet.
    bool UnitAttentionPending() const { return unitAttention_; }

    bool Committed() const { return commitCount_ > 0; }
    int CommitCount() const { return commitCount_; }
    const std::vector<SimLogEntry>& Log() const { return log_; }
    // The log as readable lines ("WRITE BUFFER mode 7 id 1 offset 0x4000
    // length 0x4000: good").
    std::string LogText() const;

  private:
    SimOutcome Run(const uint8_t* cdb, size_t cdbLength, DataDirection direction, uint8_t* data,
                   uint32_t dataLength, std::string& note);
    SimOutcome Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t dataLength, std::string& note);
    SimOutcome ReadBuffer(const uint8_t* cdb, uint8_t* data, uint32_t dataLength,
                          std::string& note);
    SimOutcome WriteBuffer(const uint8_t* cdb, const uint8_t* data, uint32_t dataLength,
                           std::string& note);
    // Consumes one hit of the first live fault of kind whose position lies in
    // [position, position + length); returns it, or null.
    const SimFault* TakeFault(SimFault::Kind kind, uint32_t position, uint32_t length);
    // Plays a Reset or SilentReset fault that hits [position, position + length).
    void ResetIfFaulted(uint32_t position, uint32_t length, std::string& note);

    SimDriveIdentity identity_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> downloadBuffer_;
    std::vector<SimFault> faults_;
    std::vector<SimLogEntry> log_;
    uint8_t sense_[SimSenseLength] = {};
    bool unitAttention_ = false;
    bool commitFails_ = false;
    bool vanished_ = false;
    unsigned completionDelayMs_ = 0;
    int commitCount_ = 0;
};
