#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "device/ByteOrder.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "sim/passthrough/SimPassThroughCarrier.h"
#include "tests/unit/passthrough/HexBytes.h"

namespace {

using Registry = SimPassThroughCarrier::Registry;

bool IsZero(const DeviceRecord& record) {
    const DeviceRecord zero = ZeroDeviceRecord();
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

bool SameRecord(const DeviceRecord& a, const DeviceRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string Letters(const DeviceList& list) {
    std::string letters;
    for (int i = 0; i < list.Count(); ++i) letters += list.At(i)->DriveLetter;
    return letters;
}

// The carrier is set up first; the back-end, which reads the registry when
// it is constructed, comes into being on first use.
class PassThroughTest : public testing::Test {
  protected:
    PassThroughTest() : owned_(std::make_unique<SimPassThroughCarrier>()), carrier(*owned_) {}

    PassThroughDeviceAccess& Access() {
        if (!access_) access_ = std::make_unique<PassThroughDeviceAccess>(std::move(owned_));
        return *access_;
    }

    DeviceList Enumerate() {
        DeviceList list;
        Access().EnumerateDevices(list);
        return list;
    }

    // Opens the drive at letter as the flash operations do.
    void OpenDrive(char letter) {
        DeviceRecord record = ZeroDeviceRecord();
        record.DriveLetter = letter;
        ASSERT_NE(Access().OpenDevice(record), 0);
        carrier.ClearRecord();
    }

    const SimPassThroughCarrier::ControlCall& LastControl() const {
        return carrier.Controls().back();
    }

  private:
    std::unique_ptr<SimPassThroughCarrier> owned_;
    std::unique_ptr<PassThroughDeviceAccess> access_;

  protected:
    SimPassThroughCarrier& carrier;
};

// --- construction ---------------------------------------------------------

struct RegistryCase {
    Registry registry;
    uint32_t subkeys;
    int initialized;
    uint32_t adapterCount;
};

void PrintTo(const RegistryCase& c, std::ostream* os) {
    *os << "registry " << static_cast<int>(c.registry) << " subkeys " << c.subkeys;
}

class PassThroughConstruction : public PassThroughTest,
                                public testing::WithParamInterface<RegistryCase> {};

TEST_P(PassThroughConstruction, RegistryDecidesInitialized) {
    carrier.SetRegistry(GetParam().registry, GetParam().subkeys);
    EXPECT_EQ(Access().Initialized, GetParam().initialized);
    EXPECT_EQ(Access().AdapterCount, GetParam().adapterCount);
    EXPECT_TRUE(IsZero(Access().CurrentDevice));
    // Construction probes no drive.
    EXPECT_TRUE(carrier.Opens().empty());
}

INSTANTIATE_TEST_SUITE_P(PassThrough, PassThroughConstruction,
                         testing::Values(RegistryCase{Registry::Present, 3, 1, 3},
                                         RegistryCase{Registry::Present, 0, 1, 0},
                                         RegistryCase{Registry::Missing, 3, 0, 0},
                                         RegistryCase{Registry::Unreadable, 3, 0, 0}));

// --- device file access mode ------------------------------------------------

struct VersionCase {
    uint32_t majorVersion;
    uint32_t access;
    uint32_t shareMode;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << "major version " << c.majorVersion;
}

class PassThroughAccessMode : public PassThroughTest,
                              public testing::WithParamInterface<VersionCase> {};

TEST_P(PassThroughAccessMode, EveryOpenUsesTheVersionsMode) {
    carrier.SetMajorVersion(GetParam().majorVersion);
    carrier.AddDrive('E');
    const DeviceList list = Enumerate();
    ASSERT_EQ(list.Count(), 1);
    ASSERT_NE(Access().OpenDevice(*list.At(0)), 0);
    Access().CloseDevice();

    ASSERT_EQ(carrier.Opens().size(), 24u + 1u);
    for (const auto& open : carrier.Opens()) {
        EXPECT_EQ(open.access, GetParam().access) << open.path;
        EXPECT_EQ(open.shareMode, GetParam().shareMode) << open.path;
    }
}

INSTANTIATE_TEST_SUITE_P(PassThrough, PassThroughAccessMode,
                         testing::Values(VersionCase{3, 0x80000000u, 1},
                                         VersionCase{4, 0x80000000u, 1},
                                         VersionCase{5, 0xC0000000u, 3},
                                         VersionCase{6, 0xC0000000u, 3}));

// --- enumeration --------------------------------------------------------------

TEST_F(PassThroughTest, ScansLettersCToZInOrder) {
    Enumerate();
    ASSERT_EQ(carrier.Opens().size(), 24u);
    for (size_t i = 0; i < 24; ++i) {
        const std::string expected = std::string("\\\\.\\") + static_cast<char>('C' + i) + ":";
        EXPECT_EQ(carrier.Opens()[i].path, expected);
    }
    EXPECT_TRUE(carrier.Controls().empty());
}

TEST_F(PassThroughTest, DriveAtEIsListedByItsLetter) {
    SimDriveIdentity identity;
    identity.vendor = "VENDOR01";
    identity.product = "DVD-ROM 16X     ";
    identity.revision = "2.05";
    identity.chipCode = 0x3140;
    identity.versionMajor = 3;
    identity.versionMinor = 7;
    carrier.AddDrive('E', identity);

    const DeviceList list = Enumerate();
    ASSERT_EQ(list.Count(), 1);
    const DeviceRecord& record = *list.At(0);
    EXPECT_EQ(record.DriveLetter, 'E');
    EXPECT_EQ(record.AdapterId, 0);
    EXPECT_EQ(record.TargetId, 0);
    EXPECT_EQ(record.Lun, 0);
    EXPECT_STREQ(record.Vendor, "VENDOR01");
    EXPECT_STREQ(record.Product, "DVD-ROM 16X     ");
    EXPECT_STREQ(record.Revision, "2.05");
    EXPECT_STREQ(record.VendorProduct, "VENDOR01DVD-ROM 16X     ");
    EXPECT_EQ(record.ChipCode, 0x3140);
    EXPECT_EQ(record.VersionMajor, 3);
    EXPECT_EQ(record.VersionMinor, 7);
    EXPECT_EQ(record.FlashSize, 0x20000u);
    EXPECT_TRUE(IsZero(Access().CurrentDevice));
    EXPECT_EQ(carrier.Closes(), "E");
    EXPECT_EQ(carrier.OpenHandleCount(), 0);

    ASSERT_NE(Access().OpenDevice(record), 0);
    EXPECT_EQ(carrier.Opens().back().path, "\\\\.\\E:");
    EXPECT_TRUE(SameRecord(Access().CurrentDevice, record));
    Access().CloseDevice();
    EXPECT_EQ(carrier.OpenHandleCount(), 0);
    EXPECT_TRUE(SameRecord(Access().CurrentDevice, record));
    // A closed back-end sends nothing.
    uint8_t chunk[16];
    EXPECT_EQ(Access().ReadFlashData(chunk, 0, 0, sizeof chunk), 0);
    EXPECT_EQ(carrier.OpenHandleCount(), 0);
}

TEST_F(PassThroughTest, HardDiskIsNotListedAndItsHandleIsClosed) {
    SimDriveIdentity disk;
    disk.deviceType = 0;
    carrier.AddDrive('C', disk);

    const DeviceList list = Enumerate();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(carrier.Closes(), "C");
    EXPECT_EQ(carrier.OpenHandleCount(), 0);
    // The INQUIRY alone turned it away.
    ASSERT_EQ(carrier.Controls().size(), 1u);
    EXPECT_EQ(carrier.Controls()[0].input[CdbField], 0x12);
}

TEST_F(PassThroughTest, SeveralDrivesAreListedInDiscoveryOrder) {
    SimDriveIdentity disk;
    disk.deviceType = 0;
    carrier.AddDrive('Z');
    carrier.AddDrive('C', disk);
    carrier.AddDrive('G');
    carrier.AddDrive('D');
    carrier.RefuseAccess('E');
    carrier.RefusePassThrough('F');

    const DeviceList list = Enumerate();
    EXPECT_EQ(Letters(list), "DGZ");
    // Each handle is closed before the next letter is opened.
    EXPECT_EQ(carrier.Closes(), "CDFGZ");
    EXPECT_EQ(carrier.OpenHandleCount(), 0);
    EXPECT_EQ(carrier.StrayCloses(), 0);
    EXPECT_TRUE(IsZero(Access().CurrentDevice));
}

// Sends the probe commands to a drive at D whose answers are adjusted by
// each case; tells whether the drive was listed.
struct ProbeCase {
    const char* name;
    std::function<void(SimPassThroughCarrier&, SimDriveIdentity&)> adjust;
    bool listed;
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

class PassThroughProbe : public PassThroughTest, public testing::WithParamInterface<ProbeCase> {};

TEST_P(PassThroughProbe, ListsOnlyWhatPassesBothProbes) {
    SimDriveIdentity identity;
    GetParam().adjust(carrier, identity);
    carrier.AddDrive('D', identity);
    EXPECT_EQ(Enumerate().Count(), GetParam().listed ? 1 : 0);
    EXPECT_EQ(carrier.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    PassThrough, PassThroughProbe,
    testing::Values(
        ProbeCase{"GoodDrive", [](SimPassThroughCarrier&, SimDriveIdentity&) {}, true},
        ProbeCase{"QualifierBitsIgnored",
                  [](SimPassThroughCarrier&, SimDriveIdentity& id) { id.deviceType = 0x25; }, true},
        ProbeCase{"NotACdDvdDevice",
                  [](SimPassThroughCarrier&, SimDriveIdentity& id) { id.deviceType = 0x1F; },
                  false},
        ProbeCase{
            "InquiryStatusMustBeZero",
            [](SimPassThroughCarrier& c, SimDriveIdentity&) { c.OverrideScsiStatus('D', 0x12, 2); },
            false},
        ProbeCase{
            "TestUnitReadyIsIgnored",
            [](SimPassThroughCarrier& c, SimDriveIdentity&) { c.OverrideScsiStatus('D', 0x00, 2); },
            true},
        // The identification block alone decides, whatever the status says.
        ProbeCase{
            "IdentificationStatusIsNotExamined",
            [](SimPassThroughCarrier& c, SimDriveIdentity&) { c.OverrideScsiStatus('D', 0x3C, 2); },
            true},
        ProbeCase{"WrongSignature",
                  [](SimPassThroughCarrier&, SimDriveIdentity& id) { id.signature = 0x0611; },
                  false},
        ProbeCase{"UnknownChip",
                  [](SimPassThroughCarrier&, SimDriveIdentity& id) { id.chipCode = 0x3160; },
                  false},
        ProbeCase{"NoPassThrough",
                  [](SimPassThroughCarrier& c, SimDriveIdentity&) { c.RefusePassThrough('D'); },
                  false}),
    [](const testing::TestParamInfo<ProbeCase>& info) { return info.param.name; });

TEST_F(PassThroughTest, ProbeSendsInquiryTwoTestUnitReadyAndIdentification) {
    carrier.AddDrive('D');
    Enumerate();
    std::vector<uint8_t> opcodes;
    for (const auto& call : carrier.Controls()) opcodes.push_back(call.input[CdbField]);
    EXPECT_EQ(opcodes, HexBytes("12 00 00 3C"));
}

// --- carriage of each command -----------------------------------------------

struct CarriageCase {
    const char* name;
    std::function<int(PassThroughDeviceAccess&, uint8_t*)> send;
    uint32_t code;
    uint32_t inputSize;
    uint32_t outputSize;
    uint8_t cdbLength;
    uint8_t dataIn;
    uint32_t dataTransferLength;
    const char* cdb;
    bool namesBuffer;  // a direct request pointing at the caller's buffer
};

void PrintTo(const CarriageCase& c, std::ostream* os) {
    *os << c.name;
}

class PassThroughCarriage : public PassThroughTest,
                            public testing::WithParamInterface<CarriageCase> {};

TEST_P(PassThroughCarriage, RequestAsThePlatformSeesIt) {
    const CarriageCase& c = GetParam();
    carrier.AddDrive('E');
    OpenDrive('E');
    std::vector<uint8_t> buffer(0x4000);
    c.send(Access(), buffer.data());

    ASSERT_EQ(carrier.Controls().size(), 1u);
    const auto& call = LastControl();
    EXPECT_EQ(call.letter, 'E');
    EXPECT_EQ(call.code, c.code);
    EXPECT_EQ(call.inputSize, c.inputSize);
    EXPECT_EQ(call.outputSize, c.outputSize);
    const uint8_t* header = call.input.data();
    EXPECT_EQ(ReadLe16(header + LengthField), 44);
    EXPECT_EQ(header[CdbLengthField], c.cdbLength);
    EXPECT_EQ(header[SenseInfoLengthField], 24);
    EXPECT_EQ(header[DataInField], c.dataIn);
    EXPECT_EQ(ReadLe32(header + DataTransferLengthField), c.dataTransferLength);
    EXPECT_EQ(ReadLe32(header + TimeOutValueField), 256u);
    EXPECT_EQ(ReadLe32(header + SenseInfoOffsetField), 48u);
    std::vector<uint8_t> expectedCdb = HexBytes(c.cdb);
    expectedCdb.resize(16);
    EXPECT_EQ(std::vector<uint8_t>(header + CdbField, header + CdbField + 16), expectedCdb);
    if (c.code == IoctlScsiPassThrough) {
        EXPECT_EQ(ReadLe32(header + DataLocationField), 80u);
        EXPECT_EQ(call.directData, nullptr);
    } else {
        uint8_t* expected = c.namesBuffer ? buffer.data() : nullptr;
        EXPECT_EQ(call.directData, expected);
        EXPECT_EQ(ReadLe32(header + DataLocationField),
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(expected)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    PassThrough, PassThroughCarriage,
    testing::Values(
        CarriageCase{"Inquiry",
                     [](PassThroughDeviceAccess& a, uint8_t*) { return a.InquireDevice(); },
                     0x4D004, 44, 592, 6, 1, 512, "12 00 00 00 C0 00", false},
        CarriageCase{"TestUnitReady",
                     [](PassThroughDeviceAccess& a, uint8_t*) { return a.TestUnitReady(); },
                     0x4D004, 44, 80, 12, 1, 0, "00 00 00 00 00 00 00 00 00 00 00 00", false},
        CarriageCase{"Identification",
                     [](PassThroughDeviceAccess& a, uint8_t*) { return a.IdentifyController(); },
                     0x4D004, 80, 272, 10, 1, 192, "3C 01 00 00 00 00 00 00 C0 00", false},
        CarriageCase{"ReadBufferData",
                     [](PassThroughDeviceAccess& a, uint8_t* b) {
                         return a.ReadBufferData(b, 1, 0xC000, 0x4000);
                     },
                     0x4D014, 80, 80, 10, 1, 0x4000, "3C 02 01 00 C0 00 00 40 00 00", true},
        CarriageCase{"ReadFlashData",
                     [](PassThroughDeviceAccess& a, uint8_t* b) {
                         return a.ReadFlashData(b, 0, 0x4000, 0x4000);
                     },
                     0x4D014, 80, 80, 10, 1, 0x4000, "3C 01 00 00 40 00 00 40 00 01", true},
        CarriageCase{"WriteBufferSave",
                     [](PassThroughDeviceAccess& a, uint8_t* b) {
                         return a.WriteBufferSave(b, 0, 0, 0x4000);
                     },
                     0x4D014, 80, 80, 10, 0, 0x4000, "3B 07 00 00 00 00 00 40 00 00", true},
        CarriageCase{"CommitMicrocode",
                     [](PassThroughDeviceAccess& a, uint8_t*) { return a.CommitMicrocode(); },
                     0x4D014, 80, 80, 10, 0, 0, "3B 04 00 00 00 00 00 00 00 00", false}),
    [](const testing::TestParamInfo<CarriageCase>& info) { return info.param.name; });

// --- data commands -------------------------------------------------------------

TEST_F(PassThroughTest, OpenDeviceCopiesTheRecordEvenWhenTheOpenFails) {
    DeviceRecord record = ZeroDeviceRecord();
    record.DriveLetter = 'Q';
    record.FlashSize = 0x20000;
    std::memcpy(record.Vendor, "VENDOR01", 8);
    EXPECT_EQ(Access().OpenDevice(record), 0);
    EXPECT_TRUE(SameRecord(Access().CurrentDevice, record));
    EXPECT_EQ(carrier.Opens().back().path, "\\\\.\\Q:");
    // Nothing is sent without an open device file.
    uint8_t chunk[16];
    EXPECT_EQ(Access().ReadBufferData(chunk, 0, 0, sizeof chunk), 0);
    EXPECT_EQ(Access().CommitMicrocode(), 0);
    EXPECT_TRUE(carrier.Controls().empty());
    Access().CloseDevice();
    EXPECT_EQ(carrier.StrayCloses(), 0);
}

TEST_F(PassThroughTest, DataCommandsNeedGoodStatus) {
    carrier.AddDrive('E');
    carrier.OverrideScsiStatus('E', 0x3B, 2);
    OpenDrive('E');
    std::vector<uint8_t> chunk(0x4000, 0x5A);
    EXPECT_EQ(Access().WriteBufferSave(chunk.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(Access().CommitMicrocode(), 0);
    ASSERT_EQ(carrier.Controls().size(), 2u);
    EXPECT_TRUE(carrier.Controls()[0].succeeded);
    EXPECT_EQ(carrier.Controls()[0].scsiStatus, 2);
}

TEST_F(PassThroughTest, DataCommandsFailWhenTheCallFails) {
    SimulatedDrive& drive = carrier.AddDrive('E');
    OpenDrive('E');
    drive.SetVanished(true);
    std::vector<uint8_t> chunk(0x4000);
    EXPECT_EQ(Access().ReadFlashData(chunk.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(Access().ReadBufferData(chunk.data(), 0, 0, 0x4000), 0);
    EXPECT_FALSE(LastControl().succeeded);
}

}  // namespace
