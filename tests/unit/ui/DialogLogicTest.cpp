#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/DialogLogic.h"

namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;

class MockFeedback : public OperatorFeedback {
  public:
    MOCK_METHOD(void, SetStatusText, (const std::string& text), (override));
    MOCK_METHOD(void, SetProgress, (int position), (override));
    MOCK_METHOD(void, EnableControl, (int controlId, bool enabled), (override));
    MOCK_METHOD(int, ShowMessageBox,
                (const std::string& text, const char* caption, MessageButtons buttons), (override));
};

DeviceRecord Record(const char* vendor, const char* product, const char* revision, uint16_t major,
                    uint16_t minor) {
    DeviceRecord record = ZeroDeviceRecord();
    std::strncpy(record.Vendor, vendor, sizeof record.Vendor - 1);
    std::strncpy(record.Product, product, sizeof record.Product - 1);
    std::strncpy(record.Revision, revision, sizeof record.Revision - 1);
    record.VersionMajor = major;
    record.VersionMinor = minor;
    return record;
}

TEST(DeviceLineTextTest, FieldsAsStoredEachFollowedByOneBlank) {
    struct Case {
        DeviceRecord record;
        const char* expected;
    } cases[] = {
        {Record("ARDENTA ", "DVD-ROM RVX-418 ", "1.02", 1, 2),
         "ARDENTA  DVD-ROM RVX-418  1.02 Version 1.2"},
        // Decimal without leading zeros, full unsigned 16-bit range.
        {Record("QUORALI", "HK-3100LS", "5.3V", 0, 65535),
         "QUORALI HK-3100LS 5.3V Version 0.65535"},
        {Record("", "", "", 10, 0), "   Version 10.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(DeviceLineText(c.record), c.expected);
}

TEST(DeviceLineTextTest, FullWidthFieldsWithoutTerminatorStayInsideTheirArrays) {
    DeviceRecord record = Record("", "", "", 4, 5);
    std::memset(record.Vendor, 'V', sizeof record.Vendor);
    std::memset(record.Product, 'P', sizeof record.Product);
    std::memset(record.Revision, 'R', sizeof record.Revision);
    std::memset(record.VendorProduct, 'X', sizeof record.VendorProduct);
    EXPECT_EQ(DeviceLineText(record), std::string(9, 'V') + " " + std::string(17, 'P') + " " +
                                          std::string(5, 'R') + " Version 4.5");
}

TEST(InitialControlsTest, DeviceBoxDisabledOnlyForExactlyOneDrive) {
    struct Case {
        int count;
        bool placeholder;
        bool deviceBoxEnabled;
        bool upgradeEnabled;
        const char* status;
    } cases[] = {
        {1, false, false, true, nullptr},
        {2, false, true, true, nullptr},
        {3, false, true, true, nullptr},
        {0, false, true, true, nullptr},
        {1, true, false, false, "Need Combine firmware first !!"},
        {3, true, true, false, "Need Combine firmware first !!"},
    };
    for (const Case& c : cases) {
        InitialControls controls = InitialControlsFor(c.count, c.placeholder);
        EXPECT_EQ(controls.deviceBoxEnabled, c.deviceBoxEnabled) << c.count;
        EXPECT_EQ(controls.upgradeEnabled, c.upgradeEnabled) << c.count;
        if (c.status == nullptr) {
            EXPECT_EQ(controls.statusText, nullptr);
        } else {
            ASSERT_NE(controls.statusText, nullptr);
            EXPECT_STREQ(controls.statusText, c.status);
        }
    }
}

TEST(AskForRestartTest, NoQuestionWithoutASuccessfulUpgrade) {
    StrictMock<MockFeedback> feedback;
    EXPECT_EQ(AskForRestart(0, feedback), 0);
}

TEST(AskForRestartTest, AfterAnUpgradeOnlyOkRequestsTheRestart) {
    const std::string text =
        "You must restart Windows in order for the changes to take effect.You may restart now or "
        "exit and restart later.";
    struct Case {
        int answer;
        int expected;
    } cases[] = {{AnswerOk, 1}, {AnswerCancel, 0}, {0, 0}, {AnswerYes, 0}};
    for (const Case& c : cases) {
        StrictMock<MockFeedback> feedback;
        EXPECT_CALL(feedback, ShowMessageBox(text, _, MessageButtons::OkCancel))
            .WillOnce([&](const std::string&, const char* caption, MessageButtons) {
                EXPECT_STREQ(caption, "DVD Firmware Upgrade Program - Restart System");
                return c.answer;
            });
        EXPECT_EQ(AskForRestart(1, feedback), c.expected) << c.answer;
    }
}

TEST(RunOnSelectedRecordTest, TheSelectedLineIsTheRecordAtThatPosition) {
    DeviceList devices;
    devices.Append(Record("A", "first", "1", 1, 0));
    devices.Append(Record("B", "second", "2", 2, 0));
    devices.Append(Record("C", "third", "3", 3, 0));
    StrictMock<MockFeedback> feedback;
    for (int index = 0; index < 3; ++index) {
        const DeviceRecord* seen = nullptr;
        bool result = RunOnSelectedRecord(devices, index, feedback, [&](const DeviceRecord& r) {
            seen = &r;
            return index != 1;
        });
        EXPECT_EQ(seen, devices.At(index));
        EXPECT_EQ(result, index != 1);
    }
}

TEST(RunOnSelectedRecordTest, NoSelectionReportsAndTouchesNoRecord) {
    DeviceList devices;
    devices.Append(Record("A", "first", "1", 1, 0));
    for (int index : {-1, 1, 7}) {
        StrictMock<MockFeedback> feedback;
        EXPECT_CALL(feedback, SetStatusText("No device selected!!"));
        bool called = false;
        EXPECT_FALSE(RunOnSelectedRecord(devices, index, feedback, [&](const DeviceRecord&) {
            called = true;
            return true;
        }));
        EXPECT_FALSE(called) << index;
    }
}

TEST(FirmwareFileNameTest, ExtensionIsTextAfterTheLastFullStop) {
    struct Case {
        const char* name;
        const char* extension;
        bool accepted;
    } cases[] = {
        {"drive.bin", "bin", true},
        {"DRIVE.BIN", "BIN", true},
        {"x.Bin", "Bin", true},
        {"x.bin.txt", "txt", false},
        {"x.txt.bin", "bin", true},
        {"bin", "", false},
        {"x.", "", false},
        {"x.bins", "bins", false},
        {"x.bi", "bi", false},
        {".bin", "bin", true},
        {"", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileExtensionOf(c.name), c.extension) << c.name;
        EXPECT_EQ(IsFirmwareFileName(c.name), c.accepted) << c.name;
    }
}

TEST(FirmwareFileNameTest, FilterListHasOneEntryAndEnds) {
    // Description, pattern, then the empty entry that ends the list.
    const char* p = FirmwareFileFilter;
    EXPECT_STREQ(p, "Firmware File (bin)");
    p += std::strlen(p) + 1;
    EXPECT_STREQ(p, "*.bin");
    p += std::strlen(p) + 1;
    EXPECT_STREQ(p, "");
}

TEST(CurrentDirectoryTest, OnlyADirectoryThatFitsTheBufferIsUsed) {
    EXPECT_FALSE(IsUsableCurrentDirectory(0, 256));
    EXPECT_TRUE(IsUsableCurrentDirectory(3, 256));
    EXPECT_TRUE(IsUsableCurrentDirectory(255, 256));
    // The query reports the size it would have needed, terminator included.
    EXPECT_FALSE(IsUsableCurrentDirectory(256, 256));
    EXPECT_FALSE(IsUsableCurrentDirectory(300, 256));
}

TEST(CentredIconPositionTest, SignedDivisionRoundsTowardZero) {
    struct Case {
        int width, height, cx, cy, x, y;
    } cases[] = {
        {100, 60, 32, 32, 34, 14}, {33, 33, 32, 32, 1, 1}, {32, 32, 32, 32, 0, 0},
        {0, 0, 32, 32, -15, -15},  {31, 30, 32, 32, 0, 0}, {29, 0, 32, 16, -1, -7},
        {160, 24, 16, 16, 72, 4},
    };
    for (const Case& c : cases) {
        IconPosition at = CentredIconPosition(c.width, c.height, c.cx, c.cy);
        EXPECT_EQ(at.x, c.x) << c.width << "x" << c.height;
        EXPECT_EQ(at.y, c.y) << c.width << "x" << c.height;
    }
}

TEST(CentredWindowPositionTest, CentresInTheWorkAreaAndKeepsTheCaptionOnIt) {
    struct Case {
        int left, top, right, bottom, width, height, x, y;
    } cases[] = {
        {0, 0, 800, 600, 374, 135, 213, 232},
        // A task bar at the top moves the area down.
        {0, 30, 1024, 768, 374, 135, 325, 331},
        {-1280, 0, 0, 1024, 100, 100, -690, 462},
        // Larger than the area: the top-left corner stays on it.
        {0, 0, 300, 100, 374, 135, 0, 0},
        {10, 20, 300, 100, 374, 135, 10, 20},
    };
    for (const Case& c : cases) {
        WindowPosition at =
            CentredWindowPosition(c.left, c.top, c.right, c.bottom, c.width, c.height);
        EXPECT_EQ(at.x, c.x) << c.left << "," << c.top;
        EXPECT_EQ(at.y, c.y) << c.left << "," << c.top;
    }
}

}  // namespace
