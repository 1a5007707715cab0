// The flash operations against the simulated drive, reached through the
// drive command set as both back-ends send it: what the operations ask for
// must be what a drive understands.
#include <gtest/gtest.h>

#include <cstring>

#include "device/DriveCommands.h"
#include "flash/SaveFlashToFile.h"
#include "flash/UpgradeFirmware.h"
#include "sim/SimulatedDrive.h"
#include "tests/unit/flash/FlashFakes.h"

namespace {

// A back-end whose carrier hands each CDB straight to the simulated drive.
class SimulatedDeviceAccess : public DeviceAccess {
  public:
    explicit SimulatedDeviceAccess(SimulatedDrive& drive) : drive_(drive) {}

    void EnumerateDevices(DeviceList&) override {}
    int InquireDevice() override { return 0; }
    int IdentifyController() override { return 0; }
    int OpenDevice(const DeviceRecord& record) override {
        CurrentDevice = record;
        return 1;
    }
    void CloseDevice() override {}
    int ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                       uint16_t length) override {
        return Send(ReadBufferDataCommand(bufferId, offset, length), destination);
    }
    int ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                      uint16_t length) override {
        return Send(ReadFlashDataCommand(bufferId, offset, length), destination);
    }
    int WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                        uint16_t length) override {
        return Send(WriteBufferSaveCommand(bufferId, offset, length), const_cast<uint8_t*>(source));
    }
    int CommitMicrocode() override { return Send(CommitMicrocodeCommand(), nullptr); }

  private:
    int Send(const CommandDescription& command, uint8_t* data) {
        return drive_.Execute(command.cdb, command.cdbLength, command.direction, data,
                              command.dataLength) == SimOutcome::Good;
    }
    SimulatedDrive& drive_;
};

std::vector<uint8_t> FilledBlock() {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    std::memcpy(block.data(), "2.01", 4);
    for (uint32_t i = 0; i < ImageSize; ++i)
        block[PayloadImageOffset + i] = static_cast<uint8_t>((i * 11) ^ (i >> 10));
    char text[5];
    std::snprintf(
        text, sizeof text, "%04X",
        static_cast<unsigned>(ImageChecksum(block.data() + PayloadImageOffset, ImageSize)));
    std::memcpy(block.data() + PayloadChecksumOffset, text, 4);
    block[PayloadModelOffset] = '4';
    return block;
}

TEST(SimulatedDriveFlashTest, UpgradeWritesVerifiesAndCommitsTheImage) {
    SimulatedDrive sim;
    SimulatedDeviceAccess device(sim);
    Journal journal;
    RecordingFeedback feedback(journal);
    sim.AddFault({SimFault::CorruptReadBack, 0x14000, 2});
    sim.AddFault({SimFault::FailWrite, 0x4000, 4});
    const std::vector<uint8_t> block = FilledBlock();
    ASSERT_TRUE(UpgradeFirmware(TestRecord(ImageSize), device, FirmwarePayload(block.data()),
                                feedback, nullptr))
        << feedback.Status() << "\n"
        << sim.LogText();
    EXPECT_EQ(sim.CommitCount(), 1);
    // Eight chunks, plus one more write for each failed attempt.
    size_t writes = 0;
    for (const SimLogEntry& entry : sim.Log()) writes += entry.cdb[0] == OpWriteBuffer;
    EXPECT_EQ(writes, 8u + 4u + 2u + 1u);
    ASSERT_GE(sim.Flash().size(), ImageSize);
    EXPECT_TRUE(std::equal(sim.Flash().begin(), sim.Flash().begin() + ImageSize,
                           block.begin() + PayloadImageOffset));
}

TEST(SimulatedDriveFlashTest, UpgradeStopsAtAChunkTheDriveKeepsRefusing) {
    SimulatedDrive sim;
    SimulatedDeviceAccess device(sim);
    Journal journal;
    RecordingFeedback feedback(journal);
    sim.AddFault({SimFault::FailReadBack, 0x1C000, 5});
    const std::vector<uint8_t> block = FilledBlock();
    EXPECT_FALSE(UpgradeFirmware(TestRecord(ImageSize), device, FirmwarePayload(block.data()),
                                 feedback, nullptr));
    EXPECT_EQ(feedback.Status(), "Error Happen in ID 1 OFFSET 0xC000");
    EXPECT_FALSE(sim.Committed());
}

TEST(SimulatedDriveFlashTest, SaveReadsTheWholeFlash) {
    SimDriveIdentity identity;
    identity.flashSizeKb = 0x100;  // 0x40000 bytes
    SimulatedDrive sim(identity);
    sim.Flash().resize(0x40000);
    for (size_t i = 0; i < sim.Flash().size(); ++i)
        sim.Flash()[i] = static_cast<uint8_t>(i * 7 + 1);
    sim.AddFault({SimFault::FailFlashRead, 0x34000, 3});
    SimulatedDeviceAccess device(sim);
    Journal journal;
    RecordingFeedback feedback(journal);
    MemoryFile file(journal);
    SaveFlashToFile(TestRecord(0x40000), device, "flash.bin", file, feedback);
    EXPECT_EQ(feedback.Status(), "Save Firmware Successful!!") << sim.LogText();
    EXPECT_EQ(file.contents, sim.Flash());
}

}  // namespace
