// The flash operations over the pass-through back-end, with a simulated
// drive behind the carrier: every command goes through the request images
// and the control call as it would on the NT family.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device/passthrough/PassThroughDeviceAccess.h"
#include "flash/SaveFlashToFile.h"
#include "flash/UpgradeFirmware.h"
#include "payload/FirmwarePayload.h"
#include "sim/passthrough/SimPassThroughCarrier.h"

namespace {

class StatusRecorder : public OperatorFeedback {
  public:
    std::vector<std::string> statusTexts;
    std::vector<unsigned> pauses;

    std::string Status() const { return statusTexts.empty() ? "" : statusTexts.back(); }
    void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
    void SetProgress(int) override {}
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override {
        return AnswerOk;
    }
};

// A filled payload block whose image is a pattern and whose checksum text
// matches it.
std::vector<uint8_t> PayloadBlock() {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    uint8_t* image = block.data() + PayloadImageOffset;
    for (uint32_t i = 0; i < ImageSize; ++i) image[i] = static_cast<uint8_t>(i ^ (i >> 9));
    char header[PayloadHeaderSize + 1];
    std::snprintf(header, sizeof header, "1.58 %04X", ImageChecksum(image, ImageSize));
    std::copy(header, header + 9, block.begin());
    block[PayloadModelOffset] = '1';
    return block;
}

class PassThroughFlashTest : public testing::Test {
  protected:
    PassThroughFlashTest() {
        auto carrier = std::make_unique<SimPassThroughCarrier>();
        carrier_ = carrier.get();
        drive_ = &carrier_->AddDrive('E');
        access_ = std::make_unique<PassThroughDeviceAccess>(std::move(carrier));
    }

    const DeviceRecord& Found() {
        access_->EnumerateDevices(list_);
        EXPECT_EQ(list_.Count(), 1);
        return *list_.At(0);
    }

    bool Upgrade(const FirmwarePayload& payload) {
        const DeviceRecord selected = Found();
        carrier_->ClearRecord();
        return UpgradeFirmware(selected, *access_, payload, feedback_,
                               [this](unsigned ms) { feedback_.pauses.push_back(ms); });
    }

    // Direct requests that carried the given CDB opcode and mode.
    int DirectRequests(uint8_t opcode, uint8_t mode) const {
        int count = 0;
        for (const auto& call : carrier_->Controls()) {
            if (call.code == IoctlScsiPassThroughDirect && call.input[CdbField] == opcode &&
                call.input[CdbField + 1] == mode) {
                ++count;
            }
        }
        return count;
    }

    SimPassThroughCarrier* carrier_;
    SimulatedDrive* drive_;
    std::unique_ptr<PassThroughDeviceAccess> access_;
    DeviceList list_;
    StatusRecorder feedback_;
};

TEST_F(PassThroughFlashTest, UpgradeWritesVerifiesAndCommits) {
    const std::vector<uint8_t> block = PayloadBlock();
    const FirmwarePayload payload(block.data());
    ASSERT_TRUE(Upgrade(payload));
    EXPECT_EQ(feedback_.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(DirectRequests(0x3B, 7), 8);
    EXPECT_EQ(DirectRequests(0x3C, 2), 8);
    EXPECT_EQ(DirectRequests(0x3B, 4), 1);
    EXPECT_EQ(drive_->CommitCount(), 1);
    EXPECT_EQ(drive_->Flash(), std::vector<uint8_t>(payload.Image(), payload.Image() + ImageSize));
    EXPECT_EQ(feedback_.pauses, std::vector<unsigned>{CommitDelay});
    EXPECT_EQ(carrier_->OpenHandleCount(), 0);
}

TEST_F(PassThroughFlashTest, UpgradeRidesOutFaultsBelowTheRetryLimit) {
    drive_->AddFault({SimFault::FailWrite, 0x4000, 2});
    drive_->AddFault({SimFault::CorruptReadBack, 0x1C010, 4});
    drive_->AddFault({SimFault::FailReadBack, 0x10000, 1});
    const std::vector<uint8_t> block = PayloadBlock();
    const FirmwarePayload payload(block.data());
    ASSERT_TRUE(Upgrade(payload));
    EXPECT_EQ(feedback_.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(DirectRequests(0x3B, 7), 8 + 2 + 4 + 1);
    EXPECT_EQ(drive_->Flash(), std::vector<uint8_t>(payload.Image(), payload.Image() + ImageSize));
    EXPECT_EQ(carrier_->OpenHandleCount(), 0);
}

TEST_F(PassThroughFlashTest, UpgradeStopsAfterFiveFailuresOnOneChunk) {
    drive_->AddFault({SimFault::CorruptReadBack, 0x18000, 5});
    const std::vector<uint8_t> flashBefore = drive_->Flash();
    const std::vector<uint8_t> block = PayloadBlock();
    EXPECT_FALSE(Upgrade(FirmwarePayload(block.data())));
    EXPECT_EQ(feedback_.Status(), "Error Happen in ID 1 OFFSET 0x8000");
    EXPECT_EQ(DirectRequests(0x3B, 4), 0);
    EXPECT_FALSE(drive_->Committed());
    EXPECT_EQ(drive_->Flash(), flashBefore);
    EXPECT_EQ(carrier_->OpenHandleCount(), 0);
}

TEST_F(PassThroughFlashTest, VanishedDriveEndsTheUpgrade) {
    const DeviceRecord selected = Found();
    drive_->SetVanished(true);
    const std::vector<uint8_t> block = PayloadBlock();
    EXPECT_FALSE(UpgradeFirmware(selected, *access_, FirmwarePayload(block.data()), feedback_,
                                 [](unsigned) {}));
    EXPECT_EQ(feedback_.Status(), "Error Happen in ID 0 OFFSET 0x0000");
    EXPECT_EQ(carrier_->OpenHandleCount(), 0);
}

TEST_F(PassThroughFlashTest, ReadOutReturnsTheWholeFlash) {
    for (size_t i = 0; i < drive_->Flash().size(); ++i) {
        drive_->Flash()[i] = static_cast<uint8_t>(i * 13 + (i >> 14));
    }
    drive_->AddFault({SimFault::FailFlashRead, 0x14000, 3});
    ASSERT_NE(access_->OpenDevice(Found()), 0);
    std::vector<uint8_t> image(access_->CurrentDevice.FlashSize);
    EXPECT_EQ(ReadFlashImage(*access_, image.data(), feedback_), 1);
    access_->CloseDevice();
    EXPECT_EQ(image, drive_->Flash());
    EXPECT_EQ(DirectRequests(0x3C, 1), 8 + 3);
}

}  // namespace
