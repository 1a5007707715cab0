// The SG_IO back-end over simulated device nodes: which nodes it lists, how
// it opens them, what it hands the kernel for each command and how it judges
// what the kernel writes back.
#include <gmock/gmock.h>

#include <cerrno>
#include <deque>

#include "tests/unit/Rig.h"

namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;

TEST(SgIo, EveryRequestAsTheKernelReceivesIt) {
    Rig rig(Rig::SgIo);
    auto& access = static_cast<SgIoDeviceAccess&>(*rig.access);
    DeviceRecord record = ZeroDeviceRecord();
    StoreSgIoNode(record, {SgIoNodeKind::Cd, 0});
    ASSERT_EQ(access.OpenDevice(record), 1);
    std::vector<uint8_t> buffer(0x4000);
    EXPECT_THAT(SendEveryCommand(access, buffer.data()), ElementsAre(1, 1, 1, 1, 1, 1, 1));
    // Interface, direction, length, time-out, sense capacity, flags, scatter
    // list, where the data goes; then the CDB.
    std::vector<std::string> sent;
    for (const SimSgIoCarrier::SentCommand& s : rig.nodes.Sent()) {
        const sg_io_hdr& h = s.header;
        const char* data = h.dxferp == buffer.data() ? "data" : h.dxferp ? "own" : "none";
        sent.push_back(FormatText("%c %d %u %u %u %u %u %s %u: ", h.interface_id, h.dxfer_direction,
                                  h.dxfer_len, h.timeout, h.mx_sb_len, h.flags, h.iovec_count, data,
                                  h.cmd_len) +
                       Dump(s.cdb.data(), s.cdb.size(), 0, nullptr));
    }
    EXPECT_THAT(sent, ElementsAre("S -3 192 20000 32 0 0 own 6: 12 00 00 00 C0",
                                  "S -1 0 20000 32 0 0 none 12: ",
                                  "S -3 192 20000 32 0 0 own 10: 3C 01 0*6 C0",
                                  "S -3 16384 256000 32 0 0 data 10: 3C 02 01 00 C0 00 00 40",
                                  "S -3 16384 256000 32 0 0 data 10: 3C 01 00 00 40 00 00 40 00 01",
                                  "S -2 16384 256000 32 0 0 data 10: 3B 07 01 00 12 34 00 40",
                                  "S -1 0 256000 32 0 0 none 10: 3B 04"));
}

TEST(SgIo, ListsEachDriveOnceAndPrefersItsCdNode) {
    Rig rig(Rig::SgIo);  // /dev/sr0 at 0:0
    std::deque<SimulatedDrive> drives;
    auto add = [&](uint8_t type, const char* product) -> auto& {
        return drives.emplace_back(SimDriveIdentity{type, "SIMDRIVE", product, "1.00"});
    };
    rig.nodes.AddNode("/dev/sg1", *rig.drive, 0, 0);
    rig.nodes.AddNode("/dev/sg0", add(0, "DISK"), 1, 0);
    rig.nodes.AddNode("/dev/sg2", add(5, "GENERIC ONLY"), 2, 0);
    rig.nodes.AddNode("/dev/sr1", add(5, "HIDDEN CD NODE"), 3, 4, {false, true});
    rig.nodes.AddNode("/dev/sg3", drives.back(), 3, 4);
    rig.nodes.AddNode("/dev/sr3", add(0, "NOT A CD"), 5, 0);
    auto& access = static_cast<SgIoDeviceAccess&>(*rig.access);
    const DeviceList list = Listed(access);
    std::string listed;
    for (int i = 0; i < list.Count(); ++i) {
        const DeviceRecord& r = *list.At(i);
        listed += FormatText("%s %u:%u %.16s|", SgIoDevicePath(r).c_str(), r.AdapterId, r.TargetId,
                             r.Product);
    }
    EXPECT_EQ(listed,
              "/dev/sr0 0:0 DVD-ROM SIM16X  |/dev/sg2 2:0 GENERIC ONLY    |/dev/sg3 3:4 HIDDEN "
              "CD NODE  |");
    // Twins of probed drives get no command at all, the CD node of a disk
    // only its inquiry. Every probe ran on a read-only descriptor.
    std::map<std::string, int> sent;
    for (const auto& s : rig.nodes.Sent()) ++sent[s.path];
    EXPECT_EQ(::testing::PrintToString(sent),
              "{ (\"/dev/sg2\", 4), (\"/dev/sg3\", 4), (\"/dev/sr0\", 4), (\"/dev/sr3\", 1) }");
    for (const std::string& event : rig.nodes.Events())
        EXPECT_TRUE(event.rfind("open ", 0) != 0 || event.find("read-only") != std::string::npos)
            << event;
    EXPECT_EQ(access.RefusedNodes().size(), 1u);  // /dev/sr1: the console says which and why
    EXPECT_TRUE(Same(access.CurrentDevice, ZeroDeviceRecord()));
}

