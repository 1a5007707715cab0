#include <gtest/gtest.h>

#include "flash/SaveFlashToFile.h"
#include "flash/UpgradeFirmware.h"
#include "tests/unit/flash/FlashFakes.h"

namespace {

const char kPath[] = "C:\\dumps\\drive.bin";

struct SaveRun {
    explicit SaveRun(uint32_t flashSize = 0x40000)
        : drive(journal, flashSize), record(TestRecord(flashSize)) {
        for (uint32_t i = 0; i < flashSize; ++i)
            drive.flash[i] = static_cast<uint8_t>((i >> 8) ^ i ^ 0xA5);
    }

    Journal journal;
    FakeDrive drive;
    RecordingFeedback feedback{journal};
    MemoryFile file{journal};
    ScriptedAllocator allocator;
    DeviceRecord record;
    std::string path = kPath;

    void Run() { SaveFlashToFile(record, drive, path, file, feedback, allocator.Get()); }
    void GiveExistingFile(std::vector<uint8_t> contents) {
        file.exists = true;
        file.contents = std::move(contents);
    }
    bool AllEnabled() {
        return feedback.enabled[BrowseButtonId] && feedback.enabled[UpgradeButtonId] &&
               feedback.enabled[ExitButtonId];
    }
};

const std::vector<uint8_t> kOldContents = {'o', 'l', 'd', 0, 1, 2};

TEST(SaveFlashToFileTest, ReadsTheWholeFlashBankByBankIntoAFileOfExactlyItsSize) {
    SaveRun run(0x40000);
    run.Run();
    EXPECT_EQ(run.feedback.Status(), "Save Firmware Successful!!");
    EXPECT_EQ(run.file.contents, run.drive.flash);
    for (uint32_t offset = 0; offset < 0x40000; offset += ChunkSize) {
        const std::string read =
            FakeDrive::Entry("flash read", offset >> 16, offset & 0xFFFF, ChunkSize);
        EXPECT_EQ(CountOf(run.journal, read), 1u) << read;
    }
    EXPECT_EQ(CountOf(run.journal, "flash read 3 0xC000 0x4000"), 1u);
    EXPECT_EQ(run.feedback.progress.size(), 16u);
    EXPECT_EQ(run.feedback.progress.back(), 100);
    EXPECT_EQ(run.feedback.progress.front(), 6);
    EXPECT_TRUE(run.AllEnabled());
    EXPECT_EQ(run.drive.closeCount, 1);
    EXPECT_FALSE(run.file.open);
    EXPECT_TRUE(run.feedback.boxes.empty());
    // The drive hears nothing but the flash reads.
    EXPECT_EQ(CountOf(run.journal, "commit"), 0u);
}

TEST(SaveFlashToFileTest, OrderOfOneSuccessfulRun) {
    SaveRun run(ChunkSize);
    run.Run();
    const Journal expected = {"status Save Firmware...",
                              "disable 1014",
                              "disable 1010",
                              "disable 1011",
                              std::string("file open ") + kPath,
                              "open",
                              "flash read 0 0x0000 0x4000",
                              "progress 100",
                              "file truncate",
                              "file write 16384",
                              "status Save Firmware Successful!!",
                              "close",
                              "enable 1014",
                              "enable 1010",
                              "enable 1011",
                              "file close"};
    EXPECT_EQ(run.journal, expected);
}

TEST(SaveFlashToFileTest, BufferHasTheSelectedRecordsFlashSize) {
    SaveRun run(0x40000);
    run.drive.OpenDevice(TestRecord(ImageSize));  // an earlier operation's drive
    run.Run();
    EXPECT_EQ(run.allocator.sizes, std::vector<size_t>{0x40000});
    EXPECT_EQ(run.file.contents.size(), 0x40000u);
}

TEST(SaveFlashToFileTest, FlashOfPartChunkEndsWithAShorterRead) {
    SaveRun run(0x4100);
    run.Run();
    EXPECT_EQ(run.file.contents, run.drive.flash);
    EXPECT_EQ(CountOf(run.journal, "flash read 0 0x4000 0x100"), 1u);
    EXPECT_EQ(run.feedback.progress, (std::vector<int>{98, 100}));
}

TEST(SaveFlashToFileTest, ExistingFileIsOverwrittenAfterTheOperatorSaysYes) {
    SaveRun run(ImageSize);
    run.GiveExistingFile(std::vector<uint8_t>(0x50000, 0xEE));  // longer than the flash
    run.feedback.answer = AnswerYes;
    run.Run();
    ASSERT_EQ(run.feedback.boxes.size(), 1u);
    EXPECT_EQ(run.feedback.boxes[0].text, std::string("File ") + kPath + " Exist, Overwrite ?");
    EXPECT_FALSE(run.feedback.boxes[0].hasCaption);
    EXPECT_EQ(run.feedback.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(run.file.contents, run.drive.flash);
    EXPECT_EQ(run.feedback.Status(), "Save Firmware Successful!!");
    // The question comes while the buttons are disabled, before the drive opens.
    EXPECT_LT(IndexOf(run.journal, "disable 1011"),
              IndexOf(run.journal, "box " + run.feedback.boxes[0].text));
    EXPECT_LT(IndexOf(run.journal, "box " + run.feedback.boxes[0].text),
              IndexOf(run.journal, "open"));
}

TEST(SaveFlashToFileTest, AnsweringNoLeavesTheFileAndTheDriveAlone) {
    SaveRun run;
    run.GiveExistingFile(kOldContents);
    run.feedback.answer = AnswerNo;
    run.Run();
    EXPECT_EQ(run.feedback.Status(), std::string("File ") + kPath + " Exist, User cancel ...");
    EXPECT_EQ(run.file.contents, kOldContents);
    EXPECT_EQ(run.drive.openCount, 0);
    EXPECT_TRUE(run.allocator.sizes.empty());
    EXPECT_TRUE(run.AllEnabled());
    EXPECT_FALSE(run.file.open);
}

TEST(SaveFlashToFileTest, EmptyExistingFileIsUsedWithoutAQuestion) {
    SaveRun run(ImageSize);
    run.GiveExistingFile({});
    run.feedback.answer = AnswerNo;  // would cancel if asked
    run.Run();
    EXPECT_TRUE(run.feedback.boxes.empty());
    EXPECT_EQ(run.file.contents, run.drive.flash);
}

// Every failure ends with the buttons enabled, the drive closed if it was
// opened, the file closed, no success text, and an old file untouched.
struct SaveFailureCase {
    const char* name;
    std::function<void(SaveRun&)> arrange;
    std::string status;
    int opens;
    bool fileOpened;
};

class SaveFailureTest : public ::testing::TestWithParam<SaveFailureCase> {};

TEST_P(SaveFailureTest, EndsCleanlyAndKeepsTheOldFile) {
    const SaveFailureCase& c = GetParam();
    SaveRun run;
    run.GiveExistingFile(kOldContents);
    run.feedback.answer = AnswerYes;
    c.arrange(run);
    run.Run();
    EXPECT_EQ(run.feedback.Status(), c.status);
    EXPECT_EQ(CountOf(run.feedback.statusTexts, "Save Firmware Successful!!"), 0u);
    EXPECT_EQ(run.drive.openCount, c.opens);
    EXPECT_EQ(run.drive.closeCount, run.drive.openSucceeds ? c.opens : 0);
    EXPECT_TRUE(run.AllEnabled());
    EXPECT_FALSE(run.file.open);
    EXPECT_EQ(run.file.closeCount, c.fileOpened ? 1 : 0);
    if (!run.file.failTruncate && !run.file.failWrite) {
        EXPECT_EQ(run.file.contents, kOldContents);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SaveFailureTest,
    ::testing::Values(SaveFailureCase{"EmptyPath", [](SaveRun& r) { r.path.clear(); },
                                      "Cant open the file ", 0, false},
                      SaveFailureCase{"FileRefused", [](SaveRun& r) { r.file.failOpen = true; },
                                      std::string("Cant open the file ") + kPath, 0, false},
                      SaveFailureCase{"LengthUnknown", [](SaveRun& r) { r.file.failLength = true; },
                                      std::string("Cant write the file ") + kPath, 0, true},
                      SaveFailureCase{"MemoryShort", [](SaveRun& r) { r.allocator.refuse = 1; },
                                      "Memory (Write) Initialization Failed!!", 0, true},
                      SaveFailureCase{"DriveRefusesToOpen",
                                      [](SaveRun& r) { r.drive.openSucceeds = false; },
                                      "Open Device (1 2)SIMDRIVEDVD-ROM SIM16X Failed!!", 1, true},
                      SaveFailureCase{"FiveReadFailuresAt0x24000",
                                      [](SaveRun& r) { r.drive.failFlashRead[0x24000] = 5; },
                                      "Error Happen in ID 2 OFFSET 0x4000", 1, true},
                      SaveFailureCase{"TruncateRefused",
                                      [](SaveRun& r) { r.file.failTruncate = true; },
                                      std::string("Cant write the file ") + kPath, 1, true},
                      SaveFailureCase{"WriteRefused", [](SaveRun& r) { r.file.failWrite = true; },
                                      std::string("Cant write the file ") + kPath, 1, true}),
    [](const ::testing::TestParamInfo<SaveFailureCase>& info) {
        return std::string(info.param.name);
    });

TEST(SaveFlashToFileTest, NewFileStaysEmptyWhenTheReadOutFails) {
    SaveRun run;
    run.drive.failFlashRead[0x24000] = 5;
    run.Run();
    EXPECT_TRUE(run.file.exists);
    EXPECT_TRUE(run.file.contents.empty());
    EXPECT_EQ(CountOf(run.journal, "file write 262144"), 0u);
    // Five attempts at the failing chunk, none past it.
    EXPECT_EQ(CountOf(run.journal, "flash read 2 0x4000 0x4000"), 5u);
    EXPECT_EQ(CountOf(run.journal, "flash read 2 0x8000 0x4000"), 0u);
}

TEST(ReadFlashImageTest, FourFailuresOnAChunkAreForgivenAndTheCountStartsAgain) {
    Journal journal;
    FakeDrive drive(journal, 0x40000);
    RecordingFeedback feedback(journal);
    drive.OpenDevice(TestRecord(0x40000));
    drive.failFlashRead[0x4000] = 4;
    drive.failFlashRead[0x8000] = 4;
    std::vector<uint8_t> buffer(0x40000);
    EXPECT_EQ(ReadFlashImage(drive, buffer.data(), feedback), 1);
    EXPECT_EQ(CountOf(journal, "flash read 0 0x8000 0x4000"), 5u);
    EXPECT_TRUE(feedback.statusTexts.empty());
}

}  // namespace
