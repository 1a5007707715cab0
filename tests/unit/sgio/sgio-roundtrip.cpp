// Lists the drives that the SG_IO back-end finds through the real system
// calls and makes one WRITE BUFFER / READ BUFFER round trip on each: run with
// libsgiosim.so preloaded, it proves the simulated nodes answer the real
// platform code as the kernel would.
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/sgio/SgIoDeviceAccess.h"

int main() {
    SgIoDeviceAccess access(CreateLinuxSgIoPlatform());
    DeviceList list;
    access.EnumerateDevices(list);
    for (const SgIoRefusedNode& node : access.RefusedNodes())
        std::printf("refused %s: %s\n", node.path.c_str(), std::strerror(node.error));
    int failures = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const DeviceRecord& drive = *list.At(i);
        std::printf("drive %d %s %u:%u\n", i, SgIoDevicePath(drive).c_str(), drive.AdapterId,
                    drive.TargetId);
        if (!access.OpenDevice(drive)) {
            std::printf("  open: %s\n", std::strerror(access.LastOpenErrno()));
            continue;
        }
        std::vector<uint8_t> chunk(0x4000), back(0x4000);
        for (size_t b = 0; b < chunk.size(); ++b) chunk[b] = static_cast<uint8_t>(b * 7 + i);
        const bool same = access.WriteBufferSave(chunk.data(), 0, 0x4000, 0x4000) &&
                          access.ReadBufferData(back.data(), 0, 0x4000, 0x4000) && back == chunk;
        std::printf("  round trip: %s\n",
                    same ? "same" : DescribeSgIoOutcome(access.LastOutcome()).c_str());
        failures += same ? 0 : 1;
        access.CloseDevice();
    }
    return failures;
}
