// The unattended runs over simulated drives behind the pass-through back-end,
// the start of the Windows program, and the decisions they are made of.
#include <algorithm>
#include <map>
#include <sstream>
#include <tuple>

#include "tests/unit/Rig.h"
#include "unattended/BackupName.h"
#include "unattended/BackupRecord.h"
#include "unattended/CommandLine.h"
#include "unattended/ModelGuard.h"
#include "unattended/ProgramStart.h"
#include "unattended/UpToDate.h"

namespace {

// The guard's reasons for a drive of another revision and for a model digit
// that names none (nor can up to date be judged then); the verdicts: the
// payload_guard fuzz target, and Runs.
TEST(Unattended, GuardRefusals) {
    const DeviceRecord drive = Inquired("DVD-ROM ", "16X             ", "6.0V");
    EXPECT_EQ(JudgeDrive(4, drive).reason + "|" + JudgeDrive(208, drive).reason + "|" +
                  JudgeUpToDate(208, "5.1V", drive).reason,
              "firmware version \"6.0V\" does not match \"5.*V\"|the firmware's model digit 208 "
              "names no drive model, so no drive can be vouched for|up to date cannot be judged: "
              "the firmware's model digit 208 names no drive model");
}

// Not on battery whenever the system does not say it is (on battery: Runs).
// Linux: the other texts and which supplies count: the console scenarios and
// the power_supply fuzz target.
TEST(Unattended, PowerVerdicts) {
    std::string reasons;
    for (const auto& [known, ac, flag] :
         {std::tuple{false, 0u, 1u}, {true, 255u, 2u}, {true, 0u, 128u}, {true, 0u, 255u}}) {
        const PowerVerdict verdict = JudgeWindowsPower(known, ac, flag);
        EXPECT_FALSE(verdict.onBattery) << ac << " " << flag;
        reasons += verdict.reason + "|";
    }
    EXPECT_EQ(
        reasons + JudgeLinuxPower({{"AC", "Mains", "", 0, -1}, {"hid", "Battery", "Device", -1, 1}})
                      .reason,
        "power status: the system does not report it|power status: not on battery (AC line "
        "status 255, battery flag 2)|power status: no battery known to the system (AC line "
        "status 0, battery flag 128)|power status: no battery known to the system (AC line "
        "status 0, battery flag 255)|power status: no system battery");
}

TEST(Unattended, BackupFileNamesFromTheInquiryTexts) {
    const struct {
        const char *vendor, *product, *revision;
        int attempt;
        const char* name;
    } cases[] = {
        {"ARDENTA ", "DVD-ROM RVX-418 ", "1.00", 1, "ARDENTA_DVD-ROM_RVX-418_1.00.bin"},
        {"ARDENTA ", "DVD-ROM RVX-418 ", "1.00", 13, "ARDENTA_DVD-ROM_RVX-418_1.00-13.bin"},
        {"        ", "  DVD-ROM       ", "1.0 ", 1, "DVD-ROM_1.0.bin"},
        {"A\\B/C:D*", "E?F\"G<H>I|J\x01K\x7F", "\xE9\t~.", 1, "A_B_C_D__E_F_G_H_I_J_K____~..bin"},
        {"        ", "                ", "    ", 1, "drive.bin"},
        {"", "", "Aux", 2, "_Aux-2.bin"},
        {"Com1", "", "", 1, "_Com1.bin"},
        {"LPT9    ", "", "", 1, "_LPT9.bin"},
        {"nul.x", "", "", 1, "_nul.x.bin"},
        {"CLOCK$", "", "", 1, "_CLOCK$.bin"},
        {"COM0", "", "", 1, "COM0.bin"},
        {"COM10", "", "", 1, "COM10.bin"},
        {"CONSOLE", "", "", 1, "CONSOLE.bin"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BackupFileName(Inquired(c.vendor, c.product, c.revision), c.attempt), c.name);
    std::string temporaries = BackupTemporaryName(7);
    for (const char* name :
         {"unfinished-backup-12.tmp", "unfinished-backup-.tmp", "x.tmp", "unfinished-backup-1x.tmp",
          "unfinished-backup-1.bin", "xunfinished-backup-1.tmp", "unfinished-backup-1.tmpx"})
        temporaries += IsBackupTemporary(name) ? '1' : '0';
    EXPECT_EQ(temporaries, "unfinished-backup-7.tmp1000000");
}

// Every exit code, each of the Windows program's explained on a line of the
// usage (it never asks to confirm), as every switch is; the texts of the log
// and addresses.
TEST(Unattended, ExitCodesSwitchesLogTextAndAddresses) {
    const std::string usage = std::string("\r\n") + UsageText + "\r\n";
    for (const char* name :
         {"S", "LIST", "CHECK", "DRIVE=N", "LOG=FILE", "BACKUP=DIR", "REBOOT", "FORCE", "REINSTALL",
          "IGNOREPOWER", "VERIFY", "RESTORE=FILE", "?, /HELP"})
        EXPECT_NE(usage.find(std::string("\r\n/") + name + "\t"), std::string::npos) << name;
    std::string codes;
    for (int outcome = 0; outcome <= static_cast<int>(RunOutcome::BadRestoreFile); ++outcome) {
        const int code = WindowsExitCode(static_cast<RunOutcome>(outcome));
        codes += FormatText("%d/%d ", code, LinuxExitCode(static_cast<RunOutcome>(outcome)));
        EXPECT_TRUE(static_cast<RunOutcome>(outcome) == RunOutcome::Declined ||
                    usage.find(FormatText("\r\n%d\t", code)) != std::string::npos)
            << code;
    }
    EXPECT_EQ(codes,
              "0/0 0/0 3010/0 1641/0 1603/1 2/3 13/4 87/2 1618/5 0/0 1603/5 1602/1 0/0 1/1 "
              "1237/75 0/0 1/1 13/4 ");
    EXPECT_EQ(AsciiLogText("a\tb\r\nc\x01\x7F\xE9 ~"), "a b  c??? ~");
    EXPECT_EQ(EscapedText("a\tb\x1B[31m\x7F\xE9 ~\\"), "a\\x09b\\x1b[31m\\x7f\\xe9 ~\\");
    DeviceRecord drive = Inquired("V", "P", "R");
    drive.AdapterId = 1;
    std::string texts = WindowsDriveAddress(drive) + "|";
    drive.DriveLetter = 'E';
    texts += WindowsDriveAddress(drive) + "|";
    for (const char* folder : {"C:\\t\\", "C:\\t", "C:", "", "t/", "db", "\\\\pc\\c:"})
        texts += PathInFolder(folder, "a") + "|";
    EXPECT_EQ(texts, "1:0|E:|C:\\t\\a|C:\\t\\a|C:a|a|t/a|db\\a|\\\\pc\\c:\\a|");
}

// Everything around a run (the seams it derives from): drives behind letters
// E, F, ... (model '4' passes the guard, 'u' too and carries the firmware
// already, 'o' is the same model with revision 4.9V, any other character is
// another model); a console's view goes to the log ("observer: ..."), the
// file a save writes (f.bin) and its record to the files.
struct World : ProgramStartPlatform,
               DriveBackend,
               LogClock,
               BackupFolder,
               RestartPlatform,
               PowerProbe,
               SourceFiles,
               RunObserver,
               SaveTarget,
               SignalHold {
    struct Sink : LogSink {
        std::vector<std::string>& lines;
        explicit Sink(std::vector<std::string>& l) : lines(l) {}
        void WriteLine(const std::string& line) override { lines.push_back(line); }
    };
    static SimDriveIdentity Model(char model) {
        return {5, std::strchr("4uo", model) ? "DVD-ROM" : "SIMDRIVE", "16X",
                model == 'u'   ? "5.1V"
                : model == 'o' ? "4.9V"
                               : "5.0V"};
    }
    explicit World(const std::string& models = "4", Rig::Kind kind = Rig::PassThrough)
        : rig(kind, Model(models[0])) {
        for (size_t n = 1; n < models.size(); ++n) rig.Add(Model(models[n]));
    }

    Rig rig;
    std::vector<uint8_t> block = PayloadBlock('4', "5.1V");
    std::vector<std::string> lines;                     // the run's log
    std::map<std::string, std::vector<uint8_t>> files;  // the backup folder, the saved file
    std::string arranged;       // what Arrange was asked for: the faults of the seams
    std::string events, marks;  // the answers to the mutex, in turn: Taken, Held, Not accepted
    std::map<std::string, std::vector<std::string>> logs;  // by path
    std::map<std::string, char> planted{{"C:\\hl.log", 'l'}};
    bool nineX = false;
    std::map<std::string, std::string> sources;  // what a restore may read, by path

    LogTime Now() override { return {2024, 5, 1, 3, 4, 7}; }
    std::string Description() override { return "Windows NT family, SCSI pass-through"; }
    std::unique_ptr<DeviceAccess> Create() override {
        events += "backend;";
        if (arranged == "no back-end") return nullptr;
        std::unique_ptr<DeviceAccess> access = rig.NewAccess();
        if (arranged == "dead back-end") access->Initialized = 0;
        return access;
    }
    std::string FailureText() override { return "Initialized Failed (Windows NT/2000)!!"; }
    bool Exists() override { return arranged != "no folder"; }
    std::string PathOf(const std::string& name) override { return "C:\\backup\\" + name; }
    // A temporary of the folder; its flush and its naming go to the log.
    struct Staged : StagedFile {
        World& w;
        std::string temporary, at;  // at: its name now
        Staged(World& world, const std::string& n) : w(world), temporary(n), at(n) {}
        bool Write(const uint8_t* data, uint32_t length) override {
            w.files[at].assign(data, data + length / (w.arranged == "short write" ? 2 : 1));
            return w.arranged != "short write";
        }
        bool Flush() override {
            w.lines.push_back("folder: flushed " + at);
            return w.arranged != "no flush";
        }
        Named Name(const std::string& to) override {
            if (w.files.count(to)) return Named::NameTaken;
            return Move(to), Named::Yes;
        }
        bool Unname() override { return Move(temporary), true; }
        void Move(const std::string& to) {
            w.files[to] = w.files[at];
            w.files.erase(at);
            w.lines.push_back("folder: named " + (at = to));
        }
    };
    // "taken late": a backup's first name is taken only after the run looked.
    bool Taken(const std::string& name) override {
        return files.count(name) && arranged != "taken late";
    }
    std::vector<std::string> Leftovers() override {
        std::vector<std::string> names;
        for (const auto& file : files)
            if (IsBackupTemporary(file.first)) names.push_back(file.first);
        return names;
    }
    std::unique_ptr<StagedFile> Stage(std::string& temporary) override {
        for (int n = 1; files.count(temporary = BackupTemporaryName(n)); ++n) {
        }
        files[temporary];
        return std::make_unique<Staged>(*this, temporary);
    }
    int OpenProcessToken() override { return 1; }
    void LookupShutdownPrivilege() override {}
    unsigned long EnableShutdownPrivilege() override { return 0; }
    int RequestRestart(unsigned) override { return arranged != "no restart"; }
    void ShowMessage(const char* text, const char*) override { events += text, events += ";"; }
    void QuietSystemErrors() override { events += "quiet;"; }
    std::string TempFolder() override { return "C:\\TEMP\\"; }
    bool FilesMayBeLinks() override { return !nineX; }
    // planted: what stands at a path: 'l' a file of 2 hard links, 'r' a
    // reparse point, 'u' a file that does not open, 'x' a file.
    LogOpening OpenLog(const std::string& path, bool existing) override {
        LogOpening opening;
        const char there = planted.count(path) ? planted[path] : 0;
        opening.outcome = there == 'l'   ? LogOpening::Outcome::HardLinks
                          : there == 'r' ? LogOpening::Outcome::ReparsePoint
                          : there == 'u' || (there == 'x' && !existing)
                              ? LogOpening::Outcome::Failed
                              : LogOpening::Outcome::Opened;
        opening.count = there == 'l' ? 2 : there == 'u' ? 5 : 80;
        if (opening.outcome == LogOpening::Outcome::Opened)
            opening.sink.reset(new Sink(logs[path]));
        return opening;
    }
    Mark CreateMark(const char* name) override {
        events += name + std::string(";");
        const char answer = marks[0];
        marks.erase(0, 1);
        return answer == 'T'   ? Mark::Taken
               : answer == 'H' ? Mark::HeldByAnother
                               : Mark::NotAccepted;
    }
    int RunDialog() override { return events += "dialog;", 0; }
    RunSeams Seams(const UnattendedPlan&, LogSink& log) override {
        RunSeams seams{*this,           log,    *this,         this, this, 2,   5, nullptr,
                       WindowsExitCode, "1.58", &rig.feedback, this, this, this};
        seams.files = this;
        seams.signals = this;
        return seams;
    }
    void Hold() override { lines.push_back("signals held"); }
    int polls = 0;
    std::string Arrived() override {
        return arranged == "signal" && ++polls == 12 ? "SIGTERM arrived" : "";
    }
    Result Read(const std::string& path, size_t limit, std::string& data,
                std::string& why) override {
        if (!sources.count(path)) return why = "missing", Result::Missing;
        if (sources[path] == "unreadable") return why = "unreadable", Result::Failed;
        data = sources[path].substr(0, limit + 1);
        return Result::Read;
    }
    PowerVerdict Read() override { return JudgeWindowsPower(true, arranged != "battery", 1); }
    void DrivesFound(const std::vector<FoundDrive>& drives) override {
        std::string line = "observer: to write [";
        for (const FoundDrive& d : drives) line += d.willWrite ? FormatText("%d", d.position) : "";
        lines.push_back(line + "]");
    }
    void Notice(const std::string& text) override { lines.push_back("observer: " + text); }
    void BackupWritten(const FoundDrive& d, const std::string& path) override {
        lines.push_back(FormatText("observer: drive %d backed up to ", d.position) + path);
    }
    std::string opened;  // the file a save writes
    bool Exists(const std::string& path) override { return files.count(path) > 0; }
    bool Open(const std::string& path) override { return files[opened = path], true; }
    bool Length(uint64_t& length) override { return length = files[opened].size(), true; }
    bool Truncate() override { return files[opened].clear(), true; }
    bool Write(const uint8_t* data, uint32_t length) override {
        return files[opened].assign(data, data + length), arranged != "save fails";
    }
    void Close() override {}
    bool WriteBeside(const std::string& path, const std::string& text) override {
        return files[path].assign(text.begin(), text.end()), true;
    }
    void RemoveBeside(const std::string& path) override { files.erase(path); }

    // The run's exit code. "/SAVE=PATH" and "/OVERWRITE" at the end stand for
    // the console's Save of the drive /DRIVE chooses.
    int Run(const std::string& commandLine) {
        const size_t save = commandLine.find(" /SAVE=");
        SwitchParse parse = ParseSwitches(SplitCommandLine(commandLine.substr(0, save)));
        EXPECT_FALSE(parse.refused) << parse.reason;
        if (save != std::string::npos) {
            parse.plan.action = PlanAction::Save;
            parse.plan.savePath =
                commandLine.substr(save + 7, commandLine.find(' ', save + 1) - save - 7);
            parse.plan.overwrite = commandLine.find(" /OVERWRITE") != std::string::npos;
        }
        Sink sink(lines);
        RunSeams seams = Seams(parse.plan, sink);
        return WindowsExitCode(RunUnattended(parse.plan, FirmwarePayload(block.data()), seams));
    }
    size_t LineOf(const std::string& text, size_t from = 0) const {
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos) return i;
        return lines.size();
    }
    // The log holds these texts in this order ("!": a text no line holds,
    // "^": the first line's), the exit code on its last line.
    void ExpectLogged(const std::string& texts, int code) const {
        size_t at = 0;
        std::istringstream logged(texts);
        for (std::string text; std::getline(logged, text, '|');) {
            if (text[0] == '!') {
                EXPECT_EQ(LineOf(text.substr(1)), lines.size()) << text;
            } else if (text[0] == '^') {
                EXPECT_EQ(LineOf(text.substr(1)), 0u) << text;
            } else {
                at = LineOf(text, at);
                EXPECT_LT(at, lines.size()) << text;
            }
        }
        EXPECT_EQ(LineOf(FormatText(", exit code %d", code)), lines.size() - 1);
    }
    void Arrange(const std::string& what) {
        const SimFault::Kind faults[] = {SimFault::FailWrite, SimFault::FailReadBack,
                                         SimFault::CorruptReadBack, SimFault::FailFlashRead};
        const size_t fault = std::string("wrcf").find(what[0]);
        if (fault < 4)
            rig.drive->AddFault(
                {faults[fault], static_cast<uint32_t>(std::stoul(what.substr(1), 0, 16)), 5});
        // Backups of earlier runs, without records, or a record alone.
        for (int n = 1; n <= (what == "all taken" ? 100 : what.find("taken") != std::string::npos);
             ++n)
            files[n == 1 ? "DVD-ROM_16X_5.0V.bin" : FormatText("DVD-ROM_16X_5.0V-%d.bin", n)] = {1};
        arranged = what;
        if (what == "leftover") files["unfinished-backup-1.tmp"].assign(9, 0);
        if (what.find("backup") == 0) ArrangeBackup(what);
        if (what == "holds the image" || what == "differs in 2 chunks") {
            rig.drive->Flash().assign(block.begin() + PayloadImageOffset, block.end());
            if (what[0] == 'd') rig.drive->Flash()[0x8010] ^= 1, rig.drive->Flash()[0x14000] ^= 1;
        }
        if (what.find("unfilled") != std::string::npos)
            std::copy_n("INSERT_FIRMWARE", 15, block.begin());
        if (what == "damaged") block[PayloadImageOffset + 77] ^= 0x40;
        if (what == "version 1.58") block = PayloadBlock('4', "1.58");
        if (what.find("old ") == 0) files[what == "old file" ? "f.bin" : "f.txt"] = {1};
    }
    // A backup C:\b\fw.bin (all 'Z') of a DVD-ROM 16X 4.9V with its record,
    // and what else the words ask for.
    void ArrangeBackup(const std::string& what) {
        DeviceRecord drive = Inquired("DVD-ROM ", "16X             ", "4.9V");
        drive.ChipCode = 0x3120;
        std::string& image = sources["C:\\b\\fw.bin"] = std::string(ImageSize, 'Z');
        std::string& record = sources["C:\\b\\fw.txt"] =
            FormatBackupRecord(RecordOfBackup(drive, reinterpret_cast<const uint8_t*>(image.data()),
                                              ImageSize, Now(), "x"),
                               "\r\n");
        if (what == "backup damaged") image[0x4321] ^= 1;
        if (what == "backup short") image.pop_back();
        if (what == "backup without record") sources.erase("C:\\b\\fw.txt");
        if (what == "backup, bad record") record += "x=1";
        if (what == "backup, unreadable record") record = "unreadable";
        if (what == "backup of 8X") record.replace(record.find("16X"), 3, "8X ");
    }
};

// Each run: its drives, switches and what else to arrange; its exit code,
// which drives then hold the image, and texts its log holds in this order
// ("!": a text no line holds).
TEST(Unattended, Runs) {
    const struct {
        const char *models, *line, *arrange;
        int code;
        const char *written, *logged;
    } cases[] = {
        {"4", "x /S /LOG=C:\\fw.log", "", 3010, "1",
         "2024-05-01 03:04:07 Flash Upgrade Program 1.58, switches: /S /LOG=C:\\fw.log|Payload: "
         "firmware 5.1V for model 4, checksum 00D4|Platform: Windows NT family, SCSI pass-through|"
         "Drives found: 1|revision \"5.0V\", version 1.0, flash 0x20000 bytes|Drive 0: model guard "
         "passes: \"DVD-ROM 16X             \" with firmware version \"5.0V\" matches \"5.*V\"|"
         "Drive 0: not up to date: the drive's firmware \"5.0V\", this firmware \"5.1V\"|observer: "
         "to write [0]|power status: not on battery (AC line status 1, battery flag 1)|Drive 0: "
         "status: Upgrade Firmware...|Drive 0: upgraded|Result: upgraded, restart needed, exit "
         "code 3010"},
        // A repeated run: the drive carries the firmware; nothing backed up,
        // written or restarted.
        {"u", "x /S /BACKUP=C:\\b /REBOOT", "", 0, "0",
         "observer: Drive 0: up to date: the drive's firmware \"5.1V\" is this firmware \"5.1V\"; "
         "not written|observer: to write []|!backup|!status:|!Restart:|!power status|Every drive "
         "this "
         "firmware is for carries it already|Result: up to "
         "date, nothing written, exit code 0"},
        {"u", "x /S /REINSTALL /IGNOREPOWER /BACKUP=C:\\b", "battery", 3010, "1",
         "observer: to write [0]|power status: not asked|observer: drive 0 backed up to "
         "C:\\backup\\DVD-ROM_16X_5.1V.bin|Drive 0: upgraded"},
        {"4", "x /S", "version 1.58", 3010, "1",
         "observer: Drive 0: up to date cannot be judged: the firmware's version \"1.58\" is no "
         "revision of this model (\"5.*V\"); written as before|Drive 0: upgraded"},
        // The check: what /S would do, nothing written, whatever the power.
        {"4u", "x /CHECK", "battery", 1, "00",
         "Drive 0: not up to date|Drive 1: up to date: the drive's firmware \"5.1V\" is this "
         "firmware \"5.1V\"; would not be written|observer: to write [0]|!power status|!status:|"
         "Result: a drive would be written, exit code 1"},
        {"u", "x /CHECK /REINSTALL", "", 1, "0", "5.1V\"; would be written again"},
        // The backup and its record are flushed under temporary names, then
        // take the first name not taken, the record first, before the
        // upgrade. A temporary found is said.
        {"4", "x /S /BACKUP=C:\\b", "taken", 3010, "1",
         "flushed unfinished-backup-1.tmp|flushed unfinished-backup-2.tmp|!named "
         "DVD-ROM_16X_5.0V.txt|named DVD-ROM_16X_5.0V-2.txt|named DVD-ROM_16X_5.0V-2.bin|backup "
         "written: C:\\backup\\DVD-ROM_16X_5.0V-2.bin (131072 bytes)|record written: "
         "C:\\backup\\DVD-ROM_16X_5.0V-2.txt|status: Upgrade Firmware..."},
        {"4", "x /S /BACKUP=C:\\b", "taken late", 3010, "1",
         "named DVD-ROM_16X_5.0V.txt|named unfinished-backup-2.tmp|named DVD-ROM_16X_5.0V-2.txt|"
         "named DVD-ROM_16X_5.0V-2.bin"},
        {"4", "x /S /BACKUP=C:\\b", "leftover", 3010, "1",
         "observer: Backup folder: C:\\backup\\unfinished-backup-1.tmp is not a backup|Platform:|"
         "flushed unfinished-backup-2.tmp|named DVD-ROM_16X_5.0V.bin"},
        {"4", "x /S /BACKUP=C:\\b", "signal", 3010, "1",
         "signals held|folder: flushed|status: Upgrade Firmware...|observer: Drive 0: SIGTERM "
         "arrived|status: Upgrade Firmware Successful!!"},
        {"4", "x /S /BACKUP=C:\\b", "all taken", 1603, "0",
         "backup: cannot create C:\\backup\\DVD-ROM_16X_5.0V-100.bin|not written: no backup"},
        {"4", "x /S /BACKUP=C:\\b", "short write", 1603, "0",
         "backup: cannot write C:\\backup\\unfinished-backup-1.tmp, removed|not written: no backup|"
         "!status: Upgrade|Result: failed"},
        {"4", "x /S /BACKUP=C:\\b", "no flush", 1603, "0",
         "flushed unfinished-backup-1.tmp|backup: cannot write "
         "C:\\backup\\unfinished-backup-1.tmp, removed|!named"},
        {"4", "x /S /BACKUP=C:\\b", "f8000", 1603, "0",
         "backup: the flash could not be read|not written: no backup|!status: Upgrade"},
        {"4", "x /S /BACKUP=C:\\none", "no folder", 87, "0",
         "Backup folder not found: C:\\none|!Platform:"},
        {"x", "x /S /REBOOT", "", 2, "0",
         "Drive 0: model guard refuses: the drive is \"SIMDRIVE16X|No drive that this firmware is "
         "for|!Restart:|Result: no drive that this firmware is for, exit code 2"},
        {"x", "x /S /FORCE", "", 3010, "1", "Drive 0: model guard skipped (forced): the drive is"},
        {"4", "x /S", "w14000", 1603, "0",
         "attempt at flash offset 0x14000 failed: write|Drive 0: not upgraded"},
        {"4", "x /S /REBOOT", "no restart", 1603, "1",
         "requested with flags 0x12|Restart: Reboot : ExitWindowsEx Fail!!"},
        {"4", "x /S", "damaged", 13, "0",
         "Payload: checksum does not match (0094 / 00D4)|!Platform:"},
        // Listing needs no payload.
        {"4x", "x /LIST", "unfilled", 0, "00",
         "Payload: unfilled|matches \"5.*V\"; up to date cannot be judged|Drive 1: model guard "
         "refuses|!status:|Result: listed"},
        {"44", "x /S", "w14000", 1603, "01", "Drive 0: not upgraded|Drive 1: upgraded|failed"},
        {"44", "x /S /DRIVE=F:", "", 3010, "01", "Drive 1: upgraded"},
        {"44", "x /S /DRIVE=0", "", 3010, "10", "Drive 0: upgraded"},
        {"44", "x /S /DRIVE=0:0", "", 2, "00", "The chosen drive was not found"},
        // On Windows 95/98 a drive is chosen by adapter and target: the one
        // drive sits at target 1 of adapter 0.
        {"4", "x /S /DRIVE=0:1", "aspi", 3010, "1", "Drive 0: upgraded"},
        {"4", "x /S /DRIVE=1:1", "aspi", 2, "0", "The chosen drive was not found"},
        {"4", "x /S /DRIVE=0:2", "aspi", 2, "0", "The chosen drive was not found"},
        // A backup put back: its record says which drives it is for and when
        // one carries it; a file that is not whole and as recorded reaches no
        // drive, forced or not; without a record only a forced run writes.
        {"4", "x /S /RESTORE=C:\\b\\fw.bin /BACKUP=C:\\b", "backup", 3010, "1",
         "Restore: C:\\b\\fw.bin, 131072 bytes, SHA-256 |as its record says: vendor \"DVD-ROM \", "
         "product \"16X             \", revision \"4.9V\", chip code 0x3120, version 0.0, read on "
         "2024-05-01 03:04:07 by x|!Payload:|Drive 0: model guard passes: \"DVD-ROM 16X            "
         " \" with chip code 0x3120, as the backup's drive|Drive 0: not up to date: the drive's "
         "firmware \"5.0V\", the backup's \"4.9V\"|Drive 0: backup written|Drive 0: upgraded|"
         "Result: upgraded, restart needed"},
        {"o", "x /S /RESTORE=C:\\b\\fw.bin", "backup", 0, "0",
         "observer: Drive 0: up to date: the drive's firmware \"4.9V\" is the backup's \"4.9V\"; "
         "not written"},
        {"o", "x /S /RESTORE=C:\\b\\fw.bin /REINSTALL", "backup, unfilled", 3010, "1",
         "4.9V\"; written again"},
        {"x4", "x /S /RESTORE=C:\\b\\fw.bin", "backup", 3010, "01",
         "Drive 0: model guard refuses: the drive is \"SIMDRIVE16X             \" with chip code "
         "0x3120, the backup is of \"DVD-ROM 16X             \" with chip code 0x3120|Drive 1: "
         "upgraded"},
        {"4", "x /S /RESTORE=C:\\b\\fw.bin", "backup of 8X", 2, "0",
         "the backup is of \"DVD-ROM 8X              \" with chip code 0x3120"},
        {"4", "x /S /RESTORE=C:\\b\\fw.bin /FORCE", "backup damaged", 13, "0",
         "observer: Restore: C:\\b\\fw.bin is damaged: its SHA-256 is |, its record's |!Platform:|"
         "Result: backup file refused, nothing sent, exit code 13"},
        {"4", "x /S /RESTORE=C:\\b\\fw.bin", "backup short", 13, "0",
         "Restore: C:\\b\\fw.bin holds 131071 bytes, a drive's flash 131072 (0x20000)"},
        {"4", "x /S /RESTORE=C:\\b\\fw.bin /FORCE", "backup without record", 3010, "1",
         "; no record: the backup's origin cannot be checked (forced)|model guard skipped "
         "(forced): no record|up to date cannot be judged: no record|Drive 0: upgraded"},
        {"4", "x /S /RESTORE=C:\\b\\fw.bin /FORCE", "backup, bad record", 13, "0",
         "Restore: the record C:\\b\\fw.txt is malformed: line 11: unknown key \"x\""},
        {"4", "x /S /RESTORE=C:\\b\\fw.bin /FORCE", "backup, unreadable record", 13, "0",
         "Restore: cannot read the record C:\\b\\fw.txt: unreadable"},
        // Verify: each drive's flash read and held against the image.
        {"4x", "x /VERIFY", "holds the image", 0, "00",
         "Drive 1: model guard refuses|Drive 0: the flash equals the image|Result: every drive "
         "holds exactly the image, exit code 0"},
        {"4x", "x /VERIFY /FORCE", "differs in 2 chunks", 1, "00",
         "observer: Drive 0: the flash differs from the image: first at offset 0x08010, in 2 of 8 "
         "chunks of 16 KB|Drive 1: the flash differs|!status:|Result: a drive's flash differs from "
         "the image, exit code 1"},
        {"4", "x /VERIFY", "f8000", 1603, "0",
         "attempt at flash offset 0x08000 failed: flash read|Drive 0: the flash could not be read|"
         "Result: failed"},
        {"x", "x /VERIFY", "", 2, "0", "model guard refuses|No drive that this firmware is for"},
        {"4", "x /VERIFY", "unfilled", 13, "0", "Payload: unfilled|!Platform:"},
        // The console's Save: the chosen drive's flash, whatever its model,
        // its record beside it, removed when the file then fails (what they
        // hold: the drive_answers fuzz target; a file there: the console's).
        {"x", "x /LIST /DRIVE=0 /SAVE=f.bin", "", 0, "0", "model guard not needed to read"},
        {"x", "x /LIST /DRIVE=0 /SAVE=f.bin /OVERWRITE", "old file", 0, "0",
         "Drive 0: answered yes: "},
        {"x", "x /LIST /DRIVE=0 /SAVE=f.bin", "old file", 1603, "0", "Save: File f.bin Exist"},
        {"x", "x /LIST /DRIVE=0 /SAVE=f.bin", "old record", 1603, "0",
         "Save: File f.txt Exist, User cancel ..."},
        {"x", "x /LIST /DRIVE=0 /SAVE=f.bin", "save fails", 1603, "0", "Cant write the file"},
        {"x", "x /LIST /DRIVE=0 /SAVE=f.txt /OVERWRITE", "", 87, "0",
         "Save: f.txt would be its own record: give it another extension"},
        {"4", "x /S", "dead back-end", 1603, "0", "Back-end failed:|!Drives found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " | " + c.arrange);
        World world(c.models, std::string(c.arrange) == "aspi" ? Rig::Aspi : Rig::PassThrough);
        world.Arrange(c.arrange);
        // What a written drive holds: the payload's image, or the backup put back.
        std::vector<uint8_t> image(world.block.begin() + PayloadImageOffset, world.block.end());
        const std::string backup = world.sources["C:\\b\\fw.bin"];
        if (std::strstr(c.line, "/S /RESTORE=")) image.assign(backup.begin(), backup.end());
        EXPECT_EQ(world.Run(c.line), c.code);
        for (size_t n = 0; c.models[n]; ++n) {
            const SimulatedDrive& drive =
                n ? *world.rig.carrier.Drive(static_cast<char>('E' + n)) : *world.rig.drive;
            EXPECT_EQ(drive.Committed(), c.written[n] == '1') << n;
            EXPECT_TRUE(!drive.Committed() || drive.Flash() == image) << n;
        }
        world.ExpectLogged(c.logged, c.code);
        const bool saved = std::strstr(c.line, "/SAVE=") && c.code == 0;
        EXPECT_EQ(world.files.count("f.txt") == 1, saved || c.arrange == std::string("old record"));
    }
}

const std::string Global = "Global\\FlashUpgradeProgram;", Plain = "FlashUpgradeProgram;";

// Which path the command line takes, the mark of the running copy, where its
// log goes and what it holds (as Runs). planted: what stands at the default
// log's candidates in TEMP, from the first (as OpenLog reads it). A refused
// default log (a link another user may have planted in a shared TEMP) gives
// way to a new file beside it, whose first line says why; Windows 95/98 go
// on without a log as before. A refused /LOG (C:\hl.log: 2 hard links): 87.
TEST(Unattended, ProgramStart) {
    const std::string T = "C:\\TEMP\\FlashUpgrade", Log = T + ".log";
    const std::string listed = "quiet;" + Global + "backend;";
    const struct {
        const char *line, *marks;
        std::string planted;
        bool nineX;
        int code;
        std::string events, logPath, logged;
    } cases[] = {
        // The global name refused, the plain one held: the window's second copy.
        {"x", "NH", "", false, 1618,
         Global + Plain + "Another copy of the Flash Upgrade Program is already running.;", "", ""},
        {"x", "T", "", false, 0, Global + "dialog;", "", ""},
        {"x /S /HELP", "", "", false, 0, UsageText + std::string(";"), "", ""},
        {"x /S /LOG=C:\\hl.log", "", "", false, 87, "quiet;", Log,
         "Flash Upgrade Program|Cannot open the log C:\\hl.log: it has 2 hard links"},
        {"x /S", "NN", "", false, 13, "quiet;" + Global + Plain, Log,
         "Payload: unfilled (Need Combine firmware first !!)"},
        {"x /LIST /LOG=C:\\fw.log", "NT", "", false, 1603, "quiet;" + Global + Plain + "backend;",
         "C:\\fw.log", "Back-end failed: Initialized Failed"},
        {"x /LIST", "T", "rx", false, 1603, listed, T + "-3.log",
         "^not written: it is a reparse point (a link to another file); this run logs to " + T +
             "-3.log"},
        {"x /LIST", "T", "u", false, 1603, listed, T + "-2.log",
         "^not written: it cannot be opened (error 5)"},
        {"x /LIST", "T", "u", true, 1603, listed, "", ""},
        {"x /LIST", "T", "l" + std::string(99, 'x'), false, 1603, listed, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line + (" " + c.planted));
        World start;
        start.arranged = "no back-end";
        start.marks = c.marks;
        start.nineX = c.nineX;
        for (size_t n = 0; n < c.planted.size(); ++n)
            start.planted["C:\\TEMP\\" + DefaultLogFileName(static_cast<int>(n) + 1)] =
                c.planted[n];
        EXPECT_EQ(StartProgram(c.line, FirmwarePayload::Program(), start), c.code);
        EXPECT_EQ(start.events, c.events);
        ASSERT_EQ(start.logs.size(), c.logPath.empty() ? 0u : 1u);
        if (c.logPath.empty()) continue;
        start.lines = start.logs[c.logPath];
        start.ExpectLogged(c.logged, c.code);
    }
}

}  // namespace
