#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceAccess.h"
#include "device/DriveCommands.h"
#include "device/EnumerationProbe.h"

namespace {

std::vector<uint8_t> CdbOf(const CommandDescription& command) {
    return std::vector<uint8_t>(command.cdb, command.cdb + command.cdbLength);
}

struct CdbCase {
    const char* name;
    CommandDescription command;
    std::vector<uint8_t> cdb;
    DataDirection direction;
    uint32_t dataLength;
};

TEST(DriveCommandsTest, BuildsEveryCommandByteForByte) {
    const CdbCase cases[] = {
        {"inquiry, ASPI",
         InquiryCommand(AspiAllocationLength),
         {0x12, 0, 0, 0, 0x64, 0},
         DataDirection::In,
         0x64},
        {"inquiry, pass-through",
         InquiryCommand(PassThroughAllocationLength),
         {0x12, 0, 0, 0, 0xC0, 0},
         DataDirection::In,
         0xC0},
        {"test unit ready", TestUnitReadyCommand(), std::vector<uint8_t>(12, 0), DataDirection::In,
         0},
        {"identification, ASPI",
         IdentifyCommand(AspiAllocationLength),
         {0x3C, 1, 0, 0, 0, 0, 0, 0, 0x64, 0},
         DataDirection::In,
         0x64},
        {"identification, pass-through",
         IdentifyCommand(PassThroughAllocationLength),
         {0x3C, 1, 0, 0, 0, 0, 0, 0, 0xC0, 0},
         DataDirection::In,
         0xC0},
        {"read buffer data",
         ReadBufferDataCommand(1, 0xC000, 0x4000),
         {0x3C, 2, 1, 0, 0xC0, 0, 0, 0x40, 0, 0},
         DataDirection::In,
         0x4000},
        {"read flash data",
         ReadFlashDataCommand(0, 0x4000, 0x4000),
         {0x3C, 1, 0, 0, 0x40, 0, 0, 0x40, 0, 1},
         DataDirection::In,
         0x4000},
        {"write buffer save",
         WriteBufferSaveCommand(0, 0, 0x4000),
         {0x3B, 7, 0, 0, 0, 0, 0, 0x40, 0, 0},
         DataDirection::Out,
         0x4000},
        {"write buffer save, odd numbers",
         WriteBufferSaveCommand(0xAB, 0x1234, 0xFFFF),
         {0x3B, 7, 0xAB, 0, 0x12, 0x34, 0, 0xFF, 0xFF, 0},
         DataDirection::Out,
         0xFFFF},
        {"commit",
         CommitMicrocodeCommand(),
         {0x3B, 4, 0, 0, 0, 0, 0, 0, 0, 0},
         DataDirection::Out,
         0},
    };
    for (const CdbCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CdbOf(c.command), c.cdb);
        EXPECT_EQ(c.command.direction, c.direction);
        EXPECT_EQ(c.command.dataLength, c.dataLength);
        for (size_t i = c.command.cdbLength; i < sizeof c.command.cdb; ++i) {
            EXPECT_EQ(c.command.cdb[i], 0) << "unused CDB byte " << i;
        }
    }
}

TEST(DriveCommandsTest, ImagePositionReachesTheCommandAsBankAndOffset) {
    // Bank 0x101 of a caller's position reaches the drive as buffer id 0x01,
    // with the offset 0xC000 taken from the position's low 16 bits.
    const uint32_t position = 0x101C000;
    const CommandDescription command =
        ReadBufferDataCommand(BufferIdOf(position), BufferOffsetOf(position), 0x4000);
    EXPECT_EQ(command.cdb[2], 0x01);
    EXPECT_EQ(command.cdb[4], 0xC0);
    EXPECT_EQ(command.cdb[5], 0x00);
}

// A 36-byte standard inquiry answer with the given device type and texts
// (copied without terminators).
std::vector<uint8_t> InquiryAnswer(uint8_t deviceType, const char* vendor, const char* product,
                                   const char* revision) {
    std::vector<uint8_t> answer(100, 0);
    answer[0] = deviceType;
    std::memcpy(&answer[8], vendor, 8);
    std::memcpy(&answer[16], product, 16);
    std::memcpy(&answer[32], revision, 4);
    return answer;
}

