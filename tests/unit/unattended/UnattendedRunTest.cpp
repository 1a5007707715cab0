// Unattended runs end to end: the switches parsed, the pass-through back-end
// over simulated drives, and fakes for the log, the clock, the backup folder
// and the restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/passthrough/PassThroughDeviceAccess.h"
#include "sim/passthrough/SimPassThroughCarrier.h"
#include "unattended/CommandLine.h"
#include "unattended/UnattendedRun.h"

namespace {

struct FixedClock : LogClock {
    LogTime Now() override { return {2024, 5, 1, 13, 45, 7}; }
};

struct Lines : LogSink {
    std::vector<std::string> lines;
    void WriteLine(const std::string& line) override { lines.push_back(line); }
};

// Hands the back-end the test's carrier, which outlives the run.
struct CarrierView : PassThroughPlatform {
    SimPassThroughCarrier& c;
    explicit CarrierView(SimPassThroughCarrier& carrier) : c(carrier) {}
    bool ScsiSubkeyCount(uint32_t& count) override { return c.ScsiSubkeyCount(count); }
    uint32_t MajorVersion() override { return c.MajorVersion(); }
    Handle OpenDevice(const char* path, uint32_t access, uint32_t share) override {
        return c.OpenDevice(path, access, share);
    }
    bool DeviceControl(Handle h, uint32_t code, uint8_t* block, uint32_t in, uint32_t out,
                       uint8_t* direct) override {
        return c.DeviceControl(h, code, block, in, out, direct);
    }
    void CloseDevice(Handle h) override { c.CloseDevice(h); }
};

struct SimBackend : DriveBackend {
    SimPassThroughCarrier carrier;
    bool fails = false;
    std::string Description() override { return "Windows NT family, SCSI pass-through"; }
    std::unique_ptr<DeviceAccess> Create() override {
        if (fails) return nullptr;
        return std::make_unique<PassThroughDeviceAccess>(std::make_unique<CarrierView>(carrier));
    }
    std::string FailureText() override { return "Initialized Failed (Windows NT/2000)!!"; }
};

struct MemoryFolder : BackupFolder {
    std::map<std::string, std::vector<uint8_t>> files;
    bool exists = true, writeFails = false;
    std::string current;
    bool Exists() override { return exists; }
    std::string PathOf(const std::string& name) override { return "C:\\backup\\" + name; }
    Created CreateNew(const std::string& name) override {
        if (files.count(name)) return Created::NameTaken;
        files[current = name];
        return Created::Yes;
    }
    bool Write(const uint8_t* data, uint32_t length) override {
        files[current].assign(data, data + (writeFails ? length / 2 : length));
        return !writeFails;
    }
    bool Close() override { return true; }
    void Remove() override { files.erase(current); }
};

struct FakeRestart : RestartPlatform {
    unsigned long privilegeError = 0;
    int restartResult = 1;
    std::vector<unsigned> flags;
    int OpenProcessToken() override { return 1; }
    void LookupShutdownPrivilege() override {}
    unsigned long EnableShutdownPrivilege() override { return privilegeError; }
    int RequestRestart(unsigned f) override { return flags.push_back(f), restartResult; }
    void ShowMessage(const char* text, const char*) override { ADD_FAILURE() << text; }
};

// What a console would show: status texts, the progress, failed attempts.
struct Echo : OperatorFeedback {
    std::string texts;
    int attempts = 0, progress = -1;
    void SetStatusText(const std::string& text) override { texts += text + ";"; }
    void SetProgress(int position) override { progress = position; }
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override { return 0; }
    void ChunkAttemptFailed(uint32_t, ChunkStep) override { ++attempts; }
};

std::vector<uint8_t> Payload(char model) {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    uint8_t* image = block.data() + PayloadImageOffset;
    for (uint32_t i = 0; i < ImageSize; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    image[0] = 0x42;
    char header[16];
    std::snprintf(header, sizeof header, "5.1V %04X", ImageChecksum(image, ImageSize));
    std::copy(header, header + 9, block.begin());
    block[PayloadModelOffset] = static_cast<uint8_t>(model);
    return block;
}

const SimDriveIdentity Model4 = {5, "DVD-ROM", "16X", "5.0V"};
const SimDriveIdentity OtherModel = {5, "SIMDRIVE", "16X", "5.0V"};

// One run: drives behind letters E, F, ..., each flash filled with its own
// pattern.
struct SimRun {
    SimPassThroughCarrier* carrier;
    SimBackend backend;
    Lines log;
    FixedClock clock;
    MemoryFolder folder;
    FakeRestart restart;
    std::vector<uint8_t> block = Payload('4');
    std::vector<SimulatedDrive*> drives;
    OperatorFeedback* echo = nullptr;

    explicit SimRun(std::vector<SimDriveIdentity> identities = {Model4}) {
        carrier = &backend.carrier;
        char letter = 'E';
        for (const SimDriveIdentity& identity : identities) {
            drives.push_back(&carrier->AddDrive(letter, identity));
            std::fill(drives.back()->Flash().begin(), drives.back()->Flash().end(), letter++);
        }
    }
    RunOutcome Run(const char* commandLine) {
        const SwitchParse parse = ParseSwitches(SplitCommandLine(commandLine));
        EXPECT_FALSE(parse.refused) << parse.reason;
        RunSeams seams{backend, log,     clock,           &folder, &restart, 2,
                       5,       nullptr, WindowsExitCode, "1.58",  echo};
        return RunUnattended(parse.plan, FirmwarePayload(block.data()), seams);
    }
    std::vector<uint8_t> Image() const { return {block.begin() + PayloadImageOffset, block.end()}; }
    // Lines holding text.
    int Logged(const std::string& text) const {
        return static_cast<int>(std::count_if(log.lines.begin(), log.lines.end(), [&](auto& l) {
            return l.find(text) != std::string::npos;
        }));
    }
    size_t LineOf(const std::string& text) const {
        for (size_t i = 0; i < log.lines.size(); ++i)
            if (log.lines[i].find(text) != std::string::npos) return i;
        return log.lines.size();
    }
    int Writes(int drive) const {
        const auto& entries = drives[drive]->Log();
        return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                              [](auto& e) { return e.cdb[0] == 0x3B; }));
    }
};

