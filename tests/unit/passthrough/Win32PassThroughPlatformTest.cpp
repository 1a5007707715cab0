// The Windows calls themselves, run under Wine: the SCSI device map exists
// there (and is empty), drive letters open, but no drive letter answers a
// pass-through request.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "device/OsVersionInfo.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "device/passthrough/Win32PassThroughPlatform.h"

namespace {

class Win32PassThroughTest : public testing::Test {
  protected:
    void SetUp() override {
        OsVersionInfo.dwOSVersionInfoSize = sizeof OsVersionInfo;
        ASSERT_NE(GetVersionExA(&OsVersionInfo), 0);
    }
};

TEST_F(Win32PassThroughTest, ReadsTheDeviceMapAndTheVersion) {
    Win32PassThroughPlatform platform;
    uint32_t count = 0xFFFFFFFF;
    EXPECT_TRUE(platform.ScsiSubkeyCount(count));
    EXPECT_NE(count, 0xFFFFFFFF);
    EXPECT_EQ(platform.MajorVersion(), OsVersionInfo.dwMajorVersion);
    OsVersionInfo.dwMajorVersion = 4;
    EXPECT_EQ(platform.MajorVersion(), 4u);
}

TEST_F(Win32PassThroughTest, DriveLetterOpensButRefusesPassThrough) {
    Win32PassThroughPlatform platform;
    PassThroughPlatform::Handle device = platform.OpenDevice(
        "\\\\.\\C:", GenericReadAccess | GenericWriteAccess, FileShareRead | FileShareWrite);
    ASSERT_NE(device, nullptr);
    BufferedRequest request = MakeBufferedRequest(
        ZeroDeviceRecord(), InquiryCommand(PassThroughAllocationLength), ScsiIoctlDataIn, 512);
    EXPECT_FALSE(
        platform.DeviceControl(device, IoctlScsiPassThrough, request.bytes, 44, 592, nullptr));
    platform.CloseDevice(device);
}

TEST_F(Win32PassThroughTest, MissingDriveDoesNotOpen) {
    Win32PassThroughPlatform platform;
    EXPECT_EQ(platform.OpenDevice("\\\\.\\NoSuchDevice", GenericReadAccess, FileShareRead),
              nullptr);
}

TEST_F(Win32PassThroughTest, BackEndIsUsableButFindsNoDrive) {
    PassThroughDeviceAccess access(std::make_unique<Win32PassThroughPlatform>());
    EXPECT_EQ(access.Initialized, 1);
    DeviceList list;
    access.EnumerateDevices(list);
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
