// The SG_IO back-end over simulated device nodes: which nodes it lists, how
// it opens them, and a whole upgrade through them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/sgio/SgIoDeviceAccess.h"
#include "flash/UpgradeFirmware.h"
#include "sim/sgio/SimSgIoCarrier.h"
#include "tests/unit/Rig.h"

namespace {

SimDriveIdentity Named(const char* product, uint8_t type = 5, uint16_t signature = 0x1106) {
    SimDriveIdentity identity;
    identity.product = product;
    identity.deviceType = type;
    identity.signature = signature;
    return identity;
}

// Lends a carrier to a back-end, so that the carrier outlives it, and notes
// every path the back-end tries.
class Lent : public SgIoPlatform {
  public:
    Lent(SimSgIoCarrier& carrier, std::vector<std::string>& tried)
        : carrier_(carrier), tried_(tried) {}
    int Open(const char* path, int flags) override {
        tried_.push_back(path);
        return carrier_.Open(path, flags);
    }
    void Close(int fd) override { carrier_.Close(fd); }
    int SendSgIo(int fd, sg_io_hdr& h) override { return carrier_.SendSgIo(fd, h); }
    int ReadScsiAddress(int fd, ScsiAddress& a) override { return carrier_.ReadScsiAddress(fd, a); }
    bool HoldsRawIoCapability() override { return carrier_.HoldsRawIoCapability(); }

  private:
    SimSgIoCarrier& carrier_;
    std::vector<std::string>& tried_;
};

class SgIoDeviceAccessTest : public testing::Test {
  protected:
    SgIoDeviceAccess& Access() {
        if (!access_)
            access_ = std::make_unique<SgIoDeviceAccess>(std::make_unique<Lent>(carrier, tried));
        return *access_;
    }
    // Commands that reached any drive through node.
    size_t SentTo(const std::string& node) const {
        size_t count = 0;
        for (const auto& sent : carrier.Sent()) count += sent.path == node;
        return count;
    }
    std::string Listed(const DeviceList& list) const {
        std::string text;
        for (int i = 0; i < list.Count(); ++i) {
            const DeviceRecord& r = *list.At(i);
            text += SgIoDevicePath(r) + " " + std::to_string(r.AdapterId) + ":" +
                    std::to_string(r.TargetId) + " " + std::string(r.Product, 16) + "\n";
        }
        return text;
    }
    SimulatedDrive& Drive(const SimDriveIdentity& identity = {}) {
        drives.push_back(std::make_unique<SimulatedDrive>(identity));
        return *drives.back();
    }

