// The simulator's set-up file and the rig built from it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"
#include "sim/aspi/SimAspiConfig.h"
#include "tests/unit/aspi/AspiBench.h"

namespace {

using ::testing::HasSubstr;

TEST(SimAspiConfigTest, ParsesAdaptersDrivesAndTheirSettings) {
    const std::string text =
        "# two adapters\n"
        "support-info = 0x0103\n"
        "log = /tmp/sim.log\n"
        "map-path = /run/lock/x.lock /tmp/x.lock\n"
        "raw-io = no\n"
        "\n"
        "[adapter]\n"
        "status = 0x81\n"
        "[adapter]   # the one with the drive\n"
        "targets = 2\n"
        "[drive]\n"
        "target = 1\n"
        "vendor = ACME\n"
        "product = DVD-ROM DRIVE X\n"
        "revision = 2.1\n"
        "type = 5\n"
        "signature = 0x1106\n"
        "chip = 0x3140\n"
        "major = 3\n"
        "minor = 12\n"
        "flash-kb = 0x200\n"
        "flash-fill = 0x5A\n"
        "flash-file = in.bin\n"
        "save-flash = out.bin\n"
        "delay-ms = 20\n"
        "commit-fails = yes\n"
        "vanished = no\n"
        "fault = write 0x4000 2\n"
        "fault = corrupt 0x1C000 5\n"
        "fault = flashread 0x10000 always\n"
        "node = /dev/sr0 busy\n"
        "node = /dev/sg1 denied\n";
    SimAspiSetup setup;
    std::string error;
    ASSERT_TRUE(ParseSimAspiSetup(text, setup, error)) << error;
    EXPECT_TRUE(setup.supportInfoSet);
    EXPECT_EQ(setup.supportInfo, 0x0103u);
    EXPECT_EQ(setup.logFile, "/tmp/sim.log");
    ASSERT_EQ(setup.pathMaps.size(), 1u);
    EXPECT_EQ(setup.pathMaps[0].first, "/run/lock/x.lock");
    EXPECT_EQ(setup.pathMaps[0].second, "/tmp/x.lock");
    EXPECT_FALSE(setup.rawIo);
    ASSERT_EQ(setup.adapters.size(), 2u);
    EXPECT_EQ(setup.adapters[0].inquiryStatus, SS_INVALID_HA);
    EXPECT_TRUE(setup.adapters[0].drives.empty());
    EXPECT_EQ(setup.adapters[1].inquiryStatus, SS_COMP);
    EXPECT_EQ(setup.adapters[1].maxTargets, 2);
    ASSERT_EQ(setup.adapters[1].drives.size(), 1u);
    const SimDriveSetup& drive = setup.adapters[1].drives[0];
    EXPECT_EQ(drive.target, 1);
    EXPECT_EQ(drive.identity.vendor, "ACME");
    EXPECT_EQ(drive.identity.product, "DVD-ROM DRIVE X");
    EXPECT_EQ(drive.identity.revision, "2.1");
    EXPECT_EQ(drive.identity.chipCode, 0x3140);
    EXPECT_EQ(drive.identity.versionMajor, 3);
    EXPECT_EQ(drive.identity.versionMinor, 12);
    EXPECT_EQ(drive.identity.flashSizeKb, 0x200);
    EXPECT_EQ(drive.identity.flashFill, 0x5A);
    EXPECT_EQ(drive.flashFile, "in.bin");
    EXPECT_EQ(drive.saveFile, "out.bin");
    EXPECT_EQ(drive.delayMs, 20u);
    EXPECT_TRUE(drive.commitFails);
    EXPECT_FALSE(drive.vanished);
    ASSERT_EQ(drive.faults.size(), 3u);
    EXPECT_EQ(drive.faults[0].kind, SimFault::FailWrite);
    EXPECT_EQ(drive.faults[0].position, 0x4000u);
    EXPECT_EQ(drive.faults[0].times, 2);
    EXPECT_EQ(drive.faults[1].kind, SimFault::CorruptReadBack);
    EXPECT_EQ(drive.faults[1].position, 0x1C000u);
    EXPECT_EQ(drive.faults[2].kind, SimFault::FailFlashRead);
    EXPECT_EQ(drive.faults[2].times, -1);
    ASSERT_EQ(drive.nodes.size(), 2u);
    EXPECT_EQ(drive.nodes[0].path, "/dev/sr0");
    EXPECT_TRUE(drive.nodes[0].busy && !drive.nodes[0].denied);
    EXPECT_EQ(drive.nodes[1].path, "/dev/sg1");
    EXPECT_TRUE(drive.nodes[1].denied && !drive.nodes[1].busy);
}

TEST(SimAspiConfigTest, RejectsMistakesNamingTheLine) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[drive]\n", "line 1: a drive needs an adapter"},
        {"[adapter]\nstatus 1\n", "line 2: expected key = value"},
        {"[adapter]\ntargets = 300\n", "line 2: unknown key or bad value"},
        {"[adapter]\n[drive]\nvendor = NINE CHRS\n", "line 3"},
        {"[adapter]\n[drive]\nchip = 0x3120x\n", "line 3"},
        {"[adapter]\n[drive]\nfault = scramble 0 1\n", "line 3"},
        {"[adapter]\n[drive]\nfault = write 0x4000\n", "line 3"},
        {"[adapter]\n[drive]\ntarget = -1\n", "line 3"},
        {"vendor = X\n", "line 1"},
        {"[adapter]\nvendor = X\n", "line 2"},
        {"[adapter]\n[drive]\nsupport-info = 1\n", "line 3"},
        {"[adapter]\n[drive]\nnode = sr0\n", "line 3"},
        {"[adapter]\n[drive]\nnode = /dev/sr0 mounted\n", "line 3"},
        {"map-path = /run/lock/x.lock\n", "line 1"},
        {"map-path = /a /b /c\n", "line 1"},
        {"map-path = /a b\n", "line 1"},
        {"raw-io = maybe\n", "line 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SimAspiSetup setup;
        std::string error;
        EXPECT_FALSE(ParseSimAspiSetup(c.text, setup, error));
        EXPECT_THAT(error, HasSubstr(c.message));
    }
}

