// The ASPI back-end over simulated host adapters and drives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/aspi/AspiBench.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

unsigned Address(unsigned adapter, unsigned target) {
    return adapter << 8 | target;
}

bool AllZero(const DeviceRecord& record) {
    DeviceRecord zero = ZeroDeviceRecord();
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

// --- construction ---------------------------------------------------------

struct SupportCase {
    uint32_t supportInfo;
    int initialized;
    uint32_t adapterCount;
};

TEST(AspiConstructionTest, SupportInfoStatusDecidesWhetherTheLibraryIsUsable) {
    const SupportCase cases[] = {
        {0x0102, 1, 2}, {0x0100, 1, 0},   {0x01FF, 1, 255}, {0xE800, 0, 0},  // no host adapters
        {0x0002, 0, 0},                    // pending is not usable either
        {0x8102, 0, 0}, {0x010102, 1, 2},  // bits above 15 are not part of the status
    };
    for (const SupportCase& c : cases) {
        SCOPED_TRACE(c.supportInfo);
        AspiBench bench;
        bench.host.OverrideSupportInfo(c.supportInfo);
        {
            auto backend = bench.Open();
            EXPECT_EQ(backend->Initialized, c.initialized);
            EXPECT_EQ(backend->AdapterCount, c.adapterCount);
            EXPECT_TRUE(AllZero(backend->CurrentDevice));
            // An unusable library is released at once, a usable one kept.
            EXPECT_EQ(bench.host.loaded, c.initialized == 1);
        }
        EXPECT_FALSE(bench.host.loaded);
        EXPECT_EQ(bench.host.loads, 1);
        EXPECT_EQ(bench.host.unloads, 1);
    }
}

TEST(AspiConstructionTest, MissingLibraryLeavesTheBackEndUnusableAndSendsNothing) {
    AspiBench bench;
    bench.host.AddAdapter();
    bench.AddDrive(0, 0);
    bench.host.loadFails = true;
    auto backend = bench.Open();
    EXPECT_EQ(backend->Initialized, 0);
    DeviceList list;
    backend->EnumerateDevices(list);
    uint8_t buffer[16];
    EXPECT_EQ(backend->ReadBufferData(buffer, 0, 0, sizeof buffer), 0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(bench.host.Requests().empty());
}

// --- enumeration ----------------------------------------------------------

TEST(AspiEnumerationTest, TargetCountComesFromAdapterUniqueByteThree) {
    struct Case {
        uint8_t maxTargets;
        std::vector<unsigned> scanned;
    } cases[] = {
        {0, {0, 1, 2, 3, 4, 5, 6, 7}},
        {2, {0, 1}},
        {1, {0}},
        {16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.maxTargets));
        AspiBench bench;
        bench.host.AddAdapter(SS_COMP, c.maxTargets);
        auto backend = bench.Open();
        DeviceList list;
        backend->EnumerateDevices(list);
        std::vector<unsigned> expected;
        for (unsigned target : c.scanned) expected.push_back(Address(0, target));
        // Nothing answers, so each address gets exactly its inquiry.
        EXPECT_THAT(bench.host.ExecutedAddresses(), ElementsAreArray(expected));
        EXPECT_EQ(list.Count(), 0);
    }
}

TEST(AspiEnumerationTest, AdaptersThatDoNotCompleteTheirInquiryAreSkipped) {
    struct Case {
        const char* name;
        uint8_t firstStatus;
    } cases[] = {{"invalid adapter", SS_INVALID_HA},
                 {"adapter error", SS_ERR},
                 {"still pending", SS_PENDING},
                 {"aborted", 0x02}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AspiBench bench;
        bench.host.AddAdapter(c.firstStatus, 2);  // its byte 45 must not be used
        bench.host.AddAdapter(SS_COMP, 3);
        bench.AddDrive(0, 0);
        bench.AddDrive(1, 2);
        auto backend = bench.Open();
        ASSERT_EQ(backend->AdapterCount, 2u);
        DeviceList list;
        backend->EnumerateDevices(list);
        EXPECT_THAT(bench.host.InquiredAdapters(), ElementsAre(0, 1));
        EXPECT_THAT(bench.host.ExecutedAddresses(),
                    ElementsAre(Address(1, 0), Address(1, 1), Address(1, 2)));
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.At(0)->AdapterId, 1);
        EXPECT_EQ(list.At(0)->TargetId, 2);
    }
}

