// The Windows edges the end-to-end runs do not reach, under Wine: how the
// read-out file is opened and written, and the ASPI loader's refusal of a
// buffer it cannot address.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"
#include "flash/win32/Win32OutputFile.h"

namespace {

std::string TempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name + std::to_string(GetCurrentProcessId());
}

// What another opener reads, or the error it is refused with.
std::string ReadElsewhere(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "refused";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Win32OutputFile, CreatesKeepsOnOpeningSharesWithNobodyAndWritesFromTheStart) {
    const std::string path = TempPath("flash-out-");
    DeleteFileA(path.c_str());
    Win32OutputFile file;
    uint64_t length = 99;
    const uint8_t* text = reinterpret_cast<const uint8_t*>("old textnew");
    EXPECT_FALSE(file.Length(length) || file.Truncate() || file.Write(text, 1) || file.Open(""));
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Length(length) && length == 0);
    EXPECT_EQ(ReadElsewhere(path), "refused");
    EXPECT_TRUE(file.Write(text, 8));
    file.Close();
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Length(length) && length == 8);
    EXPECT_TRUE(file.Write(text + 8, 3));
    file.Close();
    EXPECT_EQ(ReadElsewhere(path), "new text");
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Truncate() && file.Write(text + 8, 3));
    file.Close();
    file.Close();
    EXPECT_EQ(ReadElsewhere(path), "new");
    DeleteFileA(path.c_str());
}

#ifdef _WIN64
// The simulated library next to the program stands in for the platform's.
TEST(Win32AspiLibrary, RefusesABufferAbove4GbWithoutSendingIt) {
    const std::string config = TempPath("aspi-sim-") + ".cfg";
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
