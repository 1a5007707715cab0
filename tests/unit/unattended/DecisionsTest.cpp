#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "unattended/BackupName.h"
#include "unattended/ModelGuard.h"
#include "unattended/RunLog.h"
#include "unattended/RunOutcome.h"

namespace {

// A record as the inquiry fills it: fields copied byte for byte.
DeviceRecord Drive(const char* vendor, const char* product, const char* revision) {
    DeviceRecord record = ZeroDeviceRecord();
    std::strncpy(record.Vendor, vendor, 8);
    std::strncpy(record.Product, product, 16);
    std::strncpy(record.Revision, revision, 4);
    std::memcpy(record.VendorProduct, record.Vendor, 8);
    std::memcpy(record.VendorProduct + 8, record.Product, 16);
    return record;
}

TEST(ModelGuardTest, VerdictsByModelAndInquiry) {
    const struct {
        int model;
        const char *vendor, *product, *revision;
        bool passes;
        const char* reason;
    } cases[] = {
        {4, "DVD-ROM ", "16X             ", "5.0V", true, "matches \"5.*V\""},
        {4, "DVD-ROM ", "16X             ", "5.9V", true, "\"DVD-ROM 16X             \""},
        {4, "DVD-ROM ", "16X             ", "6.0V", false, "\"6.0V\" does not match \"5.*V\""},
        {4, "DVD-ROM ", "16X             ", "5.0X", false, "does not match"},
        {4, "DVD-ROM ", "16X", "5.0V", false, "the drive is \"DVD-ROM 16X\""},
        {4, "DVD-ROM ", "16x             ", "5.0V", false, "the firmware is for"},
        {4, "DVD-ROM ", "16X             ", "5.0", false, "does not match"},
        {1, "ARDENTA ", "DVD-ROM RVX-418 ", "1.23", true, "matches \"1.**\""},
        {1, "ARDENTA ", "DVD-ROM RVX-418 ", "2.23", false, "does not match"},
        {3, "        ", "DVD-ROM         ", "1.0A", true, "matches"},
        {6, "BRELLIX ", "KRAV7420        ", "P1.2", true, "matches"},
        {6, "BRELLIX ", "KRAV7420        ", "Q1.2", false, "does not match"},
        {7, "IDE-DVD ", "ROM 16x         ", "HD07", true, "matches"},
        {7, "IDE-DVD ", "ROM 16x         ", "HE07", false, "does not match"},
        // Model 5's pattern has a fifth character no inquiry reports.
        {5, "QUORALI ", "HK-3100LS       ", "5.0V", false, "\"5.0V\" does not match \"5.*VA\""},
        {0, "DVD-ROM ", "16X             ", "5.0V", false, "model digit 0 names no drive model"},
        {2, "DVD-ROM ", "16X             ", "5.0V", false, "model digit 2 names no"},
        {8, "DVD-ROM ", "16X             ", "5.0V", false, "model digit 8 names no"},
        {208, "DVD-ROM ", "16X             ", "5.0V", false, "model digit 208"},
    };
    for (const auto& c : cases) {
        const GuardVerdict verdict =
            JudgeDrive(static_cast<uint8_t>(c.model), Drive(c.vendor, c.product, c.revision));
        EXPECT_EQ(verdict.passes, c.passes) << c.model << " " << c.product << c.revision;
        EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << verdict.reason;
    }
}

TEST(BackupFileNameTest, NamesFromTheInquiryTexts) {
    const struct {
        const char *vendor, *product, *revision;
        int attempt;
        const char* name;
    } cases[] = {
        {"ARDENTA ", "DVD-ROM RVX-418 ", "1.00", 1, "ARDENTA_DVD-ROM_RVX-418_1.00.bin"},
        {"ARDENTA ", "DVD-ROM RVX-418 ", "1.00", 2, "ARDENTA_DVD-ROM_RVX-418_1.00-2.bin"},
        {"ARDENTA ", "DVD-ROM RVX-418 ", "1.00", 13, "ARDENTA_DVD-ROM_RVX-418_1.00-13.bin"},
        {"        ", "  DVD-ROM       ", "1.0 ", 1, "DVD-ROM_1.0.bin"},
        {"A\\B/C:D*", "E?F\"G<H>I|J\x01K\x7F", "\xE9\t~.", 1, "A_B_C_D__E_F_G_H_I_J_K____~..bin"},
        {"        ", "                ", "    ", 1, "drive.bin"},
        {"", "", "", 3, "drive-3.bin"},
        {"NUL     ", "", "", 1, "_NUL.bin"},
        {"", "con", "", 1, "_con.bin"},
        {"", "", "Aux", 2, "_Aux-2.bin"},
        {"Com1", "", "", 1, "_Com1.bin"},
        {"LPT9    ", "", "", 1, "_LPT9.bin"},
        {"nul.x", "", "", 1, "_nul.x.bin"},
        {"NUL     ", "", ".5", 1, "NUL_.5.bin"},
        {"CLOCK$", "", "", 1, "_CLOCK$.bin"},
        {"COM0", "", "", 1, "COM0.bin"},
        {"COM10", "", "", 1, "COM10.bin"},
        {"CONSOLE", "", "", 1, "CONSOLE.bin"},
        {"PRN", "X", "", 1, "PRN_X.bin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BackupFileName(Drive(c.vendor, c.product, c.revision), c.attempt), c.name)
            << c.name;
    }
}

TEST(RunOutcomeTest, ExitCodesPerPlatform) {
    const struct {
        RunOutcome outcome;
        int windows, console;
    } cases[] = {
        {RunOutcome::Listed, 0, 0},
        {RunOutcome::Help, 0, 0},
        {RunOutcome::Upgraded, 3010, 0},
        {RunOutcome::Restarted, 1641, 0},
        {RunOutcome::Failed, 1603, 1},
        {RunOutcome::NoDrive, 2, 3},
        {RunOutcome::BadPayload, 13, 4},
        {RunOutcome::BadUsage, 87, 2},
        {RunOutcome::AlreadyRunning, 1618, 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowsExitCode(c.outcome), c.windows) << OutcomeText(c.outcome);
        EXPECT_EQ(LinuxExitCode(c.outcome), c.console) << OutcomeText(c.outcome);
    }
}

TEST(RunLogTest, AsciiLinesAndAddresses) {
    EXPECT_EQ(AsciiLogText("a\tb\r\nc\x01\x7F\xE9 ~"), "a b  c??? ~");
    DeviceRecord drive = Drive("V", "P", "R");
    drive.AdapterId = 1;
    EXPECT_EQ(WindowsDriveAddress(drive), "1:0");
    drive.DriveLetter = 'E';
    EXPECT_EQ(WindowsDriveAddress(drive), "E:");
}

}  // namespace
