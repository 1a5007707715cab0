#pragma once

#include <scsi/sg.h>

#include <cstdint>

// Where a SCSI device node leads: the kernel's host, channel, target and LUN
// of the device behind it, and its peripheral device type when the node can
// tell (the generic nodes can; a CD node cannot, and is a CD device anyway).
struct ScsiAddress {
    uint8_t host;
    uint8_t channel;
    uint8_t target;
    uint8_t lun;
    int type;  // -1: unknown

    bool operator==(const ScsiAddress& other) const {
        return host == other.host && channel == other.channel && target == other.target &&
               lun == other.lun;
    }
};

// The few Linux calls the SG_IO back-end makes, behind one small interface so
// that everything above them runs against a substitute. Errors come back as
// errno values, never through errno itself.
class SgIoPlatform {
  public:
    virtual ~SgIoPlatform() = default;

    // open(2) of an existing node with flags; a descriptor >= 0, or -errno.
    virtual int Open(const char* path, int flags) = 0;
    virtual void Close(int fd) = 0;
    // One synchronous SG_IO ioctl on header; 0 when the ioctl returned 0,
    // otherwise its errno. The kernel writes the outcome into header.
    virtual int SendSgIo(int fd, sg_io_hdr& header) = 0;
    // The SCSI address of the device behind fd; 0 or an errno.
    virtual int ReadScsiAddress(int fd, ScsiAddress& address) = 0;
    // Whether this process may send WRITE BUFFER: the kernel lets only
    // holders of CAP_SYS_RAWIO send commands outside its short list of safe
    // ones.
    virtual bool HoldsRawIoCapability() = 0;
};