TEST(JudgeInquiryTest, AcceptsOnlyCdDvdDevicesWhateverTheQualifier) {
    const struct {
        uint8_t byte0;
        bool accepted;
    } cases[] = {{0x05, true},  {0x25, true},  {0xE5, true}, {0x00, false},
                 {0x1F, false}, {0x04, false}, {0x15, false}};
    for (const auto& c : cases) {
        DeviceRecord record = ZeroDeviceRecord();
        const std::vector<uint8_t> answer =
            InquiryAnswer(c.byte0, "VENDOR  ", "PRODUCT NAME 16C", "1.23");
        EXPECT_EQ(JudgeInquiry(answer.data(), record), c.accepted) << std::hex << int(c.byte0);
        if (c.accepted) {
            EXPECT_STREQ(record.Vendor, "VENDOR  ");
        } else {
            const DeviceRecord zero = ZeroDeviceRecord();
            EXPECT_EQ(std::memcmp(&record, &zero, sizeof record), 0) << "rejected, yet copied";
        }
    }
}

TEST(JudgeInquiryTest, CopiesTheTextsWithTheirPaddingAndKeepsTheTerminators) {
    DeviceRecord record = ZeroDeviceRecord();
    record.ChipCode = 0x3140;  // set by an earlier probe; inquiry must not touch it
    const std::vector<uint8_t> answer =
        InquiryAnswer(0x05, "ABCDEFGH", "0123456789ABCDEF", "WXYZ");  // no NUL anywhere
    ASSERT_TRUE(JudgeInquiry(answer.data(), record));
    EXPECT_STREQ(record.Vendor, "ABCDEFGH");
    EXPECT_STREQ(record.Product, "0123456789ABCDEF");
    EXPECT_STREQ(record.Revision, "WXYZ");
    EXPECT_STREQ(record.VendorProduct, "ABCDEFGH0123456789ABCDEF");
    EXPECT_EQ(record.ChipCode, 0x3140);
    for (uint8_t byte : record.Reserved72) EXPECT_EQ(byte, 0);
}

TEST(JudgeInquiryTest, CopiesBytesAfterAnEarlyNulAllTheSame) {
    DeviceRecord record = ZeroDeviceRecord();
    const std::vector<uint8_t> answer =
        InquiryAnswer(0x05, "AB\0DEFGH", "PR\0DUCT         ", "1\0 3");
    ASSERT_TRUE(JudgeInquiry(answer.data(), record));
    EXPECT_EQ(std::memcmp(record.Vendor, "AB\0DEFGH\0", 9), 0);
    EXPECT_EQ(std::memcmp(record.Product, "PR\0DUCT         \0", 17), 0);
    EXPECT_EQ(std::memcmp(record.Revision, "1\0 3\0", 5), 0);
    EXPECT_EQ(std::memcmp(record.VendorProduct, "AB\0DEFGHPR\0DUCT         \0", 25), 0);
}

std::vector<uint8_t> IdentifyAnswer(uint8_t b0, uint8_t b1, uint16_t chip, uint16_t kb) {
    std::vector<uint8_t> answer(192, 0);
    answer[0] = b0;
    answer[1] = b1;
    WriteIdentifyBlock({static_cast<uint16_t>(b0 | b1 << 8), chip, 0x0102, 0x0304, kb},
                       answer.data());
    answer[4] = 0xAA;  // not interpreted
    answer[5] = 0x55;
    return answer;
}

