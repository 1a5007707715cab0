// The simulator DLL loaded through the Windows loader, as the program loads
// the platform's library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"
#include "flash/UpgradeFirmware.h"
#include "tests/unit/aspi/TestPayload.h"

namespace {

using ::testing::HasSubstr;

std::string TempFolder() {
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    return std::string(path, length);
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

// Waits until the library has really left the process.
bool LibraryUnloaded() {
    for (int i = 0; i < 500; ++i) {
        if (GetModuleHandleA("wnaspi32.dll") == nullptr) return true;
        Sleep(10);
    }
    return false;
}

class StatusLine : public OperatorFeedback {
  public:
    void SetStatusText(const std::string& text) override { status = text; }
    void SetProgress(int) override {}
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override {
        return AnswerOk;
    }
    std::string status;
};

class AspiWineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = TempFolder() + "aspi_wine_" + name + "_";
        config = folder + "sim.cfg";
        flash = folder + "flash.bin";
        log = folder + "sim.log";
        std::remove(flash.c_str());
        std::remove(log.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("FLASH_SIM_CONFIG", nullptr);
        for (const std::string& path : {config, flash, log}) std::remove(path.c_str());
    }

    void UseConfig(const std::string& text) {
        ASSERT_TRUE(WriteFile(config, text));
        ASSERT_TRUE(SetEnvironmentVariableA("FLASH_SIM_CONFIG", config.c_str()));
    }

    std::unique_ptr<AspiDeviceAccess> Open() {
        return std::make_unique<AspiDeviceAccess>(CreateWin32AspiLibrary(), Win32Milliseconds);
    }

    std::string folder, config, flash, log;
};

TEST_F(AspiWineTest, EnumeratesAndUpgradesThroughTheLoadedLibrary) {
    // The set-up file and the log named by Unix paths: Wine opens them as
    // such even while the current drive is not Z:.
    const std::string unixName = "/tmp/aspi_wine_test_" + std::to_string(GetCurrentProcessId());
    config = "Z:" + unixName + ".cfg";
    log = "Z:" + unixName + ".log";
    char previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    ASSERT_TRUE(
        WriteFile(config, "log = " + unixName + ".log" +
                              "\n"
                              "[adapter]\n"
                              "status = 0x81\n"
                              "[drive]\n"
                              "target = 0\n"  // behind an invalid adapter: never found
                              "[adapter]\n"
                              "targets = 3\n"
                              "[drive]\n"
                              "target = 2\n"
                              "product = WINE DRIVE\n"
                              "flash-fill = 0xFF\n"
                              "delay-ms = 2\n"  // completions arrive from a thread of the library
                              "fault = write 0x8000 2\n"
                              "save-flash = " +
                              flash + "\n"));
    ASSERT_TRUE(SetEnvironmentVariableA("FLASH_SIM_CONFIG", (unixName + ".cfg").c_str()));
    auto backend = Open();
    SetCurrentDirectoryA(previous);
    ASSERT_EQ(backend->Initialized, 1);
    EXPECT_EQ(backend->AdapterCount, 2u);
    DeviceList list;
    backend->EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    const DeviceRecord& record = *list.At(0);
    EXPECT_EQ(record.AdapterId, 1);
    EXPECT_EQ(record.TargetId, 2);
    EXPECT_STREQ(record.Product, "WINE DRIVE      ");
    EXPECT_EQ(record.FlashSize, 0x20000u);

    const std::vector<uint8_t> block = MakePayloadBlock();
    const FirmwarePayload payload(block.data());
    const std::vector<uint8_t> image(payload.Image(), payload.Image() + ImageSize);
    StatusLine feedback;
    ASSERT_TRUE(
        UpgradeFirmware(record, *backend, payload, feedback, [](unsigned ms) { Sleep(ms); }));
    EXPECT_EQ(feedback.status, "Upgrade Firmware Successful!!");
    EXPECT_TRUE(ReadFile(flash) == image);  // saved at the commit

    std::remove(flash.c_str());
    backend.reset();
    ASSERT_TRUE(LibraryUnloaded());
    EXPECT_TRUE(ReadFile(flash) == image);  // and again as the library leaves
    std::vector<uint8_t> logText = ReadFile(log);
    const std::string text(logText.begin(), logText.end());
    EXPECT_THAT(text, HasSubstr("adapter 1 target 2:"));
    EXPECT_THAT(text, HasSubstr("injected write failure"));
}

TEST_F(AspiWineTest, WithoutASetUpTheLibraryReportsNoAdapters) {
    ASSERT_TRUE(SetEnvironmentVariableA("FLASH_SIM_CONFIG", (folder + "missing.cfg").c_str()));
    {
        auto backend = Open();
        EXPECT_EQ(backend->Initialized, 0);
    }
    EXPECT_TRUE(LibraryUnloaded());
}

TEST_F(AspiWineTest, ASetUpWithNoAdaptersIsUnusable) {
    UseConfig("# nothing attached\n");
    auto backend = Open();
    EXPECT_EQ(backend->Initialized, 0);
}

#ifdef _WIN64
TEST_F(AspiWineTest, ABufferAbove4GbIsRefusedWithoutReachingTheLibrary) {
    UseConfig("log = " + log + "\n[adapter]\n[drive]\n");
    void* high = VirtualAlloc(reinterpret_cast<void*>(0x300000000ull), 0x4000,
                              MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (high == nullptr || (reinterpret_cast<uintptr_t>(high) >> 32) == 0) {
        if (high != nullptr) VirtualFree(high, 0, MEM_RELEASE);
        GTEST_SKIP() << "no memory above 4 GB";
    }
    {
        auto backend = Open();
        ASSERT_EQ(backend->Initialized, 1);
        backend->OpenDevice(ZeroDeviceRecord());
        EXPECT_EQ(backend->ReadFlashData(static_cast<uint8_t*>(high), 0, 0, 0x4000), 0);
        std::vector<uint8_t> low(0x4000);
        EXPECT_EQ(backend->ReadFlashData(low.data(), 0, 0, 0x4000), 1);
    }
    VirtualFree(high, 0, MEM_RELEASE);
    ASSERT_TRUE(LibraryUnloaded());
    // Only the second read reached the drive.
    std::vector<uint8_t> logText = ReadFile(log);
    std::string text(logText.begin(), logText.end());
    size_t reads = 0;
    for (size_t at = text.find("READ BUFFER"); at != std::string::npos;
         at = text.find("READ BUFFER", at + 1))
        ++reads;
    EXPECT_EQ(reads, 1u);
}
#endif

}  // namespace
