#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceAccess.h"
#include "device/DriveCommands.h"
#include "sim/SimulatedDrive.h"

namespace {

constexpr uint32_t Chunk = 0x4000;

SimOutcome Send(SimulatedDrive& drive, const CommandDescription& command, uint8_t* data) {
    return drive.Execute(command.cdb, command.cdbLength, command.direction, data,
                         command.dataLength);
}

SimOutcome WriteAt(SimulatedDrive& drive, uint32_t position, std::vector<uint8_t> bytes) {
    return Send(drive,
                WriteBufferSaveCommand(BufferIdOf(position), BufferOffsetOf(position),
                                       static_cast<uint16_t>(bytes.size())),
                bytes.data());
}

SimOutcome ReadBackAt(SimulatedDrive& drive, uint32_t position, std::vector<uint8_t>& bytes) {
    return Send(drive,
                ReadBufferDataCommand(BufferIdOf(position), BufferOffsetOf(position),
                                      static_cast<uint16_t>(bytes.size())),
                bytes.data());
}

SimOutcome ReadFlashAt(SimulatedDrive& drive, uint32_t position, std::vector<uint8_t>& bytes) {
    return Send(drive,
                ReadFlashDataCommand(BufferIdOf(position), BufferOffsetOf(position),
                                     static_cast<uint16_t>(bytes.size())),
                bytes.data());
}

std::vector<uint8_t> Pattern(uint32_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    return bytes;
}

TEST(SimulatedDriveTest, InquiryAnswerPassesTheJudgeWithPaddedTexts) {
    SimDriveIdentity identity;
    identity.vendor = "ACME";
    identity.product = "DVD-16";
    identity.revision = "1A";
    SimulatedDrive drive(identity);
    std::vector<uint8_t> answer(512, 0xEE);
    // The pass-through carrier announces 512 bytes while the CDB asks for 192.
    CommandDescription inquiry = InquiryCommand(PassThroughAllocationLength);
    inquiry.dataLength = 512;
    ASSERT_EQ(Send(drive, inquiry, answer.data()), SimOutcome::Good);
    EXPECT_EQ(answer[0], 5);
    EXPECT_EQ(answer[36], 0xEE) << "the drive sends its 36 bytes and no more";

    DeviceRecord record = ZeroDeviceRecord();
    ASSERT_TRUE(JudgeInquiry(answer.data(), record));
    EXPECT_STREQ(record.Vendor, "ACME    ");
    EXPECT_STREQ(record.Product, "DVD-16          ");
    EXPECT_STREQ(record.Revision, "1A  ");
    EXPECT_STREQ(record.VendorProduct, "ACME    DVD-16          ");
}

TEST(SimulatedDriveTest, InquiryStopsAtTheAllocationOrTheBuffer) {
    const struct {
        uint8_t allocation;
        uint32_t dataLength;
        size_t written;
    } cases[] = {{8, 100, 8}, {100, 20, 20}, {0, 100, 0}, {100, 100, 36}};
    for (const auto& c : cases) {
        SimulatedDrive drive;
        std::vector<uint8_t> answer(100, 0xEE);
        CommandDescription inquiry = InquiryCommand(c.allocation);
        inquiry.dataLength = c.dataLength;
        ASSERT_EQ(Send(drive, inquiry, answer.data()), SimOutcome::Good);
        const size_t untouched = static_cast<size_t>(
            std::count(answer.begin(), answer.end(), static_cast<uint8_t>(0xEE)));
        EXPECT_EQ(untouched, 100 - c.written)
            << "allocation " << int(c.allocation) << ", buffer " << c.dataLength;
    }
}

TEST(SimulatedDriveTest, NonCdDeviceTypeIsRejectedByTheJudge) {
    SimDriveIdentity identity;
    identity.deviceType = 0;  // a hard disk
    SimulatedDrive drive(identity);
    uint8_t answer[100] = {};
    ASSERT_EQ(Send(drive, InquiryCommand(AspiAllocationLength), answer), SimOutcome::Good);
    DeviceRecord record = ZeroDeviceRecord();
    EXPECT_FALSE(JudgeInquiry(answer, record));
}

TEST(SimulatedDriveTest, IdentificationBlockCarriesTheIdentity) {
    const struct {
        uint16_t chip;
        uint16_t kb;
        uint32_t flashSize;
    } cases[] = {{0x3120, 0x80, 0x20000}, {0x3140, 0, 0x80000}, {0x3180, 0x10, 0x4000}};
    for (const auto& c : cases) {
        SimDriveIdentity identity;
        identity.chipCode = c.chip;
        identity.flashSizeKb = c.kb;
        identity.versionMajor = 2;
        identity.versionMinor = 17;
        SimulatedDrive drive(identity);
        std::vector<uint8_t> answer(192, 0xEE);
        ASSERT_EQ(Send(drive, IdentifyCommand(PassThroughAllocationLength), answer.data()),
                  SimOutcome::Good);
        EXPECT_EQ(answer[0], 0x06);
        EXPECT_EQ(answer[1], 0x11);
        EXPECT_EQ(ReadIdentifyBlock(answer.data()).FlashSizeKb, c.kb);
        for (size_t i = 12; i < answer.size(); ++i) ASSERT_EQ(answer[i], 0) << i;

        DeviceRecord record = ZeroDeviceRecord();
        ASSERT_TRUE(JudgeIdentification(answer.data(), record));
        EXPECT_EQ(record.ChipCode, c.chip);
        EXPECT_EQ(record.VersionMajor, 2);
        EXPECT_EQ(record.VersionMinor, 17);
        EXPECT_EQ(record.FlashSize, c.flashSize);
        EXPECT_EQ(drive.Flash().size(), c.flashSize);
    }
}

TEST(SimulatedDriveTest, FlashReadsThePowerOnContents) {
    SimDriveIdentity identity;
    identity.flashFill = 0x5A;
    SimulatedDrive drive(identity);
    drive.Flash()[0x1C000] = 0x01;
    std::vector<uint8_t> bytes(Chunk);
    ASSERT_EQ(ReadFlashAt(drive, 0x1C000, bytes), SimOutcome::Good);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x5A);
    EXPECT_EQ(bytes[Chunk - 1], 0x5A);
}

