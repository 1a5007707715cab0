// Lists the drives that the SG_IO back-end finds through the real system
// calls and makes one WRITE BUFFER / READ BUFFER round trip on each: run with
// libsgiosim.so preloaded, it proves the simulated nodes answer the real
// platform code as the kernel would. Given a path, it first takes a lock on
// that file, as the console program does.
#include <fcntl.h>
#include <sys/file.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/sgio/SgIoDeviceAccess.h"

namespace {

const char* ReasonText(SgIoOpenError reason) {
    switch (reason) {
        case SgIoOpenError::None:
            return "none";
        case SgIoOpenError::NoSuchNode:
            return "no such node";
        case SgIoOpenError::Busy:
            return "busy";
        case SgIoOpenError::NoPermission:
            return "no permission";
        case SgIoOpenError::NotSameDrive:
            return "not the same drive";
        case SgIoOpenError::Other:
            break;
    }
    return "other";
}

// An inquiry text without its padding.
std::string Trimmed(const char* text) {
    std::string trimmed = text;
    trimmed.erase(trimmed.find_last_not_of(' ') + 1);
    return trimmed;
}

}  // namespace

int main(int argc, char** argv) {
    // The console program holds a lock file while it runs; so does this one.
    if (argc > 1) {
        const int lock = open(argv[1], O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        std::printf("lock: %s\n",
                    lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0 ? "held" : "not held");
    }
    SgIoDeviceAccess access(CreateLinuxSgIoPlatform());
    DeviceList list;
    access.EnumerateDevices(list);
    for (const SgIoRefusedNode& node : access.RefusedNodes())
        std::printf("refused %s: %s\n", node.path.c_str(), ReasonText(node.reason));
    int failures = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const DeviceRecord& drive = *list.At(i);
        const std::string path = SgIoDevicePath(drive);
        std::printf("drive %d %s %u:%u %s %s\n", i, path.c_str(), drive.AdapterId, drive.TargetId,
                    Trimmed(drive.Vendor).c_str(), Trimmed(drive.Product).c_str());
        if (!access.OpenDevice(drive)) {
            std::printf("  open: %s\n", ReasonText(access.LastOpenError()));
            continue;
        }
        std::vector<uint8_t> chunk(0x4000), back(0x4000);
        for (size_t b = 0; b < chunk.size(); ++b) chunk[b] = static_cast<uint8_t>(b * 7 + i);
        const bool written = access.WriteBufferSave(chunk.data(), 0, 0x4000, 0x4000) != 0;
        const bool read = written && access.ReadBufferData(back.data(), 0, 0x4000, 0x4000) != 0;
        const bool same = read && back == chunk;
        std::printf("  round trip: %s\n",
                    same ? "same" : DescribeSgIoOutcome(access.LastOutcome()).c_str());
        failures += same ? 0 : 1;
        access.CloseDevice();
    }
    return failures;
}
