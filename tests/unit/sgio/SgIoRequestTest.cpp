// What the SG_IO back-end hands the kernel for each command, and how it
// judges what the kernel writes back.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/sgio/SgIoDeviceAccess.h"
#include "sim/sgio/SimSgIoCarrier.h"
#include "tests/unit/HexBytes.h"

namespace {

struct RequestCase {
    const char* name;
    std::function<int(SgIoDeviceAccess&, uint8_t*)> send;
    const char* cdb;
    int direction;
    unsigned length;
    unsigned timeoutMs;
    bool carriesData;
};

TEST(SgIoRequestTest, EachCommandTravelsInItsOwnHeader) {
    const RequestCase cases[] = {
        {"inquiry", [](SgIoDeviceAccess& a, uint8_t*) { return a.InquireDevice(); },
         "12 00 00 00 C0 00", SG_DXFER_FROM_DEV, 192, 20000, false},
        {"test unit ready", [](SgIoDeviceAccess& a, uint8_t*) { return a.TestUnitReady(); },
         "00 00 00 00 00 00 00 00 00 00 00 00", SG_DXFER_NONE, 0, 20000, false},
        {"identification", [](SgIoDeviceAccess& a, uint8_t*) { return a.IdentifyController(); },
         "3C 01 00 00 00 00 00 00 C0 00", SG_DXFER_FROM_DEV, 192, 20000, false},
        {"read-back",
         [](SgIoDeviceAccess& a, uint8_t* d) { return a.ReadBufferData(d, 1, 0xC000, 0x4000); },
         "3C 02 01 00 C0 00 00 40 00 00", SG_DXFER_FROM_DEV, 0x4000, 256000, true},
        {"flash read",
         [](SgIoDeviceAccess& a, uint8_t* d) { return a.ReadFlashData(d, 0, 0x4000, 0x4000); },
         "3C 01 00 00 40 00 00 40 00 01", SG_DXFER_FROM_DEV, 0x4000, 256000, true},
        {"chunk write",
         [](SgIoDeviceAccess& a, uint8_t* d) { return a.WriteBufferSave(d, 0, 0, 0x4000); },
         "3B 07 00 00 00 00 00 40 00 00", SG_DXFER_TO_DEV, 0x4000, 256000, true},
        {"commit", [](SgIoDeviceAccess& a, uint8_t*) { return a.CommitMicrocode(); },
         "3B 04 00 00 00 00 00 00 00 00", SG_DXFER_NONE, 0, 256000, false},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDrive drive;
        auto owned = std::make_unique<SimSgIoCarrier>();
        SimSgIoCarrier& carrier = *owned;
        carrier.AddNode("/dev/sr0", drive, 0, 0);
        SgIoDeviceAccess access(std::move(owned));
        DeviceRecord record = ZeroDeviceRecord();
        StoreSgIoNode(record, {SgIoNodeKind::Cd, 0});
        ASSERT_EQ(access.OpenDevice(record), 1);
        std::vector<uint8_t> data(0x10000);
        EXPECT_EQ(c.send(access, data.data()), 1);

        ASSERT_EQ(carrier.Sent().size(), 1u);
        const sg_io_hdr& h = carrier.Sent()[0].header;
        EXPECT_EQ(carrier.Sent()[0].cdb, HexBytes(c.cdb));
        EXPECT_EQ(h.interface_id, 'S');
        EXPECT_EQ(h.dxfer_direction, c.direction);
        EXPECT_EQ(h.dxfer_len, c.length);
        EXPECT_EQ(h.timeout, c.timeoutMs);
        EXPECT_EQ(h.mx_sb_len, 32);
        EXPECT_NE(h.sbp, nullptr);
        EXPECT_EQ(h.flags, 0u);
        EXPECT_EQ(h.iovec_count, 0);
        EXPECT_EQ(h.dxferp, c.carriesData ? data.data() : c.length == 0 ? nullptr : h.dxferp);
    }
}

// A kernel that answers every SG_IO as scripted.
class ScriptedKernel : public SgIoPlatform {
  public:
    int ioctlError = 0;
    sg_io_hdr reply{};
    std::vector<uint8_t> sense;
    std::vector<int> sentOn;  // the descriptor of each SG_IO

