// The upgrade and the flash read-out carried by the ASPI back-end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "flash/UpgradeFirmware.h"
#include "payload/FirmwarePayload.h"
#include "tests/unit/aspi/AspiBench.h"
#include "tests/unit/aspi/TestPayload.h"

namespace {

class LastStatus : public OperatorFeedback {
  public:
    void SetStatusText(const std::string& text) override { status = text; }
    void SetProgress(int position) override { progress = position; }
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override {
        return AnswerOk;
    }
    std::string status;
    int progress = -1;
};

// WRITE BUFFER mode 7 commands the drive received at position.
int WritesAt(const SimulatedDrive& drive, uint32_t position) {
    int writes = 0;
    for (const SimLogEntry& entry : drive.Log())
        if (entry.cdb.size() >= 10 && entry.cdb[0] == 0x3B && entry.cdb[1] == 7 &&
            ((entry.cdb[2] << 16) | (entry.cdb[4] << 8) | entry.cdb[5]) ==
                static_cast<int>(position))
            ++writes;
    return writes;
}

TEST(AspiUpgradeTest, UpgradeWithFaultsThroughTheBackEnd) {
    struct Case {
        const char* name;
        std::vector<SimFault> faults;
        bool commitFails;
        unsigned delayMs;
        bool succeeds;
        bool flashReplaced;
        std::string status;
        uint32_t retriedAt;
        int writesThere;
    } cases[] = {
        {"clean", {}, false, 0, true, true, "Upgrade Firmware Successful!!", 0, 1},
        {"write refused twice",
         {{SimFault::FailWrite, 0x4000, 2}},
         false,
         0,
         true,
         true,
         "Upgrade Firmware Successful!!",
         0x4000,
         3},
        {"read-back corrupted four times",
         {{SimFault::CorruptReadBack, 0x1C123, 4}},
         false,
         0,
         true,
         true,
         "Upgrade Firmware Successful!!",
         0x1C000,
         5},
        {"read-back refused five times",
         {{SimFault::FailReadBack, 0x14000, 5}},
         false,
         0,
         false,
         false,
         "Error Happen in ID 1 OFFSET 0x4000",
         0x14000,
         5},
        {"late completions",
         {{SimFault::FailWrite, 0x8000, 1}},
         false,
         1,
         true,
         true,
         "Upgrade Firmware Successful!!",
         0x8000,
         2},
        // The commit's own outcome is not looked at.
        {"commit refused", {}, true, 0, true, false, "Upgrade Firmware Successful!!", 0, 1},
    };
    const std::vector<uint8_t> block = MakePayloadBlock();
    const FirmwarePayload payload(block.data());
    const std::vector<uint8_t> image(payload.Image(), payload.Image() + ImageSize);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AspiBench bench;
        ThreadScheduler scheduler;
        bench.host.SetScheduler(&scheduler);
        bench.host.AddAdapter(SS_INVALID_HA);
        bench.host.AddAdapter(SS_COMP, 2);
        SimulatedDrive& drive = bench.AddDrive(1, 1);
        for (const SimFault& fault : c.faults) drive.AddFault(fault);
        drive.SetCommitFails(c.commitFails);
        drive.SetCompletionDelayMs(c.delayMs);
        const std::vector<uint8_t> before = drive.Flash();

        auto backend = bench.Open();
        DeviceList list;
        backend->EnumerateDevices(list);
        ASSERT_EQ(list.Count(), 1);
        LastStatus feedback;
        std::vector<unsigned> pauses;
        bool result = UpgradeFirmware(*list.At(0), *backend, payload, feedback,
                                      [&pauses](unsigned ms) { pauses.push_back(ms); });

        EXPECT_EQ(result, c.succeeds);
        EXPECT_EQ(feedback.status, c.status);
        EXPECT_TRUE(drive.Flash() == (c.flashReplaced ? image : before));
        EXPECT_EQ(WritesAt(drive, c.retriedAt), c.writesThere);
        EXPECT_EQ(drive.Committed(), c.flashReplaced);
        if (c.succeeds) {
            EXPECT_EQ(feedback.progress, 100);
        }
    }
}

}  // namespace
