#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "flash/UpgradeFirmware.h"
#include "tests/unit/flash/FlashFakes.h"

namespace {

// A filled payload block: an image whose sum is not 0, its checksum text in upper-case digits,
// model digit 4.
std::vector<uint8_t> FilledBlock() {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    std::memcpy(block.data(), "1.58", 4);
    for (uint32_t i = 0; i < ImageSize; ++i)
        block[PayloadImageOffset + i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    // The pattern alone sums to 0; these bytes make the sum tell something.
    block[PayloadImageOffset + 0] = 0x9A;
    block[PayloadImageOffset + 1] = 0xF3;
    char text[5];
    std::snprintf(text, sizeof text, "%04X",
                  ImageChecksum(block.data() + PayloadImageOffset, ImageSize));
    std::memcpy(block.data() + PayloadChecksumOffset, text, 4);
    block[PayloadModelOffset] = '4';
    return block;
}

struct UpgradeRun {
    Journal journal;
    FakeDrive drive{journal, ImageSize};
    RecordingFeedback feedback{journal};
    ScriptedAllocator allocator;
    std::vector<uint8_t> block = FilledBlock();
    DeviceRecord record = TestRecord(ImageSize);
    std::vector<unsigned> pauses;

    bool Run() {
        return UpgradeFirmware(
            record, drive, FirmwarePayload(block.data()), feedback,
            [this](unsigned ms) {
                pauses.push_back(ms);
                journal.push_back("pause " + std::to_string(ms));
            },
            allocator.Get());
    }
    size_t Writes() const {
        size_t n = 0;
        for (const std::string& e : journal) n += e.rfind("write ", 0) == 0;
        return n;
    }
    const uint8_t* Image() const { return block.data() + PayloadImageOffset; }
};

// The ends of the operation: what the status line says, which buttons are
// left enabled, and what became of the device.
struct EndCase {
    const char* name;
    std::function<void(UpgradeRun&)> arrange;
    bool result;
    std::string status;
    bool browse, upgrade, exit;
    int opens, closes;
    bool anythingWritten;
};

class UpgradeEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(UpgradeEndTest, LeavesStatusButtonsAndDeviceAsTheTableSays) {
    const EndCase& c = GetParam();
    UpgradeRun run;
    c.arrange(run);
    EXPECT_EQ(run.Run(), c.result);
    EXPECT_EQ(run.feedback.Status(), c.status);
    EXPECT_EQ(run.feedback.enabled[BrowseButtonId], c.browse);
    EXPECT_EQ(run.feedback.enabled[UpgradeButtonId], c.upgrade);
    EXPECT_EQ(run.feedback.enabled[ExitButtonId], c.exit);
    EXPECT_EQ(run.drive.openCount, c.opens);
    EXPECT_EQ(run.drive.closeCount, c.closes);
    EXPECT_EQ(run.Writes() > 0, c.anythingWritten);
    EXPECT_EQ(CountOf(run.journal, "commit"), c.result ? 1u : 0u);
}

std::vector<EndCase> Ends() {
    // The image checksum of the test block, for the checksum text.
    const std::vector<uint8_t> block = FilledBlock();
    const unsigned sum = ImageChecksum(block.data() + PayloadImageOffset, ImageSize);
    return {
        {"OpenFailed", [](UpgradeRun& r) { r.drive.openSucceeds = false; }, false,
         "Open Device (1 2)SIMDRIVEDVD-ROM SIM16X Failed!!", true, true, true, 1, 0, false},
        {"FlashTooLarge", [](UpgradeRun& r) { r.record.FlashSize = 0x40000; }, false,
         "Flash size not match!! (40000 / 20000)", true, true, true, 1, 1, false},
        {"FlashTooSmall", [](UpgradeRun& r) { r.record.FlashSize = 0x1F000; }, false,
         "Flash size not match!! (1F000 / 20000)", true, true, true, 1, 1, false},
        {"WriteBufferShort", [](UpgradeRun& r) { r.allocator.refuse = 1; }, false,
         "Memory (Write) Initialization Failed!!", true, true, true, 1, 1, false},
        {"ReadBackBufferShort", [](UpgradeRun& r) { r.allocator.refuse = 2; }, false,
         "Memory (Read) Initialization Failed!!", true, true, true, 1, 1, false},
        {"ChecksumDiffers",
         [](UpgradeRun& r) { std::memcpy(r.block.data() + PayloadChecksumOffset, "0000", 4); },
         false, FormatText("Check sum not match!! (%04X / 0000)", sum), false, true, true, 1, 1,
         false},
        {"ChunkFailsFiveTimes", [](UpgradeRun& r) { r.drive.failWrite[0x8000] = 5; }, false,
         "Error Happen in ID 0 OFFSET 0x8000", true, true, true, 1, 1, true},
        {"Success", [](UpgradeRun&) {}, true, "Upgrade Firmware Successful!!", false, true, true, 1,
         1, true},
        {"UnfilledPayload",
         [](UpgradeRun& r) { std::memcpy(r.block.data(), "INSERT_FIRMWARE", 15); }, false,
         "Need Combine firmware first !!", true, false, true, 0, 0, false},
    };
}

INSTANTIATE_TEST_SUITE_P(Ends, UpgradeEndTest, ::testing::ValuesIn(Ends()),
                         [](const ::testing::TestParamInfo<EndCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(UpgradeFirmwareTest, AnnouncesThenDisablesBrowseUpgradeExitBeforeOpening) {
    UpgradeRun run;
    ASSERT_TRUE(run.Run());
    const Journal expected = {"status Upgrade Firmware...",
                              "disable 1014",
                              "disable 1010",
                              "disable 1011",
                              "open",
                              "enable 1010"};
    ASSERT_GE(run.journal.size(), expected.size());
    EXPECT_EQ(Journal(run.journal.begin(), run.journal.begin() + 6), expected);
}

TEST(UpgradeFirmwareTest, SuccessWritesTheImageCommitsThenClosesBeforeReporting) {
    UpgradeRun run;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.drive.downloaded, std::vector<uint8_t>(run.Image(), run.Image() + ImageSize));
    // Eight chunks, each written then read back at the same address.
    for (uint32_t offset = 0; offset < ImageSize; offset += ChunkSize) {
        const std::string write =
            FakeDrive::Entry("write", offset >> 16, offset & 0xFFFF, ChunkSize);
        const std::string read = FakeDrive::Entry("read", offset >> 16, offset & 0xFFFF, ChunkSize);
        EXPECT_EQ(CountOf(run.journal, write), 1u) << write;
        EXPECT_EQ(IndexOf(run.journal, read), IndexOf(run.journal, write) + 1) << read;
    }
    const Journal expected = {
        "commit",     "pause 200", "progress 100", "close", "status Upgrade Firmware Successful!!",
        "enable 1011"};
    EXPECT_EQ(Journal(run.journal.end() - 6, run.journal.end()), expected);
    EXPECT_EQ(run.pauses, std::vector<unsigned>{CommitDelay});
}

TEST(UpgradeFirmwareTest, ProgressGrowsWithVerifiedChunksAndReaches100OnlyAfterTheCommit) {
    UpgradeRun run;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.feedback.progress, (std::vector<int>{9, 18, 28, 37, 46, 56, 65, 75, 100}));
    EXPECT_LT(IndexOf(run.journal, "commit"), IndexOf(run.journal, "progress 100"));
}

TEST(UpgradeFirmwareTest, FailedAttemptsDoNotMoveTheProgress) {
    UpgradeRun run;
    run.drive.failWrite[0x4000] = 3;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.feedback.progress, (std::vector<int>{9, 18, 28, 37, 46, 56, 65, 75, 100}));
}

TEST(UpgradeFirmwareTest, ChecksumMismatchSendsNothingAndNamesComputedSumFirst) {
    UpgradeRun run;
    std::memcpy(run.block.data() + PayloadChecksumOffset, "12AB", 4);
    const uint16_t computed = ImageChecksum(run.Image(), ImageSize);
    ASSERT_NE(computed, 0x12AB);
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(run.feedback.Status(), FormatText("Check sum not match!! (%04X / 12AB)", computed));
    EXPECT_EQ(run.Writes(), 0u);
    // Closed and released before the text, the Exit button last.
    const Journal tail(run.journal.end() - 3, run.journal.end());
    EXPECT_EQ(tail[0], "close");
    EXPECT_EQ(tail[2], "enable 1011");
}

TEST(UpgradeFirmwareTest, FlashSizeRefusalSendsNothingAfterTheOpening) {
    UpgradeRun run;
    run.record.FlashSize = 0x40000;
    EXPECT_FALSE(run.Run());
    const Journal expected = {"open",        "status Flash size not match!! (40000 / 20000)",
                              "close",       "enable 1014",
                              "enable 1010", "enable 1011"};
    EXPECT_EQ(Journal(run.journal.begin() + 4, run.journal.end()), expected);
    EXPECT_TRUE(run.allocator.sizes.empty());
}

TEST(UpgradeFirmwareTest, UnfilledPayloadTouchesNeitherDriveNorMemory) {
    UpgradeRun run;
    std::memcpy(run.block.data(), "INSERT_FIRMWARE", 15);
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(run.journal, (Journal{"status Need Combine firmware first !!", "disable 1010"}));
    EXPECT_TRUE(run.allocator.sizes.empty());
}

TEST(UpgradeFirmwareTest, BuffersHaveTheFlashSize) {
    UpgradeRun run;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.allocator.sizes, (std::vector<size_t>{ImageSize, ImageSize}));
}

