#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/sgio/SgIoPlatform.h"
#include "sim/SimulatedDrive.h"

// Plays the Linux kernel for the SG_IO back-end: device nodes with simulated
// drives behind them, opened with open(2) flags, and the ioctls on them
// (SG_IO, SG_GET_SCSI_ID, SCSI_IOCTL_GET_IDLUN), which read the sg_io_hdr
// field by field as the kernel does. Native tests use it as the back-end's
// platform; the preloaded library (SgIoInterposer.cpp) puts it behind libc's
// open, ioctl and close.
struct SimNodeOptions {
    bool busy = false;    // an O_EXCL open fails with EBUSY (mounted)
    bool denied = false;  // every open fails with EACCES
};

class SimSgIoCarrier : public SgIoPlatform {
  public:
    // One SG_IO that reached a drive: the header as it came, and its CDB.
    struct SentCommand {
        std::string path;
        sg_io_hdr header;
        std::vector<uint8_t> cdb;
    };

    // A node at path ("/dev/srN": a CD node, "/dev/sgN": a generic one)
    // that leads to drive, which the caller keeps alive. host and target
    // are its SCSI address (channel and LUN 0).
    void AddNode(const std::string& path, SimulatedDrive& drive, uint8_t host, uint8_t target,
                 SimNodeOptions options = {});
    // Whether WRITE BUFFER and other commands outside the kernel's safe list
    // pass (root or CAP_SYS_RAWIO), or fail with EPERM.
    void SetRawIo(bool rawIo) { rawIo_ = rawIo; }
    // Called after every command a drive executed.
    void SetAfterCommand(std::function<void(SimulatedDrive&)> hook) {
        afterCommand_ = std::move(hook);
    }

    // The ioctls as libc's ioctl hands them over; 0 or an errno.
    int Ioctl(int fd, unsigned long request, void* argument);

    // Opens, refusals and closes, one line each ("open /dev/sr0 read-write
    // exclusive: EBUSY").
    const std::vector<std::string>& Events() const { return events_; }
    std::string EventText() const;
    const std::vector<SentCommand>& Sent() const { return sent_; }
    int OpenCount() const { return static_cast<int>(open_.size()); }

    // The platform.
    int Open(const char* path, int flags) override;
    void Close(int fd) override;
    int SendSgIo(int fd, sg_io_hdr& header) override;
    int ReadScsiAddress(int fd, ScsiAddress& address) override;
    bool HoldsRawIoCapability() override { return rawIo_; }

  private:
    struct Node {
        SimulatedDrive* drive;
        ScsiAddress address;
        SimNodeOptions options;
        bool cd;
        int exclusiveHolders = 0;
    };
    struct Handle {
        std::string path;
        bool exclusive;
    };

    Node* NodeOf(int fd, std::string* path = nullptr);
    int Refuse(const std::string& what, int error);

    std::map<std::string, Node> nodes_;
    std::map<int, Handle> open_;
    int nextFd_ = 100;
    bool rawIo_ = true;
    std::function<void(SimulatedDrive&)> afterCommand_;
    std::vector<std::string> events_;
    std::vector<SentCommand> sent_;
};