TEST(SgIo, AnOpenThatFailsSaysWhyAndSendsNothing) {
    const struct {
        SimNodeOptions options;
        SgIoNode node;
        uint8_t adapter;
        SgIoOpenError reason;
        int error;
    } cases[] = {
        {{true, false}, {SgIoNodeKind::Cd, 1}, 1, SgIoOpenError::Busy, EBUSY},  // mounted
        {{false, true}, {SgIoNodeKind::Cd, 1}, 1, SgIoOpenError::NoPermission, EACCES},
        {{}, {SgIoNodeKind::Cd, 5}, 1, SgIoOpenError::NoSuchNode, ENOENT},
        {{}, {SgIoNodeKind::None, 1}, 1, SgIoOpenError::NoSuchNode, ENODEV},
        {{}, {SgIoNodeKind::Cd, 1}, 2, SgIoOpenError::NotSameDrive, 0},  // renumbered
        {{}, {SgIoNodeKind::Cd, 1}, 1, SgIoOpenError::None, 0},
    };
    for (const auto& c : cases) {
        Rig rig(Rig::SgIo);
        rig.nodes.AddNode("/dev/sr1", *rig.drive, 1, 0, c.options);
        auto& access = static_cast<SgIoDeviceAccess&>(*rig.access);
        DeviceRecord record = ZeroDeviceRecord();
        record.AdapterId = c.adapter;
        StoreSgIoNode(record, c.node);
        uint8_t chunk[16] = {};
        const bool opened = access.OpenDevice(record) != 0;
        EXPECT_EQ(opened, c.reason == SgIoOpenError::None);
        EXPECT_EQ(access.LastOpenError(), c.reason);
        EXPECT_EQ(access.LastOpenErrno(), c.error);
        EXPECT_EQ(access.WriteBufferSave(chunk, 0, 0, sizeof chunk), opened ? 1 : 0);
        EXPECT_EQ(rig.nodes.Sent().size(), opened ? 1u : 0u);
        EXPECT_EQ(rig.nodes.OpenCount(), opened ? 1 : 0);
        EXPECT_TRUE(!opened || rig.nodes.Events().back() == "open /dev/sr1 read-write exclusive");
        rig.access.reset();  // a back-end that goes away closes what it holds
        EXPECT_EQ(rig.nodes.OpenCount(), 0);
    }
}

// What the kernel answers (the ioctl's error, the statuses, the sense bytes,
// the residual count) and what the back-end makes of it.
struct Reply {
    int ioctlError;
    uint8_t status;
    uint16_t host, driver;
    std::string sense;
    int resid, done;
    std::string described;
};

// A kernel that answers every SG_IO as scripted, and whose nodes cannot name
// their SCSI address.
struct ScriptedKernel : SgIoPlatform {
    Reply reply{0, 0, 0, 0, "", 0, 0, ""};
    int next = 3;
    std::vector<int> sentOn;  // the descriptor of each SG_IO

    int Open(const char*, int) override { return next++; }
    void Close(int) override {}
    int SendSgIo(int fd, sg_io_hdr& h) override {
        sentOn.push_back(fd);
        h.status = reply.status;
        h.host_status = reply.host;
        h.driver_status = reply.driver;
        h.resid = reply.resid;
        h.sb_len_wr = static_cast<unsigned char>(reply.sense.size());
        std::copy(reply.sense.begin(), reply.sense.end(), h.sbp);
        return reply.ioctlError;
    }
    int ReadScsiAddress(int, ScsiAddress&) override { return ENOTTY; }
    bool HoldsRawIoCapability() override { return true; }
};