TEST(SimulatedDriveTest, FlashTakesTheImageOnlyWhenTheDownloadIsCommitted) {
    SimulatedDrive drive;
    const std::vector<uint8_t> image = Pattern(0x20000, 3);
    const std::vector<uint8_t> before = drive.Flash();
    for (uint32_t position = 0; position < image.size(); position += Chunk) {
        std::vector<uint8_t> chunk(image.begin() + position, image.begin() + position + Chunk);
        ASSERT_EQ(WriteAt(drive, position, chunk), SimOutcome::Good);
        std::vector<uint8_t> readBack(Chunk);
        ASSERT_EQ(ReadBackAt(drive, position, readBack), SimOutcome::Good);
        ASSERT_EQ(readBack, chunk) << std::hex << position;
    }
    EXPECT_EQ(drive.Flash(), before);
    EXPECT_FALSE(drive.Committed());

    ASSERT_EQ(Send(drive, CommitMicrocodeCommand(), nullptr), SimOutcome::Good);
    EXPECT_EQ(drive.Flash(), image);
    EXPECT_EQ(drive.CommitCount(), 1);
    std::vector<uint8_t> bank1(Chunk);
    ASSERT_EQ(ReadFlashAt(drive, 0x1C000, bank1), SimOutcome::Good);
    EXPECT_TRUE(std::equal(bank1.begin(), bank1.end(), image.begin() + 0x1C000));
}

TEST(SimulatedDriveTest, FailingCommitLeavesTheFlashAlone) {
    SimulatedDrive drive;
    const std::vector<uint8_t> before = drive.Flash();
    ASSERT_EQ(WriteAt(drive, 0, Pattern(Chunk, 1)), SimOutcome::Good);
    drive.SetCommitFails(true);
    EXPECT_EQ(Send(drive, CommitMicrocodeCommand(), nullptr), SimOutcome::CheckCondition);
    EXPECT_EQ(drive.Flash(), before);
    EXPECT_FALSE(drive.Committed());
}