TEST(AspiEnumerationTest, DrivesAreListedInDiscoveryOrderWithTheirAddresses) {
    AspiBench bench;
    bench.host.AddAdapter(SS_COMP, 4);
    bench.host.AddAdapter(SS_COMP, 2);
    SimDriveIdentity first;
    first.product = "FIRST DRIVE";
    first.versionMajor = 2;
    first.versionMinor = 7;
    SimDriveIdentity second;
    second.product = "SECOND DRIVE";
    second.chipCode = 0x3140;
    second.flashSizeKb = 0x200;
    SimDriveIdentity third;
    third.product = "THIRD DRIVE";
    // Attached out of order: the scan order decides.
    bench.AddDrive(1, 0, third);
    bench.AddDrive(0, 3, second);
    bench.AddDrive(0, 1, first);
    auto backend = bench.Open();
    DeviceList list;
    backend->EnumerateDevices(list);

    ASSERT_EQ(list.Count(), 3);
    struct Expected {
        uint8_t adapter, target;
        const char* product;
        uint16_t chip;
        uint32_t flashSize;
    } expected[] = {{0, 1, "FIRST DRIVE     ", 0x3120, 0x20000},
                    {0, 3, "SECOND DRIVE    ", 0x3140, 0x80000},
                    {1, 0, "THIRD DRIVE     ", 0x3120, 0x20000}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const DeviceRecord& record = *list.At(i);
        EXPECT_EQ(record.AdapterId, expected[i].adapter);
        EXPECT_EQ(record.TargetId, expected[i].target);
        EXPECT_EQ(record.Lun, 0);
        EXPECT_EQ(record.DriveLetter, 0);
        EXPECT_STREQ(record.Vendor, "SIMDRIVE");
        EXPECT_STREQ(record.Product, expected[i].product);
        EXPECT_EQ(record.ChipCode, expected[i].chip);
        EXPECT_EQ(record.FlashSize, expected[i].flashSize);
    }
    EXPECT_EQ(list.At(0)->VersionMajor, 2);
    EXPECT_EQ(list.At(0)->VersionMinor, 7);
    EXPECT_TRUE(AllZero(backend->CurrentDevice));
}

