#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/passthrough/PassThroughPlatform.h"
#include "sim/SimulatedDrive.h"

// Plays the Windows side of the pass-through back-end: the SCSI device map
// in the registry, one drive device file per letter with a simulated drive
// behind it, and the pass-through control call, which reads the request
// block byte by byte as the port driver would. Everything the back-end asks
// for is recorded, so a test can read what went over the edge.
class SimPassThroughCarrier : public PassThroughPlatform {
  public:
    enum class Registry { Present, Missing, Unreadable };

    // One open of a device path.
    struct OpenCall {
        std::string path;
        uint32_t access;
        uint32_t shareMode;
        bool opened;
    };

    // One control call: the request as it arrived (inputSize bytes) and what
    // became of it.
    struct ControlCall {
        char letter;  // 0 when the handle named no open device file
        uint32_t code;
        uint32_t inputSize;
        uint32_t outputSize;
        std::vector<uint8_t> input;
        uint8_t* directData;
        bool succeeded;
        uint8_t scsiStatus;  // as returned in the block
    };

    SimPassThroughCarrier();
    ~SimPassThroughCarrier() override;

    // The SCSI device map: present with subkeys, missing, or present but its
    // information cannot be read.
    void SetRegistry(Registry registry, uint32_t subkeys = 1);
    void SetMajorVersion(uint32_t majorVersion) { majorVersion_ = majorVersion; }

    // A drive behind the device file of letter; owned by the carrier.
    SimulatedDrive& AddDrive(char letter, const SimDriveIdentity& identity = {});
    SimulatedDrive* Drive(char letter);
    // The device file of letter exists but refuses to be opened.
    void RefuseAccess(char letter);
    // The device file opens, but every pass-through call on it fails (as on
    // Wine, where drive letters are directories).
    void RefusePassThrough(char letter);
    // Commands on letter whose CDB starts with opcode come back with this
    // SCSI status, whatever the drive answered.
    void OverrideScsiStatus(char letter, uint8_t opcode, uint8_t status);

    const std::vector<OpenCall>& Opens() const { return opens_; }
    const std::vector<ControlCall>& Controls() const { return controls_; }
    // Letters of the device files closed so far, in order.
    const std::string& Closes() const { return closes_; }
    int OpenHandleCount() const { return static_cast<int>(handles_.size()); }
    // Closes of a handle that was not open.
    int StrayCloses() const { return strayCloses_; }
    void ClearRecord();

    bool ScsiSubkeyCount(uint32_t& count) override;
    uint32_t MajorVersion() override { return majorVersion_; }
    Handle OpenDevice(const char* path, uint32_t access, uint32_t shareMode) override;
    bool DeviceControl(Handle device, uint32_t code, uint8_t* block, uint32_t inputSize,
                       uint32_t outputSize, uint8_t* directData) override;
    void CloseDevice(Handle device) override;

  private:
    struct Letter {
        std::unique_ptr<SimulatedDrive> drive;
        bool refusesAccess = false;
        bool refusesPassThrough = false;
        std::map<uint8_t, uint8_t> statusOverrides;
    };

    bool Carry(Letter& letter, uint32_t code, uint8_t* block, uint32_t inputSize,
               uint32_t outputSize, uint8_t* directData);

    Registry registry_ = Registry::Present;
    uint32_t subkeys_ = 1;
    uint32_t majorVersion_ = 5;
    std::map<char, Letter> letters_;
    std::map<uintptr_t, char> handles_;
    uintptr_t nextHandle_ = 0x100;
    std::vector<OpenCall> opens_;
    std::vector<ControlCall> controls_;
    std::string closes_;
    int strayCloses_ = 0;
};
