// The Windows edges the end-to-end runs do not reach, under Wine: how the
// read-out file is opened and written, and the ASPI loader's refusal of a
// buffer it cannot address.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"
#include "flash/win32/Win32OutputFile.h"

namespace {

std::string TempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name + std::to_string(GetCurrentProcessId());
}

// What another opener gets: the contents, or the error it is refused with.
std::string ReadElsewhere(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
    char text[32];
    DWORD got = 0;
    ReadFile(h, text, sizeof text, &got, nullptr);
    CloseHandle(h);
    return std::string(text, got);
}

TEST(Win32OutputFile, CreatesKeepsOnOpeningSharesWithNobodyAndWritesFromTheStart) {
    const std::string path = TempPath("flash-out-");
    DeleteFileA(path.c_str());
    Win32OutputFile file;
    uint64_t length = 99;
    const std::string older = "old text", newer = "new";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(older.data());
    EXPECT_FALSE(file.Length(length));
    EXPECT_FALSE(file.Truncate());
    EXPECT_FALSE(file.Write(bytes, 1));
    EXPECT_FALSE(file.Open(""));
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Length(length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ReadElsewhere(path), "error " + std::to_string(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(file.Write(bytes, 8));
    file.Close();
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Length(length));
    EXPECT_EQ(length, 8u);
    EXPECT_TRUE(file.Write(reinterpret_cast<const uint8_t*>(newer.data()), 3));
    file.Close();
    EXPECT_EQ(ReadElsewhere(path), "new text");
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Truncate());
    EXPECT_TRUE(file.Write(reinterpret_cast<const uint8_t*>(newer.data()), 3));
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
        access.OpenDevice(ZeroDeviceRecord());
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
