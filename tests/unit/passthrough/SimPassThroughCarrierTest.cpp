// The carrier stands in for the port driver in every back-end test, so it
// must turn away what the driver would: these cases keep it honest.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

#include "device/ByteOrder.h"
#include "device/passthrough/PassThroughRequest.h"
#include "sim/passthrough/SimPassThroughCarrier.h"

namespace {

struct MalformedCase {
    const char* name;
    std::function<bool(SimPassThroughCarrier&, PassThroughPlatform::Handle)> send;
    bool accepted;
};

void PrintTo(const MalformedCase& c, std::ostream* os) {
    *os << c.name;
}

class SimCarrierRequests : public testing::TestWithParam<MalformedCase> {};

TEST_P(SimCarrierRequests, OnlyWellFormedRequestsReachTheDrive) {
    SimPassThroughCarrier carrier;
    carrier.AddDrive('E');
    PassThroughPlatform::Handle device = carrier.OpenDevice("\\\\.\\E:", GenericReadAccess, 1);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(GetParam().send(carrier, device), GetParam().accepted);
    EXPECT_EQ(carrier.Drive('E')->Log().size(), GetParam().accepted ? 1u : 0u);
    carrier.CloseDevice(device);
}

BufferedRequest Inquiry() {
    return MakeBufferedRequest(ZeroDeviceRecord(), InquiryCommand(PassThroughAllocationLength),
                               ScsiIoctlDataIn, 512);
}

DirectRequest ReadData() {
    static std::vector<uint8_t> chunk(0x4000);
    return MakeDirectRequest(ZeroDeviceRecord(), ReadBufferDataCommand(0, 0, 0x4000),
                             ScsiIoctlDataIn, 0x4000, chunk.data());
}

INSTANTIATE_TEST_SUITE_P(
    SimCarrier, SimCarrierRequests,
    testing::Values(MalformedCase{"BufferedRequest",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      BufferedRequest r = Inquiry();
                                      return c.DeviceControl(h, IoctlScsiPassThrough, r.bytes, 44,
                                                             592, nullptr);
                                  },
                                  true},
                    MalformedCase{"DataBeyondOutput",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      BufferedRequest r = Inquiry();
                                      return c.DeviceControl(h, IoctlScsiPassThrough, r.bytes, 44,
                                                             591, nullptr);
                                  },
                                  false},
                    MalformedCase{"WrongLength",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      BufferedRequest r = Inquiry();
                                      WriteLe16(r.bytes + LengthField, 56);
                                      return c.DeviceControl(h, IoctlScsiPassThrough, r.bytes, 44,
                                                             592, nullptr);
                                  },
                                  false},
                    MalformedCase{"UnknownCode",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      BufferedRequest r = Inquiry();
                                      return c.DeviceControl(h, 0x4D008, r.bytes, 44, 592, nullptr);
                                  },
                                  false},
                    MalformedCase{"DirectRequest",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      DirectRequest r = ReadData();
                                      return c.DeviceControl(h, IoctlScsiPassThroughDirect, r.bytes,
                                                             80, 80, r.dataBuffer);
                                  },
                                  true},
                    MalformedCase{"DirectAddressMismatch",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      DirectRequest r = ReadData();
                                      return c.DeviceControl(h, IoctlScsiPassThroughDirect, r.bytes,
                                                             80, 80, r.dataBuffer + 16);
                                  },
                                  false},
                    MalformedCase{"DirectWithoutBuffer",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle h) {
                                      DirectRequest r = MakeDirectRequest(
                                          ZeroDeviceRecord(), ReadBufferDataCommand(0, 0, 0x4000),
                                          ScsiIoctlDataIn, 0x4000, nullptr);
                                      return c.DeviceControl(h, IoctlScsiPassThroughDirect, r.bytes,
                                                             80, 80, nullptr);
                                  },
                                  false},
                    MalformedCase{"ClosedHandle",
                                  [](SimPassThroughCarrier& c, PassThroughPlatform::Handle) {
                                      BufferedRequest r = Inquiry();
                                      PassThroughPlatform::Handle other =
                                          c.OpenDevice("\\\\.\\E:", GenericReadAccess, 1);
                                      c.CloseDevice(other);
                                      return c.DeviceControl(other, IoctlScsiPassThrough, r.bytes,
                                                             44, 592, nullptr);
                                  },
                                  false}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

TEST(SimCarrier, OpensOnlyDrivePathsThatExist) {
    SimPassThroughCarrier carrier;
    carrier.AddDrive('E');
    carrier.RefuseAccess('F');
    carrier.RefusePassThrough('G');
    for (const char* path : {"\\\\.\\D:", "\\\\.\\F:", "\\\\.\\e:", "\\\\.\\E", "\\\\.\\E:x"}) {
        EXPECT_EQ(carrier.OpenDevice(path, GenericReadAccess, 1), nullptr) << path;
    }
    PassThroughPlatform::Handle e = carrier.OpenDevice("\\\\.\\E:", GenericReadAccess, 1);
    PassThroughPlatform::Handle g = carrier.OpenDevice("\\\\.\\G:", GenericReadAccess, 1);
    EXPECT_NE(e, nullptr);
    EXPECT_NE(g, nullptr);
    EXPECT_NE(e, g);
    EXPECT_EQ(carrier.OpenHandleCount(), 2);
    carrier.CloseDevice(g);
    carrier.CloseDevice(g);
    carrier.CloseDevice(e);
    EXPECT_EQ(carrier.Closes(), "GE");
    EXPECT_EQ(carrier.StrayCloses(), 1);
}

}  // namespace