TEST(SgIo, ACommandIsDoneOnlyWhenEveryLayerSaysSo) {
    const Reply cases[] = {
        {0, 0, 0, 0, "", 0, 1, "completed"},
        {EPERM, 0, 0, 0, "", 0, 0, "SG_IO failed: errno 1 (Operation not permitted)"},
        {0, 0x02, 0, 0x08, "\x70\0\x05\0\0\0\0\x0A\0\0\0\0\x24"s, 0, 0,
         "SCSI status 02h, driver status 08h, sense key 5 (ILLEGAL REQUEST), ASC 24h ASCQ 00h"},
        {0, 0x08, 0, 0, "", 0, 0, "SCSI status 08h"},  // busy
        {0, 0x01, 0, 0, "", 0, 1, "SCSI status 01h"},  // a reserved bit
        {0, 0, 0x03, 0, "", 0, 0, "host status 0003h"},
        {0, 0, 0, 0x06, "", 0, 0, "driver status 06h"},
        {0, 0, 0, 0x10, "", 0, 1, "driver status 10h"},  // a suggestion alone
        {0, 0, 0, 0x08, "\x70\0\x01\0\0\0\0\x0A\0\0\0\0\x17\x01"s, 0, 1,
         "driver status 08h, sense key 1 (RECOVERED ERROR), ASC 17h ASCQ 01h"},
        {0, 0, 0, 0x08, "\x72\0\x17\x1D"s, 0, 1,
         "driver status 08h, sense key 0 (NO SENSE), ASC 17h ASCQ 1Dh"},
        // The additional length covers byte 12 only; a descriptor cut after its key.
        {0, 0x02, 0, 0x08, "\x70\0\x06\0\0\0\0\x05\0\0\0\0\x29\x02"s, 0, 0,
         "SCSI status 02h, driver status 08h, sense key 6 (UNIT ATTENTION), ASC 29h ASCQ 00h"},
        {0, 0x02, 0, 0x08, "\x72\x06"s, 0, 0,
         "SCSI status 02h, driver status 08h, sense key 6 (UNIT ATTENTION), ASC 00h ASCQ 00h"},
        {0, 0, 0, 0x08, "\x71\0\x01\0\0\0\0\x0A\0\0\0\0\x0C\0"s, 0, 0,
         "driver status 08h, sense key 1 (RECOVERED ERROR), ASC 0Ch ASCQ 00h, deferred"},
        {0, 0, 0, 0x08, "\x73\x01\x0C\0"s, 0, 0,
         "driver status 08h, sense key 1 (RECOVERED ERROR), ASC 0Ch ASCQ 00h, deferred"},
        {0, 0, 0, 0x08, "\x70\0"s, 0, 0, "driver status 08h, no sense data"},  // cut short
        {0, 0, 0, 0x08, "", 0, 0, "driver status 08h"},
        {0, 0, 0, 0x08, "\x7F\0\x01"s, 0, 0, "driver status 08h, no sense data"},
        {0, 0, 0, 0, "", 1, 0, "16383 of 16384 bytes transferred"},
    };
    for (const auto& c : cases) {
        auto owned = std::make_unique<ScriptedKernel>();
        owned->reply = c;
        SgIoDeviceAccess access(std::move(owned));
        DeviceRecord record = ZeroDeviceRecord();
        StoreSgIoNode(record, {SgIoNodeKind::Generic, 4});
        ASSERT_EQ(access.OpenDevice(record), 1);
        std::vector<uint8_t> data(0x4000);
        EXPECT_EQ(access.ReadBufferData(data.data(), 0, 0, 0x4000), c.done) << c.described;
        EXPECT_EQ(DescribeSgIoOutcome(access.LastOutcome()), c.described);
        const SenseData& s = access.LastSense;  // the write loop's, the log's
        EXPECT_EQ(c.described.find(s.Present ? DescribeSense(s) : "sense key") != std::string::npos,
                  s.Present);
    }
    // A CD node that cannot name its address is still a CD device and is
    // probed; a generic one could be the twin of any drive and is not. All
    // the answers are zero: no CD device, one INQUIRY per CD node.
    auto owned = std::make_unique<ScriptedKernel>();
    ScriptedKernel& kernel = *owned;
    SgIoDeviceAccess access(std::move(owned));
    const DeviceList list = Listed(access);
    ASSERT_EQ(kernel.sentOn.size(), 32u);
    EXPECT_EQ(kernel.sentOn.front() + kernel.sentOn.back(), 3 + 3 + 31);
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
