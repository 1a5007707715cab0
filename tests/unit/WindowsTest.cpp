// The Windows edge the end-to-end runs do not reach, under 64-bit Wine: the
// ASPI loader's refusal of a buffer it cannot address.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"

namespace {

#ifdef _WIN64
// The simulated library next to the program stands in for the platform's.
TEST(Win32AspiLibrary, RefusesABufferAbove4GbWithoutSendingIt) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string config =
        std::string(folder) + "aspi-sim-" + std::to_string(GetCurrentProcessId()) + ".cfg";
    std::ofstream(config) << "[adapter]\n[drive]\n";
    ASSERT_TRUE(SetEnvironmentVariableA("FLASH_SIM_CONFIG", config.c_str()));
    void* high = VirtualAlloc(reinterpret_cast<void*>(0x300000000ull), 0x4000,
                              MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (high == nullptr) GTEST_SKIP() << "no memory above 4 GB";
    {
        AspiDeviceAccess access(CreateWin32AspiLibrary(), Win32Milliseconds);
        ASSERT_EQ(access.Initialized, 1);
        // Sent, the library would write through the address's low half.
        EXPECT_EQ(access.ReadFlashData(static_cast<uint8_t*>(high), 0, 0, 0x4000), 0);
        std::vector<uint8_t> low(0x4000);
        EXPECT_EQ(access.ReadFlashData(low.data(), 0, 0, 0x4000), 1);
    }
    VirtualFree(high, 0, MEM_RELEASE);
    DeleteFileA(config.c_str());
}
#endif

}  // namespace