    std::vector<std::unique_ptr<SimulatedDrive>> drives;
    SimSgIoCarrier carrier;
    std::vector<std::string> tried;
    std::unique_ptr<SgIoDeviceAccess> access_;
};

TEST_F(SgIoDeviceAccessTest, ListsEachDriveOnceAndPrefersItsCdNode) {
    SimulatedDrive& twin = Drive(Named("TWIN"));
    carrier.AddNode("/dev/sg1", twin, 1, 1);
    carrier.AddNode("/dev/sr0", twin, 1, 1);
    carrier.AddNode("/dev/sg0", Drive(Named("DISK", 0)), 0, 0);
    carrier.AddNode("/dev/sg2", Drive(Named("GENERIC ONLY")), 2, 0);
    SimulatedDrive& hidden = Drive(Named("HIDDEN CD NODE"));
    carrier.AddNode("/dev/sr1", hidden, 3, 4, {false, true});
    carrier.AddNode("/dev/sg3", hidden, 3, 4);
    SimulatedDrive& stranger = Drive(Named("STRANGER", 5, 0x0611));
    carrier.AddNode("/dev/sr2", stranger, 4, 0);
    carrier.AddNode("/dev/sg4", stranger, 4, 0);
    carrier.AddNode("/dev/sr3", Drive(Named("NOT A CD", 0)), 5, 0);

    DeviceList list;
    Access().EnumerateDevices(list);
    EXPECT_EQ(Listed(list),
              "/dev/sr0 1:1 TWIN            \n"
              "/dev/sg2 2:0 GENERIC ONLY    \n"
              "/dev/sg3 3:4 HIDDEN CD NODE  \n");
    // Twins of probed drives and the disk get no command at all; every
    // probe ran on a read-only, shared descriptor that was closed again.
    EXPECT_EQ(SentTo("/dev/sg1") + SentTo("/dev/sg0") + SentTo("/dev/sg4"), 0u);
    EXPECT_EQ(SentTo("/dev/sr2"), 4u);  // probed once, and refused by its identification
    EXPECT_EQ(carrier.OpenCount(), 0);
    ASSERT_EQ(tried.size(), 32u + 256u);
    EXPECT_EQ(tried.front() + " " + tried[31] + " " + tried[32] + " " + tried.back(),
              "/dev/sr0 /dev/sr31 /dev/sg0 /dev/sg255");
    for (const std::string& event : carrier.Events()) {
        if (event.compare(0, 5, "open ") == 0) {
            EXPECT_NE(event.find("read-only"), std::string::npos) << event;
        }
    }
    ASSERT_EQ(Access().RefusedNodes().size(), 1u);
    EXPECT_EQ(Access().RefusedNodes()[0].path, "/dev/sr1");
    EXPECT_EQ(Access().RefusedNodes()[0].reason, SgIoOpenError::NoPermission);
    const DeviceRecord zero = ZeroDeviceRecord();
    EXPECT_EQ(std::memcmp(&Access().CurrentDevice, &zero, sizeof zero), 0);
}

struct OpenCase {
    const char* name;
    SimNodeOptions options;
    SgIoNode node;
    uint8_t adapter;
    SgIoOpenError reason;
    int error;
};

TEST_F(SgIoDeviceAccessTest, AnOpenThatFailsSaysWhyAndSendsNothing) {
    const OpenCase cases[] = {
        {"mounted", {true, false}, {SgIoNodeKind::Cd, 0}, 1, SgIoOpenError::Busy, EBUSY},
        {"not ours", {false, true}, {SgIoNodeKind::Cd, 0}, 1, SgIoOpenError::NoPermission, EACCES},
        {"gone", {}, {SgIoNodeKind::Cd, 5}, 1, SgIoOpenError::NoSuchNode, ENOENT},
        {"no node", {}, {SgIoNodeKind::None, 0}, 1, SgIoOpenError::NoSuchNode, ENODEV},
        {"renumbered", {}, {SgIoNodeKind::Cd, 0}, 2, SgIoOpenError::NotSameDrive, 0},
        {"free", {}, {SgIoNodeKind::Cd, 0}, 1, SgIoOpenError::None, 0},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDrive drive;
        SimSgIoCarrier nodes;
        nodes.AddNode("/dev/sr0", drive, 1, 0, c.options);
        DeviceRecord record = ZeroDeviceRecord();
        record.AdapterId = c.adapter;
        StoreSgIoNode(record, c.node);
        {
            SgIoDeviceAccess access(std::make_unique<Lent>(nodes, tried));
            uint8_t chunk[16] = {};
            const bool opened = access.OpenDevice(record) != 0;
            EXPECT_EQ(opened, c.reason == SgIoOpenError::None);
            EXPECT_EQ(access.LastOpenError(), c.reason);
            EXPECT_EQ(access.LastOpenErrno(), c.error);
            EXPECT_EQ(access.WriteBufferSave(chunk, 0, 0, sizeof chunk), opened ? 1 : 0);
            EXPECT_EQ(nodes.Sent().size(), opened ? 1u : 0u);
            EXPECT_EQ(nodes.OpenCount(), opened ? 1 : 0);
            if (opened) {
                EXPECT_EQ(nodes.Events().back(), "open /dev/sr0 read-write exclusive");
            }
        }
        // A back-end that goes away closes what it holds.
        EXPECT_EQ(nodes.OpenCount(), 0);
    }
}

TEST_F(SgIoDeviceAccessTest, UpgradesADriveThroughItsNode) {
    SimulatedDrive& drive = Drive();
    carrier.AddNode("/dev/sr0", drive, 0, 0);
    DeviceList list;
    Access().EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    const std::vector<uint8_t> block = PayloadBlock();
    const FirmwarePayload payload(block.data());
    Feedback feedback;
    EXPECT_TRUE(UpgradeFirmware(*list.At(0), Access(), payload, feedback, [](unsigned) {}));
    EXPECT_EQ(feedback.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(drive.Flash(), std::vector<uint8_t>(payload.Image(), payload.Image() + ImageSize));
    EXPECT_EQ(drive.CommitCount(), 1);
    EXPECT_EQ(carrier.OpenCount(), 0);
}

TEST_F(SgIoDeviceAccessTest, AChunkTheDriveKeepsRefusingEndsTheUpgradeWithItsSense) {
    SimulatedDrive& drive = Drive();
    drive.AddFault({SimFault::FailWrite, 0x4000, -1});
    carrier.AddNode("/dev/sg0", drive, 0, 0);
    DeviceList list;
    Access().EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    const std::vector<uint8_t> block = PayloadBlock();
    Feedback feedback;
    EXPECT_FALSE(UpgradeFirmware(*list.At(0), Access(), FirmwarePayload(block.data()), feedback,
                                 [](unsigned) {}));
    EXPECT_EQ(feedback.Status(), "Error Happen in ID 0 OFFSET 0x4000");
    EXPECT_EQ(drive.CommitCount(), 0);
    EXPECT_EQ(DescribeSense(Access().LastSense()),
              "sense key 4 (HARDWARE ERROR), ASC 44h ASCQ 00h");
}

TEST(SgIoCapabilityTest, CapEffDecides) {
    const std::string head = "Name:\tx\nCapInh:\t0000000000000000\n";
    EXPECT_TRUE(StatusHoldsRawIo(head + "CapEff:\t0000000000020000\n", false));
    EXPECT_FALSE(StatusHoldsRawIo(head + "CapEff:\t000001fffffdffff\n", true));
    EXPECT_TRUE(StatusHoldsRawIo(head, true));
    EXPECT_FALSE(StatusHoldsRawIo(head, false));
}

TEST_F(SgIoDeviceAccessTest, WithoutRawIoTheKernelRefusesWriteBuffer) {
    carrier.AddNode("/dev/sr0", Drive(), 0, 0);
    carrier.SetRawIo(false);
    DeviceList list;
    Access().EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_FALSE(Access().MaySendMicrocode());
    ASSERT_EQ(Access().OpenDevice(*list.At(0)), 1);
    uint8_t chunk[16] = {};
    EXPECT_EQ(Access().WriteBufferSave(chunk, 0, 0, sizeof chunk), 0);
    EXPECT_EQ(Access().LastOutcome().ioctlError, EPERM);
    EXPECT_EQ(Access().ReadBufferData(chunk, 0, 0, sizeof chunk), 1);
}

}  // namespace