TEST(UpgradeFirmwareTest, FailedCommitStillSucceeds) {
    UpgradeRun run;
    run.drive.commitSucceeds = false;
    EXPECT_TRUE(run.Run());
    EXPECT_EQ(run.feedback.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(run.feedback.progress.back(), 100);
}

// Attempts on one chunk: any mix of failed writes, failed read-backs and
// read-backs that differ counts alike; the fifth consecutive failure ends the
// loop, and a verified chunk starts the count again.
struct RetryCase {
    const char* name;
    std::function<void(FakeDrive&)> arrange;
    bool result;
    const char* status;
    uint32_t chunk;  // the chunk whose write attempts are counted
    size_t writesOfChunk;
};

class UpgradeRetryTest : public ::testing::TestWithParam<RetryCase> {};

TEST_P(UpgradeRetryTest, CountsConsecutiveFailuresPerChunk) {
    const RetryCase& c = GetParam();
    UpgradeRun run;
    c.arrange(run.drive);
    EXPECT_EQ(run.Run(), c.result);
    EXPECT_EQ(run.feedback.Status(), c.status);
    const std::string write = FakeDrive::Entry("write", c.chunk >> 16, c.chunk & 0xFFFF, ChunkSize);
    EXPECT_EQ(CountOf(run.journal, write), c.writesOfChunk);
    EXPECT_EQ(CountOf(run.journal, "commit"), c.result ? 1u : 0u);
}

const RetryCase kRetries[] = {
    {"FourWriteFailuresThenSuccess", [](FakeDrive& d) { d.failWrite[0x4000] = 4; }, true,
     "Upgrade Firmware Successful!!", 0x4000, 5},
    {"CounterRestartsOnTheNextChunk",
     [](FakeDrive& d) {
         d.failWrite[0x4000] = 4;
         d.failReadBack[0x8000] = 4;
     },
     true, "Upgrade Firmware Successful!!", 0x8000, 5},
    {"FourFailuresOnEveryChunk",
     [](FakeDrive& d) {
         for (uint32_t p = 0; p < ImageSize; p += ChunkSize) d.failWrite[p] = 4;
     },
     true, "Upgrade Firmware Successful!!", 0x1C000, 5},
    {"DifferingReadBackWritesAgain", [](FakeDrive& d) { d.corruptReadBack[0xC000] = 1; }, true,
     "Upgrade Firmware Successful!!", 0xC000, 2},
    {"FiveWriteFailuresAt0x14000", [](FakeDrive& d) { d.failWrite[0x14000] = 5; }, false,
     "Error Happen in ID 1 OFFSET 0x4000", 0x14000, 5},
    {"FiveFailuresAtOffset0", [](FakeDrive& d) { d.failReadBack[0] = 5; }, false,
     "Error Happen in ID 0 OFFSET 0x0000", 0, 5},
    {"MixedFailuresCountAlike",
     [](FakeDrive& d) {
         d.failWrite[0x1C000] = 2;
         d.failReadBack[0x1C000] = 2;
         d.corruptReadBack[0x1C000] = 1;
     },
     false, "Error Happen in ID 1 OFFSET 0xC000", 0x1C000, 5},
};

INSTANTIATE_TEST_SUITE_P(Retries, UpgradeRetryTest, ::testing::ValuesIn(kRetries),
                         [](const ::testing::TestParamInfo<RetryCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(WriteAndVerifyImageTest, ErrorTextShowsTheBankInLowerCaseHex) {
    Journal journal;
    const uint32_t flashSize = 0xC0000;
    FakeDrive drive(journal, flashSize);
    RecordingFeedback feedback(journal);
    drive.OpenDevice(TestRecord(flashSize));
    drive.failWrite[0xA8000] = 5;
    std::vector<uint8_t> image(flashSize, 0x5A), readBack(flashSize);
    EXPECT_EQ(WriteAndVerifyImage(drive, image.data(), readBack.data(), feedback, nullptr), 0);
    EXPECT_EQ(feedback.Status(), "Error Happen in ID a OFFSET 0x8000");
    // Bounded by the open device's flash size, 75 at most inside the loop.
    EXPECT_EQ(feedback.progress.back(), 0xA8000 * 75 / flashSize);
}

}  // namespace