TEST(AspiEnumerationTest, EveryKindOfUnsuitableDriveIsLeftOut) {
    struct Case {
        const char* name;
        std::function<void(SimDriveIdentity&, SimulatedDrive*)> spoil;
    } cases[] = {
        {"direct-access device", [](SimDriveIdentity& id, SimulatedDrive*) { id.deviceType = 0; }},
        {"unknown device type",
         [](SimDriveIdentity& id, SimulatedDrive*) { id.deviceType = 0x1F; }},
        {"swapped signature", [](SimDriveIdentity& id, SimulatedDrive*) { id.signature = 0x0611; }},
        {"unknown chip", [](SimDriveIdentity& id, SimulatedDrive*) { id.chipCode = 0x3160; }},
        {"vanished drive",
         [](SimDriveIdentity&, SimulatedDrive* drive) {
             if (drive) drive->SetVanished(true);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AspiBench bench;
        bench.host.AddAdapter(SS_COMP, 3);
        SimDriveIdentity spoiled;
        c.spoil(spoiled, nullptr);
        bench.AddDrive(0, 0);
        c.spoil(spoiled, &bench.AddDrive(0, 1, spoiled));
        bench.AddDrive(0, 2);
        auto backend = bench.Open();
        DeviceList list;
        backend->EnumerateDevices(list);
        ASSERT_EQ(list.Count(), 2);
        EXPECT_EQ(list.At(0)->TargetId, 0);
        EXPECT_EQ(list.At(1)->TargetId, 2);
    }
}

TEST(AspiEnumerationTest, TestUnitReadyIsSentTwiceAndItsFailureDoesNotMatter) {
    AspiBench bench;
    bench.host.AddAdapter(SS_COMP, 1);
    bench.AddDrive(0, 0);
    bench.host.RefuseOpcode(0x00);
    auto backend = bench.Open();
    DeviceList list;
    backend->EnumerateDevices(list);
    EXPECT_EQ(list.Count(), 1);
    std::vector<uint8_t> opcodes;
    for (const auto& request : bench.host.Requests())
        if (request.block[0] == SC_EXEC_SCSI_CMD) opcodes.push_back(request.block[48]);
    EXPECT_THAT(opcodes, ElementsAre(0x12, 0x00, 0x00, 0x3C));
}

// --- open and data commands -----------------------------------------------

TEST(AspiOpenTest, OpenSucceedsForAVanishedDriveAndTheFirstDataCommandFails) {
    AspiBench bench;
    bench.host.AddAdapter(SS_COMP, 2);
    SimulatedDrive& drive = bench.AddDrive(0, 1);
    auto backend = bench.Open();
    DeviceList list;
    backend->EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    DeviceRecord record = *list.At(0);
    record.Reserved72[5] = 0xAB;  // copied whole, whatever it holds

    drive.SetVanished(true);
    size_t sent = bench.host.Requests().size();
    EXPECT_EQ(backend->OpenDevice(record), 1);
    EXPECT_EQ(bench.host.Requests().size(), sent);  // opening sends nothing
    EXPECT_EQ(std::memcmp(&backend->CurrentDevice, &record, sizeof record), 0);

    std::vector<uint8_t> chunk(0x4000);
    EXPECT_EQ(backend->ReadFlashData(chunk.data(), 0, 0, 0x4000), 0);
    backend->CloseDevice();
    EXPECT_EQ(backend->CurrentDevice.FlashSize, 0x20000u);

    drive.SetVanished(false);
    EXPECT_EQ(backend->ReadFlashData(chunk.data(), 0, 0, 0x4000), 1);
}

TEST(AspiOpenTest, FlashReadOutThroughReadFlashDataReturnsTheWholeFlash) {
    AspiBench bench;
    bench.host.AddAdapter(SS_COMP, 1);
    SimulatedDrive& drive = bench.AddDrive(0, 0);
    for (size_t i = 0; i < drive.Flash().size(); ++i)
        drive.Flash()[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    auto backend = bench.Open();
    DeviceList list;
    backend->EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    ASSERT_EQ(backend->OpenDevice(*list.At(0)), 1);

    const uint32_t size = backend->CurrentDevice.FlashSize;
    ASSERT_EQ(size, drive.Flash().size());
    std::vector<uint8_t> readOut(size);
    for (uint32_t position = 0; position < size; position += 0x4000)
        ASSERT_EQ(backend->ReadFlashData(&readOut[position], BufferIdOf(position),
                                         BufferOffsetOf(position), 0x4000),
                  1)
            << position;
    EXPECT_TRUE(readOut == drive.Flash());
}

TEST(AspiOpenTest, AFailedCommandReturnsZero) {
    AspiBench bench;
    bench.host.AddAdapter(SS_COMP, 1);
    SimulatedDrive& drive = bench.AddDrive(0, 0);
    drive.AddFault({SimFault::FailFlashRead, 0x14000, 1});
    drive.SetCommitFails(true);
    auto backend = bench.Open();
    DeviceRecord record = ZeroDeviceRecord();
    backend->OpenDevice(record);
    std::vector<uint8_t> chunk(0x4000);
    EXPECT_EQ(backend->ReadFlashData(chunk.data(), 1, 0x4000, 0x4000), 0);
    EXPECT_EQ(backend->ReadFlashData(chunk.data(), 1, 0x4000, 0x4000), 1);
    EXPECT_EQ(backend->CommitMicrocode(), 0);
}

// --- completion -----------------------------------------------------------

TEST(AspiCompletionTest, LateCompletionFromAnotherThreadIsAwaited) {
    AspiBench bench;
    ThreadScheduler scheduler;
    bench.host.SetScheduler(&scheduler);
    bench.host.AddAdapter(SS_COMP, 2);
    SimulatedDrive& drive = bench.AddDrive(0, 1);
    drive.SetCompletionDelayMs(5);
    int clockReads = 0;
    auto backend = bench.Open([&clockReads] {
        ++clockReads;
        return AspiBench::SteadyMilliseconds();
    });
    DeviceList list;
    backend->EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.At(0)->FlashSize, 0x20000u);
    // Each of the four commands to the drive was polled more than once.
    EXPECT_GT(clockReads, 8);

    for (size_t i = 0; i < drive.Flash().size(); ++i) drive.Flash()[i] = static_cast<uint8_t>(i);
    backend->OpenDevice(*list.At(0));
    std::vector<uint8_t> chunk(0x4000);
    ASSERT_EQ(backend->ReadFlashData(chunk.data(), 1, 0x8000, 0x4000), 1);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), drive.Flash().begin() + 0x18000));
}