TEST(JudgeIdentificationTest, AcceptsTheSignatureAndKnownChipsOnly) {
    const struct {
        const char* name;
        std::vector<uint8_t> answer;
        bool accepted;
        uint32_t flashSize;
    } cases[] = {
        {"0x3120, 128 KB", IdentifyAnswer(0x06, 0x11, 0x3120, 0x0080), true, 0x20000},
        {"0x3140, 512 KB", IdentifyAnswer(0x06, 0x11, 0x3140, 0x0200), true, 0x80000},
        {"0x3180, largest size", IdentifyAnswer(0x06, 0x11, 0x3180, 0xFFFF), true, 0x3FFFC00},
        {"0x3120, size 0", IdentifyAnswer(0x06, 0x11, 0x3120, 0), true, 0x20000},
        {"0x3140, size 0", IdentifyAnswer(0x06, 0x11, 0x3140, 0), true, 0x80000},
        {"0x3180, size 0", IdentifyAnswer(0x06, 0x11, 0x3180, 0), true, 0x40000},
        {"signature swapped", IdentifyAnswer(0x11, 0x06, 0x3120, 0x0080), false, 0},
        {"signature 0", IdentifyAnswer(0, 0, 0x3120, 0x0080), false, 0},
        {"chip 0x3160", IdentifyAnswer(0x06, 0x11, 0x3160, 0x0080), false, 0},
        {"chip bytes swapped", IdentifyAnswer(0x06, 0x11, 0x2031, 0x0080), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceRecord record = ZeroDeviceRecord();
        std::memcpy(record.Vendor, "KEEPME  ", 8);
        DeviceRecord before = record;
        ASSERT_EQ(JudgeIdentification(c.answer.data(), record), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << "rejected, yet changed";
            continue;
        }
        EXPECT_EQ(record.ChipCode, ReadIdentifyBlock(c.answer.data()).ChipCode);
        EXPECT_EQ(record.VersionMajor, 0x0102);
        EXPECT_EQ(record.VersionMinor, 0x0304);
        EXPECT_EQ(record.FlashSize, c.flashSize);
        EXPECT_STREQ(record.Vendor, "KEEPME  ");
        // Fields the identification does not own stay as they were.
        before.ChipCode = record.ChipCode;
        before.VersionMajor = record.VersionMajor;
        before.VersionMinor = record.VersionMinor;
        before.FlashSize = record.FlashSize;
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    }
}

TEST(JudgeIdentificationTest, ReadsLittleEndianFields) {
    const uint8_t answer[12] = {0x06, 0x11, 0x40, 0x31, 0, 0, 0x02, 0x01, 0x09, 0x00, 0x00, 0x02};
    DeviceRecord record = ZeroDeviceRecord();
    ASSERT_TRUE(JudgeIdentification(answer, record));
    EXPECT_EQ(record.ChipCode, 0x3140);
    EXPECT_EQ(record.VersionMajor, 0x0102);
    EXPECT_EQ(record.VersionMinor, 9);
    EXPECT_EQ(record.FlashSize, 0x80000u);
}

TEST(DefaultFlashSizeTest, UnknownChipHasNoSize) {
    EXPECT_EQ(DefaultFlashSize(0x3160), 0u);
}

// A back-end stand-in that plays the probes from a script.
struct ScriptedBackend {
    bool inquiryPasses = true;
    bool identificationPasses = true;
    std::string calls;
    DeviceRecord CurrentDevice = ZeroDeviceRecord();

    int InquireDevice() {
        calls += "I";
        if (inquiryPasses) std::memcpy(CurrentDevice.Vendor, "PROBED  ", 8);
        return inquiryPasses;
    }
    int TestUnitReady() {
        calls += "T";
        return 0;  // not ready: must not matter
    }
    int IdentifyController() {
        calls += "C";
        if (identificationPasses) CurrentDevice.FlashSize = 0x20000;
        return identificationPasses;
    }
};

TEST(ProbeAddressTest, ListsADriveThatPassesBothProbesWhateverTestUnitReadySays) {
    const struct {
        bool inquiry;
        bool identification;
        const char* calls;
        bool listed;
    } cases[] = {
        {true, true, "ITTC", true},
        {false, true, "I", false},
        {true, false, "ITTC", false},
    };
    for (const auto& c : cases) {
        ScriptedBackend backend;
        backend.inquiryPasses = c.inquiry;
        backend.identificationPasses = c.identification;
        backend.CurrentDevice.TargetId = 3;
        DeviceList list;
        EXPECT_EQ(ProbeAddress(backend, list), c.listed);
        EXPECT_EQ(backend.calls, c.calls);
        ASSERT_EQ(list.Count(), c.listed ? 1 : 0);
        if (c.listed) {
            EXPECT_EQ(std::memcmp(list.At(0), &backend.CurrentDevice, sizeof(DeviceRecord)), 0);
            EXPECT_EQ(list.At(0)->TargetId, 3);
            EXPECT_EQ(list.At(0)->FlashSize, 0x20000u);
        }
    }
}

TEST(ProbeAddressTest, AppendsInDiscoveryOrder) {
    ScriptedBackend backend;
    DeviceList list;
    for (uint8_t target = 0; target < 3; ++target) {
        backend.CurrentDevice.TargetId = target;
        backend.identificationPasses = target != 1;
        ProbeAddress(backend, list);
    }
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.At(0)->TargetId, 0);
    EXPECT_EQ(list.At(1)->TargetId, 2);
}

}  // namespace