    // Every node opens, each to a descriptor of its own.
    int Open(const char*, int) override { return next++; }
    int next = 3;
    void Close(int) override {}
    int SendSgIo(int fd, sg_io_hdr& h) override {
        sentOn.push_back(fd);
        if (ioctlError != 0) return ioctlError;
        h.status = reply.status;
        h.host_status = reply.host_status;
        h.driver_status = reply.driver_status;
        h.resid = reply.resid;
        h.sb_len_wr = static_cast<unsigned char>(sense.size());
        std::copy(sense.begin(), sense.end(), h.sbp);
        return 0;
    }
    int ReadScsiAddress(int, ScsiAddress&) override { return ENOTTY; }
    bool HoldsRawIoCapability() override { return true; }
};

struct JudgementCase {
    const char* name;
    int ioctlError;
    uint8_t status;
    uint16_t host;
    uint16_t driver;
    const char* sense;
    int resid;
    int done;
    const char* described;
};

TEST(SgIoRequestTest, ACommandIsDoneOnlyWhenEveryLayerSaysSo) {
    const JudgementCase cases[] = {
        {"good", 0, 0, 0, 0, "", 0, 1, "completed"},
        {"ioctl refused", EPERM, 0, 0, 0, "", 0, 0,
         "SG_IO failed: errno 1 (Operation not permitted)"},
        {"check condition", 0, 0x02, 0, 0x08, "70 00 05 00 00 00 00 0A 00 00 00 00 24", 0, 0,
         "SCSI status 02h, driver status 08h, sense key 5 (ILLEGAL REQUEST), ASC 24h ASCQ 00h"},
        {"busy", 0, 0x08, 0, 0, "", 0, 0, "SCSI status 08h"},
        {"reserved status bit", 0, 0x01, 0, 0, "", 0, 1, "SCSI status 01h"},
        {"host time-out", 0, 0, 0x03, 0, "", 0, 0, "host status 0003h"},
        {"driver time-out", 0, 0, 0, 0x06, "", 0, 0, "driver status 06h"},
        {"driver suggestion alone", 0, 0, 0, 0x10, "", 0, 1, "driver status 10h"},
        {"recovered error", 0, 0, 0, 0x08, "70 00 01 00 00 00 00 0A 00 00 00 00 17 01", 0, 1,
         "driver status 08h, sense key 1 (RECOVERED ERROR), ASC 17h ASCQ 01h"},
        {"descriptor no sense", 0, 0, 0, 0x08, "72 00 00 1D", 0, 1,
         "driver status 08h, sense key 0 (NO SENSE), ASC 00h ASCQ 1Dh"},
        {"deferred error", 0, 0, 0, 0x08, "71 00 01 00 00 00 00 0A 00 00 00 00 0C 00", 0, 0,
         "driver status 08h, sense key 1 (RECOVERED ERROR), ASC 0Ch ASCQ 00h, deferred"},
        {"deferred descriptor", 0, 0, 0, 0x08, "73 01 0C 00", 0, 0,
         "driver status 08h, sense key 1 (RECOVERED ERROR), ASC 0Ch ASCQ 00h, deferred"},
        {"fixed sense cut short", 0, 0, 0, 0x08, "70 00", 0, 0, "driver status 08h, no sense data"},
        {"medium error with good status", 0, 0, 0, 0x08, "70 00 03", 0, 0,
         "driver status 08h, sense key 3 (MEDIUM ERROR), ASC 00h ASCQ 00h"},
        {"sense flag without sense", 0, 0, 0, 0x08, "", 0, 0, "driver status 08h"},
        {"unreadable sense", 0, 0, 0, 0x08, "7F 00 01", 0, 0, "driver status 08h, no sense data"},
        {"short read", 0, 0, 0, 0, "", 1, 0, "16383 of 16384 bytes transferred"},
    };
    for (const JudgementCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto owned = std::make_unique<ScriptedKernel>();
        ScriptedKernel& kernel = *owned;
        kernel.ioctlError = c.ioctlError;
        kernel.reply.status = c.status;
        kernel.reply.host_status = c.host;
        kernel.reply.driver_status = c.driver;
        kernel.reply.resid = c.resid;
        kernel.sense = HexBytes(c.sense);
        SgIoDeviceAccess access(std::move(owned));
        DeviceRecord record = ZeroDeviceRecord();
        StoreSgIoNode(record, {SgIoNodeKind::Generic, 4});
        ASSERT_EQ(access.OpenDevice(record), 1);
        std::vector<uint8_t> data(0x4000);
        EXPECT_EQ(access.ReadBufferData(data.data(), 0, 0, 0x4000), c.done);
        EXPECT_EQ(DescribeSgIoOutcome(access.LastOutcome()), c.described);
        EXPECT_EQ(access.LastSense(), HexBytes(c.sense));
    }
}

// A node that cannot name its SCSI address: a CD node is still a CD device
// and is probed, a generic one could be the twin of any drive and is not.
TEST(SgIoRequestTest, NodesWithoutAnAddress) {
    auto owned = std::make_unique<ScriptedKernel>();
    ScriptedKernel& kernel = *owned;
    SgIoDeviceAccess access(std::move(owned));
    DeviceList list;
    access.EnumerateDevices(list);
    // The answers are all zero: no CD device, so one INQUIRY per CD node.
    ASSERT_EQ(kernel.sentOn.size(), 32u);
    EXPECT_EQ(kernel.sentOn.front(), 3);
    EXPECT_EQ(kernel.sentOn.back(), 3 + 31);
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
