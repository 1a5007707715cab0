// The request blocks exactly as the library receives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/ByteOrder.h"
#include "tests/unit/aspi/AspiBench.h"

namespace {

using ::testing::ElementsAreArray;

std::vector<uint8_t> LowAddressBytes(const void* pointer) {
    uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
    return {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
}

class AspiRequestLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bench.host.AddAdapter();
        bench.AddDrive(0, 1);
        backend = bench.Open();
        ASSERT_EQ(backend->Initialized, 1);
        DeviceRecord record = ZeroDeviceRecord();
        record.TargetId = 1;
        backend->OpenDevice(record);
    }

    const SimAspiHost::Received& Last() const { return bench.host.Requests().back(); }

    AspiBench bench;
    std::unique_ptr<AspiDeviceAccess> backend;
};

TEST_F(AspiRequestLayoutTest, WriteBufferSaveBuildsTheBlockByteForByte) {
    std::vector<uint8_t> chunk(0x4000, 0x5A);
    ASSERT_EQ(backend->WriteBufferSave(chunk.data(), 1, 0x4000, 0x4000), 1);

    std::vector<uint8_t> expected(ExecScsiCmdSize, 0);
    expected[0] = 0x02;
    expected[3] = 0x10;
    expected[8] = 0x01;
    expected[13] = 0x40;  // 0x4000, little-endian
    std::vector<uint8_t> address = LowAddressBytes(chunk.data());
    std::copy(address.begin(), address.end(), expected.begin() + 16);
    expected[20] = 0x0E;
    expected[21] = 0x0A;
    const uint8_t cdb[] = {0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00};
    std::copy(std::begin(cdb), std::end(cdb), expected.begin() + 48);

    EXPECT_THAT(Last().block, ElementsAreArray(expected));
    EXPECT_EQ(Last().data, chunk.data());
}

// What each command announces: flags, data length, whether a buffer is
// passed, and the CDB.
struct CarriageCase {
    const char* name;
    std::function<int(AspiDeviceAccess&, uint8_t*)> send;
    uint8_t flags;
    uint32_t dataLength;
    bool callerBuffer;  // else the back-end's own answer buffer, or none
    std::vector<uint8_t> cdb;
};

TEST_F(AspiRequestLayoutTest, EveryCommandAnnouncesItsDirectionLengthAndCdb) {
    const CarriageCase cases[] = {
        {"inquiry",
         [](AspiDeviceAccess& b, uint8_t*) { return b.InquireDevice(); },
         0x08,
         100,
         false,
         {0x12, 0, 0, 0, 0x64, 0}},
        {"test unit ready", [](AspiDeviceAccess& b, uint8_t*) { return b.TestUnitReady(); }, 0x08,
         0, false, std::vector<uint8_t>(12, 0)},
        {"identification",
         [](AspiDeviceAccess& b, uint8_t*) { return b.IdentifyController(); },
         0x08,
         100,
         false,
         {0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0x64, 0}},
        {"read buffer",
         [](AspiDeviceAccess& b, uint8_t* buffer) {
             return b.ReadBufferData(buffer, 1, 0xC000, 0x4000);
         },
         0x08,
         0x4000,
         true,
         {0x3C, 0x02, 0x01, 0, 0xC0, 0, 0, 0x40, 0, 0}},
        {"read flash",
         [](AspiDeviceAccess& b, uint8_t* buffer) {
             return b.ReadFlashData(buffer, 0, 0x4000, 0x4000);
         },
         0x08,
         0x4000,
         true,
         {0x3C, 0x01, 0, 0, 0x40, 0, 0, 0x40, 0, 0x01}},
        {"commit",
         [](AspiDeviceAccess& b, uint8_t*) { return b.CommitMicrocode(); },
         0x10,
         0,
         false,
         {0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    std::vector<uint8_t> buffer(0x4000);
    for (const CarriageCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.send(*backend, buffer.data());
        const SimAspiHost::Received& sent = Last();
        ASSERT_EQ(sent.block.size(), ExecScsiCmdSize);
        EXPECT_EQ(sent.block[0], SC_EXEC_SCSI_CMD);
        EXPECT_EQ(sent.block[1], SS_PENDING);
        EXPECT_EQ(sent.block[3], c.flags);
        EXPECT_EQ(sent.block[8], 1);  // target
        EXPECT_EQ(sent.block[9], 0);  // LUN
        EXPECT_EQ(ReadLe32(&sent.block[12]), c.dataLength);
        EXPECT_EQ(sent.block[20], 14);
        EXPECT_EQ(sent.block[21], c.cdb.size());
        std::vector<uint8_t> cdb(sent.block.begin() + 48, sent.block.begin() + 48 + c.cdb.size());
        EXPECT_THAT(cdb, ElementsAreArray(c.cdb));
        for (size_t i = 48 + c.cdb.size(); i < ExecScsiCmdSize; ++i)
            EXPECT_EQ(sent.block[i], 0) << "byte " << i;
        if (c.callerBuffer)
            EXPECT_EQ(sent.data, buffer.data());
        else if (c.dataLength == 0)
            EXPECT_EQ(sent.data, nullptr);
        else
            EXPECT_NE(sent.data, nullptr);
        EXPECT_THAT(std::vector<uint8_t>(sent.block.begin() + 16, sent.block.begin() + 20),
                    ElementsAreArray(LowAddressBytes(sent.data)));
    }
}

TEST(AspiAdapterInquiryLayoutTest, AdapterInquiryIsSixtyZeroBytesButCommandAndAdapter) {
    AspiBench bench;
    bench.host.AddAdapter(SS_INVALID_HA);
    bench.host.AddAdapter(SS_COMP, 1);
    auto backend = bench.Open();
    DeviceList list;
    backend->EnumerateDevices(list);

    std::vector<std::vector<uint8_t>> inquiries;
    for (const auto& request : bench.host.Requests())
        if (request.block[0] == SC_HA_INQUIRY) inquiries.push_back(request.block);
    ASSERT_EQ(inquiries.size(), 2u);
    for (uint8_t adapter = 0; adapter < 2; ++adapter) {
        std::vector<uint8_t> expected(HaInquirySize, 0);
        expected[2] = adapter;
        EXPECT_THAT(inquiries[adapter], ElementsAreArray(expected));
    }
}

}  // namespace
