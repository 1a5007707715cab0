// Both back-ends through DeviceAccess, with simulated drives behind the
// carriers that stand in for the platform: what they find, and every request
// exactly as the platform receives it.
#include <gmock/gmock.h>

#include "flash/FormatText.h"
#include "tests/unit/Rig.h"

namespace {

using ::testing::ElementsAre;

TEST(PassThrough, EveryRequestAsThePortDriverReceivesIt) {
    Rig rig;
    auto& access = static_cast<PassThroughDeviceAccess&>(*rig.access);
    DeviceRecord record = ZeroDeviceRecord();
    record.AdapterId = 3;
    record.TargetId = 5;
    record.Lun = 7;
    record.DriveLetter = 'E';
    ASSERT_EQ(access.OpenDevice(record), 1);
    std::vector<uint8_t> buffer(0x4000);
    rig.carrier.OverrideScsiStatus('E', OpWriteBuffer, 2);  // the data commands look at it
    EXPECT_THAT(SendEveryCommand(access, buffer.data()), ElementsAre(1, 1, 1, 1, 1, 0, 0));
    std::vector<std::string> sent;
    for (const auto& call : rig.carrier.Controls())
        sent.push_back(
            FormatText("%X %u %u: ", call.code, call.inputSize, call.outputSize) +
            Dump(call.input.data(), call.input.size(), DataLocationField, call.directData));
    EXPECT_THAT(sent,
                ElementsAre("4D004 44 592: 2C 00 00 03 05 07 06 18 01 0*4 02 00 00 00 01 00 00 50 "
                            "00 00 00 30 00 00 00 12 00 00 00 C0",
                            "4D004 44 80: 2C 00 00 03 05 07 0C 18 01 0*8 01 00 00 50 00 00 00 30",
                            "4D004 80 272: 2C 00 00 03 05 07 0A 18 01 00 00 00 C0 0*4 01 00 00 50 "
                            "00 00 00 30 00 00 00 3C 01 0*6 C0",
                            "4D014 80 80: 2C 00 00 03 05 07 0A 18 01 0*4 40 00 00 00 01 00 00 PTR "
                            "30 00 00 00 3C 02 01 00 C0 00 00 40",
                            "4D014 80 80: 2C 00 00 03 05 07 0A 18 01 0*4 40 00 00 00 01 00 00 PTR "
                            "30 00 00 00 3C 01 00 00 40 00 00 40 00 01",
                            "4D014 80 80: 2C 00 00 03 05 07 0A 18 0*5 40 00 00 00 01 00 00 PTR 30 "
                            "00 00 00 3B 07 01 00 12 34 00 40",
                            "4D014 80 80: 2C 00 00 03 05 07 0A 18 0*9 01 0*6 30 00 00 00 3B 04"));
    rig.drive->SetVanished(true);  // the call itself fails
    EXPECT_EQ(access.ReadFlashData(buffer.data(), 0, 0, 16), 0);
    access.CloseDevice();  // then nothing is sent
    EXPECT_EQ(SendEveryCommand(access, buffer.data()), std::vector<int>(7, 0));
    EXPECT_EQ(rig.carrier.Controls().size(), 8u);
}

TEST(Aspi, EveryRequestAsTheLibraryReceivesIt) {
    Rig rig(Rig::Aspi);
    auto& access = static_cast<AspiDeviceAccess&>(*rig.access);
    DeviceRecord record = ZeroDeviceRecord();
    record.TargetId = 1;
    record.Reserved72[5] = 0xAB;  // the record is copied whole
    ASSERT_EQ(access.OpenDevice(record), 1);
    access.CloseDevice();
    EXPECT_TRUE(rig.host.Requests().empty());
    EXPECT_TRUE(Same(access.CurrentDevice, record));
    std::vector<uint8_t> buffer(0x4000);
    EXPECT_THAT(SendEveryCommand(access, buffer.data()), ElementsAre(1, 1, 1, 1, 1, 1, 1));
    std::vector<std::string> sent;
    for (const auto& request : rig.host.Requests()) {
        sent.push_back(
            Dump(request.block.data(), request.block.size(), ExecDataPointerOffset, request.data));
        // The data commands hand over the caller's buffer, the probes one of their own.
        EXPECT_EQ(request.data == buffer.data(), sent.size() >= 4 && sent.size() <= 6);
    }
    EXPECT_THAT(
        sent,
        ElementsAre("02 00 00 08 0*4 01 00 00 00 64 00 00 00 PTR 0E 06 0*26 12 00 00 00 64",
                    "02 00 00 08 0*4 01 0*11 0E 0C",
                    "02 00 00 08 0*4 01 00 00 00 64 00 00 00 PTR 0E 0A 0*26 3C 01 0*6 64",
                    "02 00 00 08 0*4 01 0*4 40 00 00 PTR 0E 0A 0*26 3C 02 01 00 C0 00 00 40",
                    "02 00 00 08 0*4 01 0*4 40 00 00 PTR 0E 0A 0*26 3C 01 00 00 40 00 00 40 00 01",
                    "02 00 00 10 0*4 01 0*4 40 00 00 PTR 0E 0A 0*26 3B 07 01 00 12 34 00 40",
                    "02 00 00 10 0*4 01 0*11 0E 0A 0*26 3B 04"));
}

// The probe both back-ends run at every address. A refused command ends
// with a check condition on pass-through and with SS_ERR on ASPI.
TEST(Device, ListsWhatPassesInquiryAndIdentificationWhateverTestUnitReadySays) {
    const struct {
        const char* name;
        uint8_t deviceType;
        uint16_t signature, chip, flashKb;
        uint8_t refused;  // operation code, or 0xFF
        bool listedPassThrough, listedAspi;
        uint32_t flashSize;
    } cases[] = {
        {"good", 5, 0x1106, 0x3120, 0x80, 0xFF, true, true, 0x20000},
        {"qualifier bits", 0x25, 0x1106, 0x3120, 0x80, 0xFF, true, true, 0x20000},
        {"device type 0x15", 0x15, 0x1106, 0x3120, 0x80, 0xFF, false, false, 0},
        {"signature swapped", 5, 0x0611, 0x3120, 0x80, 0xFF, false, false, 0},
        {"unknown chip", 5, 0x1106, 0x3160, 0x80, 0xFF, false, false, 0},
        {"0x3120 without size", 5, 0x1106, 0x3120, 0, 0xFF, true, true, 0x20000},
        {"0x3140 without size", 5, 0x1106, 0x3140, 0, 0xFF, true, true, 0x80000},
        {"0x3180 without size", 5, 0x1106, 0x3180, 0, 0xFF, true, true, 0x40000},
        {"16 MB, all a buffer id reaches", 5, 0x1106, 0x3120, 0x4000, 0xFF, true, true, 0x1000000},
        {"beyond 16 MB", 5, 0x1106, 0x3120, 0x4001, 0xFF, false, false, 0},
        {"inquiry refused", 5, 0x1106, 0x3120, 0x80, OpInquiry, false, false, 0},
        {"test unit ready refused", 5, 0x1106, 0x3120, 0x80, OpTestUnitReady, true, true, 0x20000},
        // Pass-through judges the identification block alone, whatever the status.
        {"identification refused", 5, 0x1106, 0x3120, 0x80, OpReadBuffer, true, false, 0x20000},
    };
    for (const auto& c : cases) {
        for (Rig::Kind kind : {Rig::PassThrough, Rig::Aspi}) {
            SCOPED_TRACE(std::string(c.name) + (kind == Rig::Aspi ? ", ASPI" : ", pass-through"));
            Rig rig(kind, {c.deviceType, "SIMDRIVE", "DVD-ROM SIM16X", "1.00", c.signature, c.chip,
                           0x0102, 0x0304, c.flashKb});
            if (c.refused != 0xFF && kind == Rig::Aspi) rig.host.RefuseOpcode(c.refused);
            if (c.refused != 0xFF && kind == Rig::PassThrough)
                rig.carrier.OverrideScsiStatus('E', c.refused, 2);
            const DeviceList list = Listed(*rig.access);
            EXPECT_TRUE(Same(rig.access->CurrentDevice, ZeroDeviceRecord()));
            EXPECT_EQ(list.Count(), (kind == Rig::Aspi ? c.listedAspi : c.listedPassThrough));
            if (list.Count() != 1) continue;
            std::string opcodes;
            for (const SimLogEntry& entry : rig.drive->Log())
                opcodes += FormatText("%02X", entry.cdb[0]);
            EXPECT_TRUE(c.refused != 0xFF || opcodes == "1200003C") << opcodes;
            const DeviceRecord& r = *list.At(0);
            EXPECT_EQ(
                FormatText("%s|%s|%s|%s|%X %u.%u %X|%u %u %u %d", r.Vendor, r.Product, r.Revision,
                           r.VendorProduct, r.ChipCode, r.VersionMajor, r.VersionMinor, r.FlashSize,
                           r.AdapterId, r.TargetId, r.Lun, r.DriveLetter),
                FormatText("SIMDRIVE|DVD-ROM SIM16X  |1.00|SIMDRIVEDVD-ROM SIM16X  |%X "
                           "258.772 %X|0 %d 0 %d",
                           c.chip, c.flashSize, kind == Rig::Aspi, kind == Rig::Aspi ? 0 : 'E'));
        }
    }
}

// The registry decides whether the back-end is usable; the version, the
// access mode of the device files, C: to Z: in turn, each closed before the
// next is opened.
TEST(PassThrough, ScansTheLettersWithTheVersionsAccessMode) {
    using Registry = SimPassThroughCarrier::Registry;
    const struct {
        Registry registry;
        uint32_t major, access, share;
        int initialized;
    } cases[] = {{Registry::Present, 4, 0x80000000u, 1, 1},
                 {Registry::Missing, 5, 0xC0000000u, 3, 0},
                 {Registry::Unreadable, 6, 0xC0000000u, 3, 0}};
    for (const auto& c : cases) {
        auto owned = std::make_unique<SimPassThroughCarrier>();
        SimPassThroughCarrier& carrier = *owned;
        carrier.SetRegistry(c.registry, c.major);  // as many subkeys as the version, say
        carrier.SetMajorVersion(c.major);
        carrier.AddDrive('C', {0});  // a disk
        for (char letter : {'D', 'E', 'Z'}) carrier.AddDrive(letter);
        carrier.RefuseAccess('F');
        carrier.RefusePassThrough('G');
        PassThroughDeviceAccess access(std::move(owned));
        EXPECT_EQ(access.Initialized, c.initialized);
        EXPECT_EQ(access.AdapterCount, c.initialized ? c.major : 0);
        const DeviceList list = Listed(access);
        std::string letters;
        for (int i = 0; i < list.Count(); ++i) letters += list.At(i)->DriveLetter;
        EXPECT_EQ(letters, "DEZ");
        EXPECT_EQ(carrier.Closes(), "CDEGZ");
        EXPECT_EQ(carrier.OpenHandleCount() + carrier.StrayCloses(), 0);
        ASSERT_EQ(access.OpenDevice(*list.At(1)), 1);
        for (const auto& open : carrier.Opens())
            EXPECT_TRUE(open.access == c.access && open.shareMode == c.share) << open.path;
    }
}

// Only a library whose support information says SS_COMP is kept; an
// unusable one sends nothing.
TEST(Aspi, SupportInfoStatusDecidesWhetherTheLibraryIsKept) {
    const struct {
        uint32_t info;
        bool loadFails;
        int initialized;
        uint32_t adapters;
    } cases[] = {{0x0102, false, 1, 2}, {0x01FF, false, 1, 255}, {0xE800, false, 0, 0},
                 {0x8102, false, 0, 0}, {0x010102, false, 1, 2}, {0x0102, true, 0, 0}};
    for (const auto& c : cases) {
        SimAspiHost host;
        host.OverrideSupportInfo(c.info);
        host.loadFails = c.loadFails;
        host.AddAdapter();
        {
            AspiDeviceAccess access(std::make_unique<SimAspiLibrary>(host), [] { return 0u; });
            EXPECT_EQ(access.Initialized, c.initialized);
            EXPECT_EQ(access.AdapterCount, c.adapters);
            EXPECT_EQ(host.loaded, c.initialized == 1);
            Listed(access);
            access.CommitMicrocode();
            EXPECT_EQ(host.Requests().empty(), !c.initialized);
        }
        EXPECT_FALSE(host.loaded);
        EXPECT_EQ(host.unloads, c.loadFails ? 0 : 1);
    }
}

TEST(Aspi, ScansTheTargetsOfEveryAdapterWhoseInquiryCompletes) {
    for (uint8_t status : {SS_INVALID_HA, SS_ERR, SS_PENDING, uint8_t{2}}) {
        SimAspiHost host;
        host.AddAdapter(status, 2);   // its target count must not be used
        host.AddAdapter(SS_COMP, 0);  // 0 stands for 8
        host.AddAdapter(SS_COMP, 3);
        SimulatedDrive hidden, first, last({5, "SIMDRIVE", "SECOND"});
        host.AttachDrive(0, 0, hidden);
        host.AttachDrive(1, 7, first);
        host.AttachDrive(2, 0, last);
        AspiDeviceAccess access(std::make_unique<SimAspiLibrary>(host), [] { return 0u; });
        const DeviceList list = Listed(access);
        EXPECT_THAT(host.InquiredAdapters(), ElementsAre(0, 1, 2));
        EXPECT_THAT(host.ExecutedAddresses(), ElementsAre(0x100, 0x101, 0x102, 0x103, 0x104, 0x105,
                                                          0x106, 0x107, 0x200, 0x201, 0x202));
        ASSERT_EQ(list.Count(), 2);
        EXPECT_EQ(list.At(0)->AdapterId * 16 + list.At(0)->TargetId, 0x17);
        EXPECT_STREQ(list.At(1)->Product, "SECOND          ");
        std::string inquiry;  // the last adapter's
        for (const auto& request : host.Requests())
            if (request.block.size() == HaInquirySize)
                inquiry = Dump(request.block.data(), HaInquirySize, 0, nullptr);
        EXPECT_EQ(inquiry, "00 00 02");
    }
}

// Keeps delayed requests pending until the test ends them.
struct HeldScheduler : CompletionScheduler {
    std::vector<std::function<void()>> held;
    void Schedule(unsigned, std::function<void()> work) override { held.push_back(work); }
    void CompleteAll() {
        for (auto& work : std::exchange(held, {})) work();
    }
};

TEST(Aspi, WaitsUpTo256SecondsForTheLibraryToEndARequest) {
    const struct {
        std::vector<uint32_t> clock;  // one reading per read; the last repeats
        size_t completeAt;            // the read at which the library ends it
        int result;
        size_t reads;
    } cases[] = {{{1000, 1000 + 255999}, 1, 1, 2},
                 {{1000, 1000 + 256000}, 1, 0, 2},
                 {{1000, 2000, 100000, 256999, 257000}, 99, 0, 5},
                 {{0xFFFFF000u, 0x0002E000u}, 1, 1, 2},  // the clock wraps
                 {{0xFFFFF000u, 0x0003F000u}, 1, 0, 2}};
    for (const auto& c : cases) {
        SimAspiHost host;
        HeldScheduler scheduler;
        host.SetScheduler(&scheduler);
        host.AddAdapter(SS_COMP, 1);
        SimulatedDrive drive;
        drive.Flash()[15] = 0xC3;
        drive.SetCompletionDelayMs(1);
        host.AttachDrive(0, 0, drive);
        size_t reads = 0;
        AspiDeviceAccess access(std::make_unique<SimAspiLibrary>(host), [&] {
            if (reads == c.completeAt) scheduler.CompleteAll();
            return c.clock[std::min(reads++, c.clock.size() - 1)];
        });
        access.OpenDevice(ZeroDeviceRecord());
        uint8_t chunk[16] = {};
        EXPECT_EQ(access.ReadFlashData(chunk, 0, 0, 16), c.result) << c.clock.back();
        EXPECT_EQ(reads, c.reads) << c.clock.back();
        // An abandoned request still has its block when the library ends it
        // late, and the next request gets a block of its own.
        scheduler.CompleteAll();
        drive.SetCompletionDelayMs(0);
        EXPECT_EQ(access.ReadFlashData(chunk, 0, 0, 16), 1);
        EXPECT_EQ(chunk[15], 0xC3);
    }
}

}  // namespace
