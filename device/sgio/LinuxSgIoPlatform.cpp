// The SG_IO back-end's system calls: the only file of it that talks to the
// kernel. Everything it does goes through open, ioctl and close of libc,
// which is also what the simulated device nodes (sim/sgio) stand in for.
#include <fcntl.h>
#include <scsi/scsi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "device/sgio/SgIoDeviceAccess.h"

namespace {

// Bit of CAP_SYS_RAWIO in the capability sets (linux/capability.h).
constexpr int CapSysRawIo = 17;

class LinuxSgIoPlatform : public SgIoPlatform {
  public:
    int Open(const char* path, int flags) override {
        const int fd = ::open(path, flags);
        return fd >= 0 ? fd : -errno;
    }

    void Close(int fd) override { ::close(fd); }

    int SendSgIo(int fd, sg_io_hdr& header) override {
        return ::ioctl(fd, SG_IO, &header) == 0 ? 0 : errno;
    }

    int ReadScsiAddress(int fd, ScsiAddress& address) override {
        // The generic node answers SG_GET_SCSI_ID, with the device type; the
        // CD node does not, but both answer SCSI_IOCTL_GET_IDLUN, which packs
        // target, LUN, channel and host (low 8 bits each) into one word.
        sg_scsi_id id;
        std::memset(&id, 0, sizeof id);
        if (::ioctl(fd, SG_GET_SCSI_ID, &id) == 0) {
            address = ScsiAddress{
                static_cast<uint8_t>(id.host_no), static_cast<uint8_t>(id.channel),
                static_cast<uint8_t>(id.scsi_id), static_cast<uint8_t>(id.lun), id.scsi_type};
            return 0;
        }
        int idlun[2] = {0, 0};  // four-in-one id, host's unique id
        if (::ioctl(fd, SCSI_IOCTL_GET_IDLUN, idlun) != 0) return errno;
        const unsigned word = static_cast<unsigned>(idlun[0]);
        address = ScsiAddress{static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                              static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), -1};
        return 0;
    }

    bool HoldsRawIoCapability() override {
        std::string status;
        if (std::FILE* file = std::fopen("/proc/self/status", "r")) {
            char chunk[512];
            size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) status.append(chunk, got);
            std::fclose(file);
        }
        // Without the file, being root is the best guess.
        return StatusHoldsRawIo(status, geteuid() == 0);
    }
};

}  // namespace

bool StatusHoldsRawIo(const std::string& status, bool fallback) {
    const size_t line = status.find("\nCapEff:");
    if (line == std::string::npos) return fallback;
    const unsigned long long set = std::strtoull(status.c_str() + line + 8, nullptr, 16);
    return ((set >> CapSysRawIo) & 1) != 0;
}

std::unique_ptr<SgIoPlatform> CreateLinuxSgIoPlatform() {
    return std::make_unique<LinuxSgIoPlatform>();
}
