#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceAccess.h"
#include "device/sgio/SgIoNode.h"
#include "device/sgio/SgIoPlatform.h"
#include "device/sgio/SgIoRequest.h"

// Why a device node could not be opened. The back-end has no words of its
// own; the console program says what the user can do about each reason.
enum class SgIoOpenError {
    None,
    NoSuchNode,    // ENOENT, ENXIO, ENODEV: the drive is gone (or the record names no node)
    Busy,          // EBUSY: mounted, or held exclusively by another program
    NoPermission,  // EACCES, EPERM: the node's mode or the process's rights refuse it
    NotSameDrive,  // the node now leads to another SCSI address than when it was listed
    Other,         // any other errno
};

SgIoOpenError ClassifyOpenError(int error);

// A node that exists but refused to be opened for the enumeration.
struct SgIoRefusedNode {
    std::string path;
    SgIoOpenError reason;
    int error;  // the errno
};

// DeviceAccess on Linux: drives are found among the kernel's SCSI device
// nodes, /dev/srN and /dev/sgN, and every command is one SG_IO ioctl on the
// node's descriptor. A record's AdapterId and TargetId hold the kernel's
// SCSI host and target; its node sits in the record (SgIoNode.h). The
// program builds it as
//   new SgIoDeviceAccess(CreateLinuxSgIoPlatform())
class SgIoDeviceAccess : public DeviceAccess {
  public:
    // Nothing to probe at construction: Initialized is always 1, and
    // AdapterCount stays 0.
    explicit SgIoDeviceAccess(std::unique_ptr<SgIoPlatform> platform);
    ~SgIoDeviceAccess() override;

    // Tries /dev/sr0../dev/sr31, then /dev/sg0../dev/sg255, and runs the
    // probe once per SCSI address.
    void EnumerateDevices(DeviceList& list) override;
    int InquireDevice() override;
    int IdentifyController() override;
    // Opens the record's node read-write and exclusively; on failure
    // LastOpenError() says why, and nothing has been sent.
    int OpenDevice(const DeviceRecord& record) override;
    void CloseDevice() override;
    int ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                       uint16_t length) override;
    int ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                      uint16_t length) override;
    int WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                        uint16_t length) override;
    int CommitMicrocode() override;

    // Used by the enumeration only; its outcome is never consulted.
    int TestUnitReady();

    // Why the last OpenDevice failed (None after a success), and its errno.
    SgIoOpenError LastOpenError() const { return lastOpenError_; }
    int LastOpenErrno() const { return lastOpenErrno_; }
    // What became of the last command; DescribeSgIoOutcome() words it.
    const SgIoOutcome& LastOutcome() const { return lastOutcome_; }
    // Nodes the last enumeration could not open (permission, busy, ...).
    const std::vector<SgIoRefusedNode>& RefusedNodes() const { return refused_; }
    // Whether this process may send WRITE BUFFER at all (root or
    // CAP_SYS_RAWIO); without it the kernel refuses the command with EPERM.
    bool MaySendMicrocode();

  private:
    // Opens node for probing and runs the probe on it unless its SCSI
    // address was probed already.
    void ProbeNode(SgIoNode node, std::vector<ScsiAddress>& probed, DeviceList& list);
    // Sends command on the open node; done when the kernel says so and at
    // least needed bytes arrived.
    int Execute(const CommandDescription& command, uint8_t* data, unsigned timeoutMs,
                uint32_t needed);
    int FailOpen(SgIoOpenError reason, int error);
    void CloseNode();

    std::unique_ptr<SgIoPlatform> platform_;
    int fd_ = -1;
    SgIoOpenError lastOpenError_ = SgIoOpenError::None;
    int lastOpenErrno_ = 0;
    SgIoOutcome lastOutcome_;
    std::vector<SgIoRefusedNode> refused_;
};

// The real system calls; defined in LinuxSgIoPlatform.cpp.
std::unique_ptr<SgIoPlatform> CreateLinuxSgIoPlatform();
// Whether the effective capability set in the text of /proc/self/status
// ("CapEff:" in hex) holds CAP_SYS_RAWIO; fallback when it has no such line.
bool StatusHoldsRawIo(const std::string& status, bool fallback);