TEST(UnattendedRunTest, SilentUpgradeOfOneDrive) {
    SimRun run;
    EXPECT_EQ(run.Run("x /S /LOG=C:\\fw.log"), RunOutcome::Upgraded);
    EXPECT_EQ(run.drives[0]->Flash(), run.Image());
    EXPECT_EQ(run.drives[0]->CommitCount(), 1);
    EXPECT_EQ(run.log.lines.front(),
              "2024-05-01 13:45:07 Flash Upgrade Program 1.58, switches: /S /LOG=C:\\fw.log");
    for (const char* line : {
             "Payload: firmware 5.1V for model 4, checksum 0042",
             "Platform: Windows NT family, SCSI pass-through",
             "Drives found: 1",
             "Drive 0 at E:, vendor \"DVD-ROM \", product \"16X             \", revision "
             "\"5.0V\", version 1.0, flash 0x20000 bytes",
             "Drive 0: model guard passes: \"DVD-ROM 16X             \" with firmware version "
             "\"5.0V\" matches \"5.*V\"",
             "Drive 0: status: Upgrade Firmware...",
             "Drive 0: status: Upgrade Firmware Successful!!",
             "Drive 0: upgraded",
         }) {
        EXPECT_EQ(run.Logged(line), 1) << line;
    }
    EXPECT_EQ(run.log.lines.back(),
              "2024-05-01 13:45:07 Result: upgraded, restart needed, exit code 3010");
}

