// What the program decides at start-up, at the restart and in its window,
// apart from the Win32 calls that carry it out.
#include "app/StartupLogic.h"
#include "flash/FormatText.h"
#include "tests/unit/Rig.h"
#include "ui/DialogLogic.h"

namespace {

TEST(Startup, PlatformBackEndAndNoDeviceMessageFollowTheQueryAndTheModel) {
    const std::tuple<int, uint32_t, const char*> queries[] = {
        {0, 2, "0 pass-through"}, {0, 1, "0 ASPI"},         {1, 0, "0 ASPI"},
        {1, 1, "1 ASPI"},         {1, 2, "1 pass-through"}, {7, 3, "7 ASPI"}};
    for (const auto& [result, platform, expected] : queries) {
        EXPECT_EQ(FormatText("%d %s", PlatformSupportedFrom(result, platform),
                             BackendFor(platform) == BackendKind::Aspi ? "ASPI" : "pass-through"),
                  expected);
    }
    const char* const rows[] = {
        "No support device Found!!",
        "This program is only for ARDENTA DVD-ROM RVX-418 , \r\nfirmware version 1.** models.",
        "QX-204RA was not detected.\r\nThe program is exited.",
        "This program is only for         DVD-ROM         , \r\nfirmware version 1.** models.",
        "This program is only for DVD-ROM 16X             , \r\nfirmware version 5.*V models.",
        "This program is only for QUORALI HK-3100LS       , \r\nfirmware version 5.*VA models.",
        "This program is only for BRELLIX KRAV7420        , \r\nfirmware version P*.* models.",
        "This program is only for IDE-DVD ROM 16x         , \r\nfirmware version HD** models.",
    };
    for (int model = 0; model < 256; ++model)
        EXPECT_STREQ(NoDeviceMessage(static_cast<uint8_t>(model)), rows[model <= 7 ? model : 0]);
}

// Start-up against the simulated pass-through drive; the log tells what the
// platform was asked for, the order of creation and the window's run.
struct Startup : StartupPlatform {
    bool backend = true, usable = true, drive = true;
    std::string log;
    void ShowMessage(const char* text, const char* caption) override {
        log += FormatText("box %s | %s; ", text, caption);
    }
    std::unique_ptr<DeviceAccess> CreateBackend(BackendKind kind) override {
        log += kind == BackendKind::Aspi ? "aspi; " : "pass-through; ";
        if (!backend) return nullptr;
        auto carrier = std::make_unique<SimPassThroughCarrier>();
        if (!usable) carrier->SetRegistry(SimPassThroughCarrier::Registry::Missing);
        if (drive) carrier->AddDrive('E');
        return std::make_unique<PassThroughDeviceAccess>(std::move(carrier));
    }
};

struct Window : StartupDialog {
    std::string& log;
    DeviceList devices;
    explicit Window(std::string& startupLog) : log(startupLog) { log += "window; "; }
    ~Window() override { log += "~window; "; }
    DeviceList& Devices() override { return devices; }
    void RunModal(DeviceAccess& device) override {
        log += FormatText("run %d %d; ", devices.Count(), device.Initialized);
    }
    int RestartRequested() const override { return 1; }
};

TEST(Startup, RunsTheWindowOnlyWithAUsableBackEndThatFoundADrive) {
    const std::string failed = "box Flash ROM Upgrade Program Initialized Failed",
                      dvd = "!! | DVD Firmware Upgrade Program; ";
    const struct {
        int supported;
        uint32_t platform;
        bool backend, usable, drive;
        std::string log;
        int restart;
    } cases[] = {
        {0, 2, true, true, true, failed + dvd, 0},
        {1, 2, true, false, true,
         "window; pass-through; " + failed + " (Windows NT/2000)" + dvd + "~window; ", 0},
        {1, 1, false, true, true,
         "window; aspi; " + failed + " (Windows 95/98)!!\nASPI for Win32 is not initialized" + dvd +
             "~window; ",
         0},
        {1, 2, true, true, false,
         "window; pass-through; box " + std::string(NoDeviceMessage(4)) +
             " | Firmware Upgrade Program; ~window; ",
         0},
        {1, 2, true, true, true, "window; pass-through; run 1 1; ~window; ", 1},
    };
    for (const auto& c : cases) {
        Startup startup;
        startup.backend = c.backend, startup.usable = c.usable, startup.drive = c.drive;
        int restart = -1;
        auto window = [&] { return std::make_unique<Window>(startup.log); };
        EXPECT_EQ(RunStartupSequence(c.supported, c.platform, 4, startup, window, restart), 0);
        EXPECT_EQ(startup.log, c.log);
        EXPECT_EQ(restart, c.restart);
    }
}

// Records the steps of the restart; each answers as the case says.
struct Restart : RestartPlatform {
    int token = 1, restarted = 1;
    unsigned long lastError = 0;
    std::string log;
    int OpenProcessToken() override { return log += "token; ", token; }
    void LookupShutdownPrivilege() override { log += "lookup; "; }
    unsigned long EnableShutdownPrivilege() override { return log += "enable; ", lastError; }
    int RequestRestart(unsigned flags) override {
        return log += FormatText("restart %X; ", flags), restarted;
    }
    void ShowMessage(const char* text, const char* caption) override {
        log += FormatText("box %s | %s; ", text, caption);
    }
};

// The NT family enables the shutdown privilege first; every failed step is
// reported and the sequence goes on. Windows 2000 and later also end hung
// programs.
TEST(Restart, StepsFlagsAndFailures) {
    const std::string nt = "token; lookup; enable; ",
                      box = " Fail!! | DVD Firmware Upgrade Program; ";
    const struct {
        uint32_t platform, major;
        int token;
        unsigned long lastError;
        int restarted;
        std::string log;
    } cases[] = {
        {2, 10, 0, 6, 0,
         "token; box Reboot : OpenProcessToken" + box +
             "lookup; enable; box Reboot : AdjustTokenPrivileges" + box +
             "restart 12; box Reboot : ExitWindowsEx" + box},
        {2, 4, 1, 0, 1, nt + "restart 2; "},
        {1, 5, 0, 0, 0, "restart 2; box Reboot : ExitWindowsEx" + box},
        {0, 6, 0, 0, 1, "restart 2; "},
    };
    for (const auto& c : cases) {
        Restart platform;
        platform.token = c.token, platform.lastError = c.lastError,
        platform.restarted = c.restarted;
        RestartWindowsWith(c.platform, c.major, platform);
        EXPECT_EQ(platform.log, c.log);
    }
}

TEST(Dialog, DeviceLineIsTheTextsAsStoredThenTheVersionInDecimal) {
    EXPECT_EQ(DeviceLineText(Inquired("ARDENTA ", "DVD-ROM RVX-418 ", "1.02", 1, 2)),
              "ARDENTA  DVD-ROM RVX-418  1.02 Version 1.2");
    EXPECT_EQ(DeviceLineText(Inquired("", "", "", 10, 65535)), "   Version 10.65535");
    // Fields without their terminator stay inside their arrays.
    DeviceRecord full = Inquired("", "", "", 4, 5);
    std::memset(full.Vendor, 'V',
                sizeof full.Vendor + sizeof full.Product + sizeof full.Revision +
                    sizeof full.VendorProduct);
    EXPECT_EQ(DeviceLineText(full), std::string(9, 'V') + " " + std::string(17, 'V') + " " +
                                        std::string(5, 'V') + " Version 4.5");
}

TEST(Dialog, InitialControlsAndTheRestartQuestion) {
    for (int count : {0, 1, 2, 3}) {
        for (bool placeholder : {false, true}) {
            const InitialControls controls = InitialControlsFor(count, placeholder);
            EXPECT_EQ(controls.deviceBoxEnabled, count != 1);
            EXPECT_EQ(controls.upgradeEnabled, !placeholder);
            EXPECT_STREQ(controls.statusText ? controls.statusText : "(none)",
                         placeholder ? "Need Combine firmware first !!" : "(none)");
        }
    }
    Feedback feedback;
    EXPECT_EQ(AskForRestart(0, feedback), 0);
    EXPECT_EQ(feedback.journal, "");
    for (int answer : {int{AnswerOk}, int{AnswerCancel}, int{AnswerYes}, 0}) {
        feedback.answer = answer;
        EXPECT_EQ(AskForRestart(1, feedback), answer == AnswerOk ? 1 : 0);
    }
    EXPECT_EQ(feedback.journal.substr(feedback.journal.rfind("00 box")),
              "00 box You must restart Windows in order for the changes to take effect.You may "
              "restart now or exit and restart later. | caption");
}

TEST(Dialog, UpgradeAndSaveActOnTheSelectedLinesRecord) {
    DeviceList devices;
    for (uint16_t i = 0; i < 3; ++i) devices.Append(Inquired("A", "B", "C", i, 0));
    Feedback feedback;
    for (int index : {-1, 0, 1, 2, 3}) {
        const DeviceRecord* seen = nullptr;
        const bool result =
            RunOnSelectedRecord(devices, index, feedback, [&](const DeviceRecord& r) {
                seen = &r;
                return index != 1;
            });
        EXPECT_EQ(seen, devices.At(index));
        EXPECT_EQ(result, index == 0 || index == 2);
    }
    EXPECT_EQ(feedback.status, std::vector<std::string>(2, "No device selected!!"));
}

// A firmware file is one whose last extension is "bin" in any case; the length GetCurrentDirectoryA
// returns names a whole path only below the buffer's size.
TEST(Dialog, FirmwareFilesAndCurrentDirectory) {
    const struct {
        const char* name;
        const char* extension;
        bool firmware;
    } cases[] = {{"D.BIN", "BIN", true},  {"x.bin.txt", "txt", false}, {"x.txt.Bin", "Bin", true},
                 {"bin", "", false},      {"x.bins", "bins", false},   {".bin", "bin", true},
                 {"x.ain", "ain", false}, {"x.biZ", "biZ", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(FileExtensionOf(c.name), c.extension) << c.name;
        EXPECT_EQ(IsFirmwareFileName(c.name), c.firmware) << c.name;
    }
    for (unsigned long result : {0ul, 3ul, 255ul, 256ul, 300ul})
        EXPECT_EQ(IsUsableCurrentDirectory(result, 256), result != 0 && result < 256) << result;
}

// The icon in the middle of its frame (rounded as the window does); the window in the middle of the
// work area, or at its top left corner where it is larger.
TEST(Dialog, IconAndWindowAreCentred) {
    const IconPosition icon = CentredIconPosition(100, 60, 32, 32),
                       small = CentredIconPosition(29, 0, 32, 16);
    EXPECT_EQ(FormatText("%d %d %d %d", icon.x, icon.y, small.x, small.y), "34 14 -1 -7");
    const struct {
        int left, top, right, bottom;
        const char* at;
    } windows[] = {{-1280, 0, 0, 1024, "-827 444"}, {10, 20, 300, 100, "10 20"}};
    for (const auto& c : windows) {
        const WindowPosition at = CentredWindowPosition(c.left, c.top, c.right, c.bottom, 374, 135);
        EXPECT_EQ(FormatText("%d %d", at.x, at.y), c.at);
    }
}

}  // namespace
