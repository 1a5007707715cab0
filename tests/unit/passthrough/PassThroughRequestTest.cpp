#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <vector>

#include "device/ByteOrder.h"
#include "device/passthrough/PassThroughRequest.h"
#include "tests/unit/passthrough/HexBytes.h"

namespace {

std::vector<uint8_t> Header(const uint8_t* bytes) {
    return std::vector<uint8_t>(bytes, bytes + PassThroughHeaderSize);
}

bool AllZero(const uint8_t* bytes, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

struct BufferedCase {
    const char* name;
    std::function<BufferedRequest()> make;
    const char* header;
};

void PrintTo(const BufferedCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferedLayout : public testing::TestWithParam<BufferedCase> {};

TEST_P(BufferedLayout, HeaderIsByteExactAndTheRestIsZero) {
    const BufferedRequest request = GetParam().make();
    EXPECT_EQ(Header(request.bytes), HexBytes(GetParam().header));
    EXPECT_TRUE(AllZero(request.bytes, PassThroughHeaderSize, BufferedRequestSize));
}

INSTANTIATE_TEST_SUITE_P(
    PassThroughRequest, BufferedLayout,
    testing::Values(
        BufferedCase{"Identification",
                     [] {
                         return MakeBufferedRequest(ZeroDeviceRecord(),
                                                    IdentifyCommand(PassThroughAllocationLength),
                                                    ScsiIoctlDataIn, 192);
                     },
                     "2C 00  00  00 00 00  0A  18  01  00 00 00  C0 00 00 00  00 01 00 00"
                     "  50 00 00 00  30 00 00 00"
                     "  3C 01 00 00 00 00 00 00 C0 00  00 00 00 00 00 00"},
        // The port driver is told of the whole 512-byte data area while the
        // drive is asked for 192 bytes.
        BufferedCase{"Inquiry",
                     [] {
                         return MakeBufferedRequest(ZeroDeviceRecord(),
                                                    InquiryCommand(PassThroughAllocationLength),
                                                    ScsiIoctlDataIn, 512);
                     },
                     "2C 00  00  00 00 00  06  18  01  00 00 00  00 02 00 00  00 01 00 00"
                     "  50 00 00 00  30 00 00 00"
                     "  12 00 00 00 C0 00  00 00 00 00 00 00 00 00 00 00"},
        BufferedCase{"TestUnitReady",
                     [] {
                         return MakeBufferedRequest(ZeroDeviceRecord(), TestUnitReadyCommand(),
                                                    ScsiIoctlDataIn, 0);
                     },
                     "2C 00  00  00 00 00  0C  18  01  00 00 00  00 00 00 00  00 01 00 00"
                     "  50 00 00 00  30 00 00 00"
                     "  00 00 00 00 00 00 00 00 00 00 00 00  00 00 00 00"},
        // The address fields come from the record, whatever it holds.
        BufferedCase{"AddressFromRecord",
                     [] {
                         DeviceRecord device = ZeroDeviceRecord();
                         device.AdapterId = 1;
                         device.TargetId = 2;
                         device.Lun = 3;
                         return MakeBufferedRequest(device, TestUnitReadyCommand(), ScsiIoctlDataIn,
                                                    0);
                     },
                     "2C 00  00  01 02 03  0C  18  01  00 00 00  00 00 00 00  00 01 00 00"
                     "  50 00 00 00  30 00 00 00"
                     "  00 00 00 00 00 00 00 00 00 00 00 00  00 00 00 00"}),
    [](const testing::TestParamInfo<BufferedCase>& info) { return info.param.name; });

std::vector<uint8_t> AddressBytes(const void* address) {
    std::vector<uint8_t> bytes(4);
    WriteLe32(bytes.data(), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
    return bytes;
}

TEST(DirectRequestLayout, DataCommandNamesTheCallersBuffer) {
    std::vector<uint8_t> chunk(0x4000);
    const DirectRequest request =
        MakeDirectRequest(ZeroDeviceRecord(), ReadBufferDataCommand(1, 0xC000, 0x4000),
                          ScsiIoctlDataIn, 0x4000, chunk.data());

    std::vector<uint8_t> expected = HexBytes(
        "2C 00  00  00 00 00  0A  18  01  00 00 00  00 40 00 00  00 01 00 00"
        "  ?? ?? ?? ??  30 00 00 00"
        "  3C 02 01 00 C0 00 00 40 00 00  00 00 00 00 00 00");
    const std::vector<uint8_t> address = AddressBytes(chunk.data());
    std::copy(address.begin(), address.end(), expected.begin() + DataLocationField);
    EXPECT_EQ(Header(request.bytes), expected);
    EXPECT_EQ(request.dataBuffer, chunk.data());
    EXPECT_TRUE(AllZero(request.bytes, PassThroughHeaderSize, DirectRequestSize));
    EXPECT_EQ(sizeof request.bytes, 80u);
}

TEST(DirectRequestLayout, WriteGoesOutWithTheSourceBuffer) {
    std::vector<uint8_t> chunk(0x4000);
    const DirectRequest request =
        MakeDirectRequest(ZeroDeviceRecord(), WriteBufferSaveCommand(0, 0x4000, 0x4000),
                          ScsiIoctlDataOut, 0x4000, chunk.data());
    EXPECT_EQ(request.bytes[DataInField], 0);
    EXPECT_EQ(ReadLe32(request.bytes + DataTransferLengthField), 0x4000u);
    EXPECT_EQ(std::vector<uint8_t>(request.bytes + CdbField, request.bytes + CdbField + 10),
              HexBytes("3B 07 00 00 40 00 00 40 00 00"));
    EXPECT_EQ(request.dataBuffer, chunk.data());
}

TEST(DirectRequestLayout, CommitCarriesNoData) {
    const DirectRequest request = MakeDirectRequest(ZeroDeviceRecord(), CommitMicrocodeCommand(),
                                                    ScsiIoctlDataOut, 0, nullptr);
    EXPECT_EQ(Header(request.bytes),
              HexBytes("2C 00  00  00 00 00  0A  18  00  00 00 00  00 00 00 00  00 01 00 00"
                       "  00 00 00 00  30 00 00 00"
                       "  3B 04 00 00 00 00 00 00 00 00  00 00 00 00 00 00"));
    EXPECT_EQ(request.dataBuffer, nullptr);
}

}  // namespace