TEST(UnattendedRunTest, BackupFirstIntoANewFileThenTheUpgrade) {
    SimRun run;
    const std::vector<uint8_t> oldFlash = run.drives[0]->Flash();
    run.folder.files["DVD-ROM_16X_5.0V.bin"] = {1, 2, 3};
    EXPECT_EQ(run.Run("x /S /BACKUP=C:\\backup"), RunOutcome::Upgraded);
    EXPECT_EQ(run.folder.files["DVD-ROM_16X_5.0V.bin"], (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(run.folder.files["DVD-ROM_16X_5.0V-2.bin"], oldFlash);
    EXPECT_EQ(run.drives[0]->Flash(), run.Image());
    EXPECT_LT(run.LineOf("backup written: C:\\backup\\DVD-ROM_16X_5.0V-2.bin (131072 bytes)"),
              run.LineOf("status: Upgrade Firmware..."));
}

TEST(UnattendedRunTest, FailedBackupLeavesTheDriveUnwritten) {
    for (int fault = 0; fault < 3; ++fault) {
        SimRun run;
        const std::vector<uint8_t> oldFlash = run.drives[0]->Flash();
        run.folder.writeFails = fault == 0;
        run.folder.exists = fault != 2;
        if (fault == 1) run.drives[0]->AddFault({SimFault::FailFlashRead, 0x8000, 5});
        EXPECT_EQ(run.Run("x /S /BACKUP=C:\\backup"),
                  fault == 2 ? RunOutcome::BadUsage : RunOutcome::Failed);
        EXPECT_TRUE(run.folder.files.empty()) << fault;
        EXPECT_EQ(run.Writes(0), 0);
        EXPECT_EQ(run.drives[0]->Flash(), oldFlash);
        EXPECT_EQ(run.Logged("Drive 0: not written: no backup"), fault == 2 ? 0 : 1);
        EXPECT_EQ(run.Logged("attempt at flash offset 0x08000 failed: flash read"),
                  fault == 1 ? 5 : 0);
        EXPECT_EQ(run.Logged(fault == 1   ? "status: Error Happen in ID 0 OFFSET 0x8000"
                             : fault == 0 ? "cannot write C:\\backup\\DVD-ROM_16X_5.0V.bin"
                                          : "Backup folder not found: C:\\backup"),
                  1);
    }
    SimRun missing;
    missing.folder.exists = false;
    EXPECT_EQ(missing.Run("x /S /BACKUP=C:\\none"), RunOutcome::BadUsage);
    EXPECT_TRUE(missing.carrier->Controls().empty());
}

TEST(UnattendedRunTest, ModelGuardRefusesAnotherModelUnlessForced) {
    SimRun refused({OtherModel});
    EXPECT_EQ(refused.Run("x /S"), RunOutcome::NoDrive);
    EXPECT_EQ(refused.Writes(0), 0);
    EXPECT_EQ(refused.Logged("Drive 0: model guard refuses: the drive is \"SIMDRIVE16X"), 1);
    EXPECT_EQ(refused.log.lines.back().substr(20),
              "Result: no drive that this firmware is for, exit code 2");

    SimRun forced({OtherModel});
    EXPECT_EQ(forced.Run("x /S /FORCE"), RunOutcome::Upgraded);
    EXPECT_EQ(forced.drives[0]->Flash(), forced.Image());
    EXPECT_EQ(forced.Logged("Drive 0: model guard skipped (forced): the drive is"), 1);
}

TEST(UnattendedRunTest, FiveFailedAttemptsOnOneChunkFailTheRun) {
    const struct {
        SimFault::Kind kind;
        const char* step;
    } cases[] = {{SimFault::FailWrite, "write"},
                 {SimFault::FailReadBack, "read-back"},
                 {SimFault::CorruptReadBack, "compare"}};
    for (const auto& c : cases) {
        SimRun run;
        Echo echo;
        run.echo = &echo;
        run.drives[0]->AddFault({c.kind, 0x14000, 5});
        EXPECT_EQ(run.Run("x /S"), RunOutcome::Failed);
        EXPECT_EQ(run.Logged(std::string("attempt at flash offset 0x14000 failed: ") + c.step), 5);
        EXPECT_EQ(run.Logged("Drive 0: status: Error Happen in ID 1 OFFSET 0x4000"), 1);
        EXPECT_FALSE(run.drives[0]->Committed());
        EXPECT_EQ(run.log.lines.back().substr(20), "Result: failed, exit code 1603");
        EXPECT_EQ(echo.texts, "Upgrade Firmware...;Error Happen in ID 1 OFFSET 0x4000;");
        EXPECT_EQ(echo.attempts, 5);
        EXPECT_EQ(echo.progress, 0x14000 * 75 / 0x20000);
    }
}

TEST(UnattendedRunTest, RebootAfterTheUpgrade) {
    const struct {
        unsigned long privilegeError;
        int restartResult;
        RunOutcome outcome;
        const char* logged;
    } cases[] = {
        {0, 1, RunOutcome::Restarted, "Restart: requested with flags 0x12"},
        {1300, 1, RunOutcome::Failed, "Restart: Reboot : AdjustTokenPrivileges Fail!!"},
        {0, 0, RunOutcome::Failed, "Restart: Reboot : ExitWindowsEx Fail!!"},
    };
    for (const auto& c : cases) {
        SimRun run;
        run.restart.privilegeError = c.privilegeError;
        run.restart.restartResult = c.restartResult;
        EXPECT_EQ(run.Run("x /S /REBOOT"), c.outcome);
        EXPECT_EQ(run.restart.flags, std::vector<unsigned>{0x12});
        EXPECT_EQ(run.Logged(c.logged), 1) << c.logged;
    }
    SimRun noReboot({OtherModel});
    EXPECT_EQ(noReboot.Run("x /S /REBOOT"), RunOutcome::NoDrive);
    EXPECT_TRUE(noReboot.restart.flags.empty());
}

TEST(UnattendedRunTest, UnusablePayloadReachesNoDriveButStillLists) {
    for (int damage = 0; damage < 2; ++damage) {
        SimRun run;
        if (damage == 0) std::copy_n("INSERT_FIRMWARE", 15, run.block.begin());
        if (damage == 1) run.block[PayloadImageOffset + 77] ^= 0x40;
        EXPECT_EQ(run.Run("x /S"), RunOutcome::BadPayload);
        EXPECT_TRUE(run.carrier->Opens().empty());
        EXPECT_EQ(run.Logged(damage ? "Payload: checksum does not match" : "Payload: unfilled"), 1);
        EXPECT_EQ(run.log.lines.back().substr(20),
                  "Result: bad payload, nothing sent, exit code 13");
    }
    SimRun list({Model4, OtherModel});
    std::copy_n("INSERT_FIRMWARE", 15, list.block.begin());
    EXPECT_EQ(list.Run("x /LIST"), RunOutcome::Listed);
    EXPECT_EQ(list.Logged("Drive 1 at F:, vendor \"SIMDRIVE\""), 1);
    EXPECT_EQ(list.Logged("Drive 0: model guard passes"), 1);
    EXPECT_EQ(list.Logged("Drive 1: model guard refuses"), 1);
    EXPECT_EQ(list.Writes(0) + list.Writes(1), 0);
    EXPECT_EQ(list.log.lines.back().substr(20), "Result: listed, exit code 0");
}

TEST(UnattendedRunTest, DriveChoiceAndBackendFailure) {
    const struct {
        const char* line;
        RunOutcome outcome;
        bool firstWritten, secondWritten;
    } cases[] = {
        {"x /S", RunOutcome::Upgraded, true, true},
        {"x /S /DRIVE=F:", RunOutcome::Upgraded, false, true},
        {"x /S /DRIVE=0", RunOutcome::Upgraded, true, false},
        {"x /S /DRIVE=2", RunOutcome::NoDrive, false, false},
        {"x /S /DRIVE=G:", RunOutcome::NoDrive, false, false},
        {"x /S /DRIVE=0:0", RunOutcome::NoDrive, false, false},
        {"x /LIST /DRIVE=3", RunOutcome::NoDrive, false, false},
    };
    for (const auto& c : cases) {
        SimRun run({Model4, Model4});
        EXPECT_EQ(run.Run(c.line), c.outcome) << c.line;
        EXPECT_EQ(run.drives[0]->Flash() == run.Image(), c.firstWritten) << c.line;
        EXPECT_EQ(run.drives[1]->Flash() == run.Image(), c.secondWritten) << c.line;
    }
    SimRun broken;
    broken.backend.fails = true;
    EXPECT_EQ(broken.Run("x /S"), RunOutcome::Failed);
    EXPECT_EQ(broken.Logged("Back-end failed: Initialized Failed (Windows NT/2000)!!"), 1);

    Lines log;
    FixedClock clock;
    RunSeams seams{broken.backend, log,           clock,  nullptr, nullptr, 1, 4,
                   nullptr,        LinuxExitCode, "1.58", nullptr};
    EXPECT_EQ(EndBeforeRun("/S /X", "unknown switch: /X", RunOutcome::BadUsage, seams),
              RunOutcome::BadUsage);
    EXPECT_EQ(log.lines.back().substr(20), "Result: bad usage, nothing touched, exit code 2");
}

}  // namespace