TEST(SimulatedDriveTest, FaultsHitTheTransferCoveringTheirPositionAsOftenAsAsked) {
    const struct {
        const char* name;
        SimFault::Kind kind;
        int times;
        int hits;  // of 8 attempts
    } cases[] = {
        {"write fails twice", SimFault::FailWrite, 2, 2},
        {"read-back fails five times", SimFault::FailReadBack, 5, 5},
        {"read-back corrupted once", SimFault::CorruptReadBack, 1, 1},
        {"flash read fails three times", SimFault::FailFlashRead, 3, 3},
        {"write fails for ever", SimFault::FailWrite, -1, 8},
    };
    const uint32_t faultAt = 0x14123;  // inside the chunk at 0x14000
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDrive drive;
        drive.AddFault({c.kind, faultAt, c.times});
        const std::vector<uint8_t> data = Pattern(Chunk, 9);
        if (c.kind != SimFault::FailWrite) {
            ASSERT_EQ(WriteAt(drive, 0x14000, data), SimOutcome::Good);
        }
        // Neighbouring chunks never notice.
        std::vector<uint8_t> other(Chunk);
        EXPECT_EQ(WriteAt(drive, 0x10000, data), SimOutcome::Good);
        EXPECT_EQ(ReadBackAt(drive, 0x18000, other), SimOutcome::Good);
        EXPECT_EQ(ReadFlashAt(drive, 0x18000, other), SimOutcome::Good);

        int hits = 0;
        for (int attempt = 0; attempt < 8; ++attempt) {
            std::vector<uint8_t> bytes(Chunk);
            SimOutcome outcome = SimOutcome::Good;
            switch (c.kind) {
                case SimFault::FailWrite:
                    outcome = WriteAt(drive, 0x14000, data);
                    break;
                case SimFault::FailFlashRead:
                    outcome = ReadFlashAt(drive, 0x14000, bytes);
                    break;
                case SimFault::FailReadBack:
                case SimFault::CorruptReadBack:
                    outcome = ReadBackAt(drive, 0x14000, bytes);
                    if (c.kind == SimFault::CorruptReadBack && outcome == SimOutcome::Good &&
                        bytes != data) {
                        ++hits;
                        EXPECT_EQ(bytes[0x123], static_cast<uint8_t>(~data[0x123]));
                        bytes[0x123] = data[0x123];
                        EXPECT_EQ(bytes, data) << "only the fault's byte differs";
                    }
                    break;
            }
            if (outcome == SimOutcome::CheckCondition) {
                EXPECT_EQ(hits, attempt) << "failures come first, then the command works";
                ++hits;
            }
        }
        EXPECT_EQ(hits, c.hits);
    }
}

TEST(SimulatedDriveTest, FaultOnAChunkBoundaryBelongsToTheChunkStartingThere) {
    SimulatedDrive drive;
    drive.AddFault({SimFault::FailWrite, 0x18000, 1});
    EXPECT_EQ(WriteAt(drive, 0x14000, Pattern(Chunk, 0)), SimOutcome::Good);
    EXPECT_EQ(WriteAt(drive, 0x18000, Pattern(Chunk, 0)), SimOutcome::CheckCondition);
}

TEST(SimulatedDriveTest, FailedWriteStoresNothing) {
    SimulatedDrive drive;
    drive.AddFault({SimFault::FailWrite, 0, 1});
    EXPECT_EQ(WriteAt(drive, 0, Pattern(Chunk, 4)), SimOutcome::CheckCondition);
    std::vector<uint8_t> readBack(Chunk);
    ASSERT_EQ(ReadBackAt(drive, 0, readBack), SimOutcome::Good);
    EXPECT_EQ(readBack, std::vector<uint8_t>(Chunk, 0xFF));
}

TEST(SimulatedDriveTest, VanishedDriveAnswersNothing) {
    SimulatedDrive drive;
    drive.SetVanished(true);
    uint8_t buffer[Chunk] = {};
    const CommandDescription commands[] = {InquiryCommand(AspiAllocationLength),
                                           TestUnitReadyCommand(),
                                           IdentifyCommand(AspiAllocationLength),
                                           ReadBufferDataCommand(0, 0, Chunk),
                                           ReadFlashDataCommand(0, 0, Chunk),
                                           WriteBufferSaveCommand(0, 0, Chunk),
                                           CommitMicrocodeCommand()};
    for (const CommandDescription& command : commands) {
        EXPECT_EQ(Send(drive, command, command.dataLength ? buffer : nullptr), SimOutcome::NoDevice)
            << std::hex << int(command.cdb[0]);
    }
    EXPECT_FALSE(drive.Committed());
    drive.SetVanished(false);
    EXPECT_EQ(Send(drive, TestUnitReadyCommand(), nullptr), SimOutcome::Good);
}