// A clock that reads as given, one value per read; the last value repeats.
// Lets the held requests end at a chosen read.
struct ScriptedClock {
    std::vector<uint32_t> readings;
    size_t completeAtRead = SIZE_MAX;
    HeldScheduler* scheduler = nullptr;
    size_t reads = 0;

    uint32_t operator()() {
        size_t index = reads < readings.size() ? reads : readings.size() - 1;
        if (reads == completeAtRead) scheduler->CompleteAll();
        ++reads;
        return readings[index];
    }
};

TEST(AspiCompletionTest, TheWaitEndsAfter256Seconds) {
    struct Case {
        const char* name;
        std::vector<uint32_t> readings;
        size_t completeAtRead;
        int result;
        size_t clockReads;
    } cases[] = {
        {"ends just before the limit", {1000, 1000 + 255999}, 1, 1, 2},
        {"still pending at the limit", {1000, 1000 + 256000}, 1, 0, 2},
        {"never ends", {1000, 2000, 100000, 256999, 257000}, SIZE_MAX, 0, 5},
        {"clock wraps", {0xFFFFF000u, 0x0002E000u}, 1, 1, 2},  // 192512 ms later
        {"clock wraps past the limit", {0xFFFFF000u, 0x0003F000u}, 1, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AspiBench bench;
        HeldScheduler scheduler;
        bench.host.SetScheduler(&scheduler);
        bench.host.AddAdapter(SS_COMP, 1);
        SimulatedDrive& drive = bench.AddDrive(0, 0);
        for (size_t i = 0; i < 0x4000; ++i) drive.Flash()[i] = 0xC3;
        drive.SetCompletionDelayMs(1);
        auto clock = std::make_shared<ScriptedClock>();
        clock->readings = c.readings;
        clock->completeAtRead = c.completeAtRead;
        clock->scheduler = &scheduler;
        auto backend = bench.Open([clock] { return (*clock)(); });
        backend->OpenDevice(ZeroDeviceRecord());

        std::vector<uint8_t> chunk(0x4000);
        EXPECT_EQ(backend->ReadFlashData(chunk.data(), 0, 0, 0x4000), c.result);
        EXPECT_EQ(clock->reads, c.clockReads);

        // The library ends the abandoned request late: its block is still
        // there to take the status, and a new request gets a block of its own.
        scheduler.CompleteAll();
        drive.SetCompletionDelayMs(0);
        EXPECT_EQ(backend->ReadFlashData(chunk.data(), 0, 0, 0x4000), 1);
        EXPECT_EQ(chunk[0x3FFF], 0xC3);
        const auto& requests = bench.host.Requests();
        ASSERT_EQ(requests.size(), 2u);
    }
}

}  // namespace