class SimAspiRigTest : public ::testing::Test {
  protected:
    std::string Path(const char* name) const {
        return ::testing::TempDir() + "sim_aspi_rig_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
    }
    void TearDown() override {
        for (const std::string& path : made) std::remove(path.c_str());
    }
    std::vector<std::string> made;
};

TEST_F(SimAspiRigTest, SavesTheFlashAfterEachCommitAndAtTheEnd) {
    std::string in = Path("in.bin"), out = Path("out.bin"), log = Path("log.txt");
    made = {in, out, log};
    std::vector<uint8_t> initial(0x20000);
    for (size_t i = 0; i < initial.size(); ++i) initial[i] = static_cast<uint8_t>(i >> 8);
    ASSERT_TRUE(WriteWholeFile(in, initial.data(), initial.size()));

    SimAspiSetup setup;
    std::string error;
    ASSERT_TRUE(ParseSimAspiSetup("log = " + log + "\n[adapter]\ntargets = 2\n[drive]\n" +
                                      "target = 1\nflash-file = " + in + "\nsave-flash = " + out +
                                      "\n",
                                  setup, error))
        << error;
    SimAspiRig rig(setup);
    ASSERT_TRUE(rig.LoadFlashFiles(error)) << error;
    ASSERT_EQ(rig.DriveCount(), 1u);
    EXPECT_TRUE(rig.Drive(0).Flash() == initial);

    AspiDeviceAccess backend(std::make_unique<SimAspiLibrary>(rig.Host()),
                             AspiBench::SteadyMilliseconds);
    DeviceList list;
    backend.EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.At(0)->TargetId, 1);
    backend.OpenDevice(*list.At(0));
    std::vector<uint8_t> saved;
    EXPECT_FALSE(ReadWholeFile(out, saved));  // nothing committed yet

    std::vector<uint8_t> image(0x20000, 0x3C);
    for (uint32_t position = 0; position < image.size(); position += 0x4000)
        ASSERT_EQ(backend.WriteBufferSave(&image[position], BufferIdOf(position),
                                          BufferOffsetOf(position), 0x4000),
                  1);
    backend.CommitMicrocode();
    ASSERT_TRUE(ReadWholeFile(out, saved));
    EXPECT_TRUE(saved == rig.Drive(0).Flash());
    EXPECT_TRUE(saved == image);

    std::remove(out.c_str());
    rig.SaveAll();
    ASSERT_TRUE(ReadWholeFile(out, saved));
    EXPECT_TRUE(saved == image);
    std::vector<uint8_t> logText;
    ASSERT_TRUE(ReadWholeFile(log, logText));
    EXPECT_THAT(std::string(logText.begin(), logText.end()), HasSubstr("adapter 0 target 1:"));
}

TEST_F(SimAspiRigTest, AMissingFlashFileIsReported) {
    SimAspiSetup setup;
    std::string error;
    std::string missing = Path("missing.bin");
    ASSERT_TRUE(
        ParseSimAspiSetup("[adapter]\n[drive]\nflash-file = " + missing + "\n", setup, error));
    SimAspiRig rig(setup);
    EXPECT_FALSE(rig.LoadFlashFiles(error));
    EXPECT_THAT(error, HasSubstr(missing));
}

}  // namespace