TEST(SimulatedDriveTest, RefusesWhatItDoesNotKnowOrCannotHold) {
    auto raw = [](std::vector<uint8_t> cdb, DataDirection direction, uint32_t length) {
        CommandDescription command = {};
        std::copy(cdb.begin(), cdb.end(), command.cdb);
        command.cdbLength = static_cast<uint8_t>(cdb.size());
        command.direction = direction;
        command.dataLength = length;
        return command;
    };
    CommandDescription shortBuffer = ReadBufferDataCommand(0, 0, Chunk);
    shortBuffer.dataLength = 0x100;
    CommandDescription wrongWay = WriteBufferSaveCommand(0, 0, Chunk);
    wrongWay.direction = DataDirection::In;
    const struct {
        const char* name;
        CommandDescription command;
    } cases[] = {
        {"READ(10)", raw({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, DataDirection::In, 0x800)},
        {"READ BUFFER mode 3", raw({0x3C, 3, 0, 0, 0, 0, 0, 0, 4, 0}, DataDirection::In, 4)},
        {"WRITE BUFFER mode 5",
         raw({0x3B, 5, 0, 0, 0, 0, 0, 0x40, 0, 0}, DataDirection::Out, Chunk)},
        {"READ BUFFER mode 1 control 2",
         raw({0x3C, 1, 0, 0, 0, 0, 0, 0x40, 0, 2}, DataDirection::In, Chunk)},
        {"vital product data page", raw({0x12, 1, 0x80, 0, 0x64, 0}, DataDirection::In, 0x64)},
        {"INQUIRY with a 4-byte CDB", raw({0x12, 0, 0, 0}, DataDirection::In, 0x64)},
        {"identification from bank 1",
         raw({0x3C, 1, 1, 0, 0, 0, 0, 0, 0x64, 0}, DataDirection::In, 0x64)},
        {"read-back of bank 2", ReadBufferDataCommand(2, 0, Chunk)},
        {"flash read across the end", ReadFlashDataCommand(1, 0xC000, 0x8000)},
        {"write past the end", WriteBufferSaveCommand(1, 0xE000, Chunk)},
        {"write into bank 255", WriteBufferSaveCommand(0xFF, 0, Chunk)},
        {"commit with data", raw({0x3B, 4, 0, 0, 0, 0, 0, 0x40, 0, 0}, DataDirection::Out, Chunk)},
        {"buffer shorter than the transfer", shortBuffer},
        {"write announced as inbound", wrongWay},
    };
    for (const auto& c : cases) {
        SimulatedDrive drive;
        const std::vector<uint8_t> flash = drive.Flash();
        std::vector<uint8_t> buffer(0x10000, 0xAB);
        EXPECT_EQ(Send(drive, c.command, buffer.data()), SimOutcome::CheckCondition) << c.name;
        EXPECT_EQ(drive.Flash(), flash) << c.name;
        EXPECT_EQ(drive.DownloadBuffer(), std::vector<uint8_t>(0x20000, 0xFF)) << c.name;
        ASSERT_EQ(drive.Log().size(), 1u);
        EXPECT_FALSE(drive.Log()[0].note.empty()) << c.name << ": a refusal says why";
    }
}

TEST(SimulatedDriveTest, LogReadsAsARecordOfTheRun) {
    SimulatedDrive drive;
    drive.AddFault({SimFault::FailWrite, 0x4000, 1});
    drive.SetCompletionDelayMs(250);
    uint8_t answer[192] = {};
    std::vector<uint8_t> chunk = Pattern(Chunk, 0);
    Send(drive, InquiryCommand(AspiAllocationLength), answer);
    Send(drive, TestUnitReadyCommand(), nullptr);
    Send(drive, IdentifyCommand(PassThroughAllocationLength), answer);
    WriteAt(drive, 0x4000, chunk);
    WriteAt(drive, 0x14000, chunk);
    ReadBackAt(drive, 0x14000, chunk);
    ReadFlashAt(drive, 0x0000, chunk);
    Send(drive, CommitMicrocodeCommand(), nullptr);
    drive.SetVanished(true);
    Send(drive, TestUnitReadyCommand(), nullptr);

    EXPECT_EQ(drive.LogText(),
              "INQUIRY allocation length 100: good\n"
              "TEST UNIT READY: good\n"
              "READ BUFFER mode 1 identification length 192: good\n"
              "WRITE BUFFER mode 7 id 0 offset 0x4000 length 0x4000: check condition (injected "
              "write failure)\n"
              "WRITE BUFFER mode 7 id 1 offset 0x4000 length 0x4000: good\n"
              "READ BUFFER mode 2 id 1 offset 0x4000 length 0x4000: good\n"
              "READ BUFFER mode 1 flash id 0 offset 0x0000 length 0x4000: good\n"
              "WRITE BUFFER mode 4 commit: good (flash programmed)\n"
              "TEST UNIT READY: no device\n");
    ASSERT_EQ(drive.Log().size(), 9u);
    EXPECT_EQ(drive.Log()[3].direction, DataDirection::Out);
    EXPECT_EQ(drive.Log()[3].dataLength, Chunk);
    EXPECT_EQ(drive.CompletionDelayMs(), 250u);
}

}  // namespace
