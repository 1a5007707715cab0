// The drive's answers: every answer (inquiry bytes, identification block,
// read-back and flash data, statuses, sense bytes, short transfers) comes
// from the input, through carriers that stand where the platform stands for
// each back-end. Over them runs the real program: its request blocks, the
// enumeration and a whole unattended run with its log and Linux console.
// What is checked, and the input's layout: docs/fuzz.md.
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "FuzzInput.h"
#include "console/ConsoleJson.h"
#include "console/ConsoleReport.h"
#include "console/LinuxSeams.h"
#include "device/ByteOrder.h"
#include "device/aspi/AspiDeviceAccess.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "payload/DriveModels.h"

namespace {

// How a command ends; a short transfer arrives with a good status.
enum class End { Good, Corrupt, Fail, Short };

// Bytes a command asks the drive for, or brings it, by its CDB.
uint32_t Asked(const uint8_t* c) {
    if (c[0] == OpInquiry) return c[4];
    return c[0] == OpReadBuffer || c[0] == OpWriteBuffer ? c[6] << 16 | c[7] << 8 | c[8] : 0;
}

std::vector<uint8_t> block = [] {
    std::vector<uint8_t> b(PayloadBlockSize);
    for (uint32_t i = 0; i < ImageSize; ++i) b[PayloadImageOffset + i] = uint8_t(i * 7 + i / 2048);
    b[PayloadImageOffset] = 0xA5;
    std::snprintf(reinterpret_cast<char*>(&b[PayloadChecksumOffset]), 5, "%04X",
                  ImageChecksum(&b[PayloadImageOffset], ImageSize));
    return b;
}();
const uint8_t* const image = block.data() + PayloadImageOffset;

struct Drive {
    std::string inquiry;  // what the program holds of the drive's last inquiry answer
    uint8_t address = 0;  // the SCSI address its node last gave
    std::vector<uint8_t> download;
    std::map<uint32_t, bool> verified;      // by chunk: last read back as the image
    std::map<uint32_t, std::string> flash;  // by chunk: what the last good read returned
    bool backedUp = false;
};

struct Answers {
    FuzzInput& in;
    UnattendedPlan plan;
    bool battery = false;
    std::map<int, Drive> drives;
    int lastRead = -1, open = 0;
    std::string sense;  // of the last command that failed

    explicit Answers(FuzzInput& input) : in(input) {}
    bool Known(int address) { return drives.count(address) != 0; }

    bool MayWrite(const Drive& d) {
        const DriveModel* model = DriveModelFor(uint8_t(block[PayloadModelOffset] - '0'));
        bool passes = model && d.inquiry.size() >= 36 && std::strlen(model->versionPattern) == 4 &&
                      d.inquiry.compare(8, 24, model->vendorProduct) == 0;
        for (int i = 0; passes && i < 4; ++i)
            passes =
                model->versionPattern[i] == '*' || model->versionPattern[i] == d.inquiry[32 + i];
        return plan.action == PlanAction::Upgrade && (!battery || plan.ignorePower) &&
               (plan.force || passes) && (!plan.hasBackup || d.backedUp);
    }

    // length bytes of the flash of the drive read last, as its reads returned them.
    void CheckFlash(const uint8_t* data, uint32_t length) {
        Drive& d = drives[lastRead];
        for (uint32_t at = 0; at < length;) {
            const auto chunk = d.flash.find(at);
            FUZZ_CHECK(chunk != d.flash.end() && at + chunk->second.size() <= length);
            FUZZ_CHECK(chunk->second.compare(0, std::string::npos, (const char*)data + at,
                                             chunk->second.size()) == 0);
            at += static_cast<uint32_t>(chunk->second.size());
        }
    }

    // One command to the drive at address. A command that reads fills all
    // asked bytes at data unless it ends short or failed; how picks the
    // carrier's words for it.
    End Answer(int address, const uint8_t* cdb, uint8_t* data, uint32_t& arrived, uint8_t& how) {
        static const End ends[8] = {End::Good,    End::Good,  End::Good, End::Fail,
                                    End::Corrupt, End::Short, End::Fail, End::Good};
        const uint8_t choice = in.Byte();
        End end = ends[choice & 7];
        how = choice >> 3;
        Drive& d = drives[address];
        d.download.resize(ImageSize);
        const uint32_t asked = Asked(cdb),
                       at = (cdb[2] << 16) + (cdb[3] << 16 | cdb[4] << 8 | cdb[5]);
        const bool read = cdb[0] == OpReadBuffer, write = cdb[0] == OpWriteBuffer;
        const bool flash = read && cdb[1] == ReadBufferVendorMode && cdb[9] == 1;
        const bool readBack = read && cdb[1] == ReadBufferDataMode;
        // Past the largest flash of these chips every read fails: a longer
        // read-out would only make a run slower.
        if (flash && at >= 4 * ImageSize) end = End::Fail;
        const bool good = end == End::Good || end == End::Corrupt;
        arrived = good ? asked : asked * how / 32;
        if (end == End::Fail) sense = in.Bytes(32);
        std::string answer(asked, '\0');
        if (cdb[0] == OpInquiry || (read && cdb[1] == ReadBufferVendorMode && !flash)) {
            answer = in.Bytes(asked);
            answer.resize(asked);
            if (cdb[0] == OpInquiry) {
                d.inquiry = end == End::Fail ? "" : answer.substr(0, arrived);
                d.inquiry.resize(asked);
            }
        } else if (flash) {
            FUZZ_CHECK(plan.action == PlanAction::Save ||
                       (plan.hasBackup && plan.action == PlanAction::Upgrade));
            FUZZ_CHECK(d.flash.count(at) == 0);  // a good read is taken, not tried again
            for (uint32_t i = 0; i < asked; ++i) answer[i] = char((at + i) * 13 + address);
            lastRead = address;
        } else if (readBack) {
            FUZZ_CHECK(at + asked <= ImageSize);
            answer.assign(d.download.begin() + at, d.download.begin() + at + asked);
        } else if (write && cdb[1] == WriteBufferSaveMode) {
            FUZZ_CHECK(MayWrite(d) && at + asked <= ImageSize &&
                       std::memcmp(data, image + at, asked) == 0);
            FUZZ_CHECK(!d.verified[at]);  // a chunk read back as written is taken
            std::copy(data, data + arrived, d.download.begin() + at);
            if (end == End::Corrupt && asked) d.download[at + how % asked] ^= 0x5A;
            d.verified[at] = false;
        } else if (write && cdb[1] == WriteBufferCommitMode) {
            FUZZ_CHECK(MayWrite(d));
            for (uint32_t chunk = 0; chunk < ImageSize; chunk += ChunkSize)
                FUZZ_CHECK(d.verified[chunk]);
            d.verified.clear();
        } else {
            FUZZ_CHECK(cdb[0] == OpTestUnitReady);
        }
        if (!write && asked) {
            if (end == End::Corrupt) answer[how % asked] ^= 0x5A;
            std::memcpy(data, answer.data(), arrived);
        }
        if (readBack) d.verified[at] = good && std::memcmp(answer.data(), image + at, asked) == 0;
        if (flash) good ? void(d.flash[at] = answer) : void(d.flash.erase(at));
        return end;
    }
};
Answers* current = nullptr;

struct AspiCarrier : AspiLibrary {
    Answers& a;
    explicit AspiCarrier(Answers& answers) : a(answers) {}
    bool Load() override { return a.in.Byte() != 1; }
    void Unload() override {}
    uint32_t GetSupportInfo() override {
        const uint8_t b = a.in.Byte(1);
        return (b & 0x80 ? SS_NO_ADAPTERS : SS_COMP) << 8 | (b & 3);
    }
    uint32_t SendCommand(uint8_t* block, void* data) override {
        uint8_t& status = block[SrbStatusOffset];
        if (block[SrbCommandOffset] == SC_HA_INQUIRY) {
            const uint8_t b = a.in.Byte();
            block[HaMaxTargetsOffset] = b & 7;
            return status = b & 0x80 ? SS_INVALID_HA : SS_COMP;
        }
        const uint8_t* cdb = block + ExecCdbOffset;
        FUZZ_CHECK(block[SrbCommandOffset] == SC_EXEC_SCSI_CMD &&
                   ReadLe32(block + ExecDataLengthOffset) == Asked(cdb));
        FUZZ_CHECK(block[SrbFlagsOffset] == (cdb[0] == OpWriteBuffer ? SRB_DIR_OUT : SRB_DIR_IN));
        FUZZ_CHECK((Asked(cdb) == 0) == (data == nullptr) &&
                   ReadLe32(block + ExecDataPointerOffset) == uint32_t(uintptr_t(data)));
        uint32_t arrived;
        uint8_t how;
        const End end = a.Answer(block[SrbAdapterOffset] << 8 | block[ExecTargetOffset], cdb,
                                 static_cast<uint8_t*>(data), arrived, how);
        static const uint8_t failures[4] = {SS_ERR, SS_PENDING, SS_INVALID_SRB, SS_NO_DEVICE};
        status = end == End::Good || end == End::Corrupt ? SS_COMP : failures[how & 3];
        if (status == SS_ERR) {
            block[ExecTargetStatusOffset] = 2;
            std::memcpy(block + ExecSenseOffset, a.sense.data(),
                        std::min<size_t>(a.sense.size(), ExecSenseLength));
        }
        return status;
    }
};

struct PassThroughCarrier : PassThroughPlatform {
    Answers& a;
    uint32_t major;
    PassThroughCarrier(Answers& answers, uint32_t version) : a(answers), major(version) {}
    bool ScsiSubkeyCount(uint32_t& count) override { return (count = a.in.Byte()) != 1; }
    uint32_t MajorVersion() override { return major; }
    Handle OpenDevice(const char* path, uint32_t access, uint32_t) override {
        FUZZ_CHECK(std::strlen(path) == 6 && std::memcmp(path, "\\\\.\\", 4) == 0 &&
                   path[5] == ':');
        FUZZ_CHECK(((access & GenericWriteAccess) != 0) == (major >= 5));
        if (!(a.in.Byte(a.Known(path[4])) & 1)) return nullptr;
        return ++a.open, reinterpret_cast<Handle>(uintptr_t(path[4]));
    }
    bool DeviceControl(Handle h, uint32_t code, uint8_t* block, uint32_t, uint32_t outputSize,
                       uint8_t* direct) override {
        const uint8_t* cdb = block + CdbField;
        const uint32_t room = ReadLe32(block + DataTransferLengthField);
        FUZZ_CHECK(ReadLe16(block) == PassThroughHeaderSize &&
                   block[DataInField] ==
                       (cdb[0] == OpWriteBuffer ? ScsiIoctlDataOut : ScsiIoctlDataIn));
        uint8_t* data = direct;
        if (code == IoctlScsiPassThrough) {
            FUZZ_CHECK(room >= Asked(cdb) && room <= DataAreaSize &&
                       outputSize == DataAreaOffset + room &&
                       ReadLe32(block + DataLocationField) == DataAreaOffset);
            data = block + DataAreaOffset;
        } else {
            FUZZ_CHECK(code == IoctlScsiPassThroughDirect && room == Asked(cdb) &&
                       (room == 0) == (!direct) &&
                       ReadLe32(block + DataLocationField) == uint32_t(uintptr_t(direct)));
        }
        uint32_t arrived;
        uint8_t how;
        const End end = a.Answer(int(uintptr_t(h)), cdb, data, arrived, how);
        // The system reports what arrived; CHECK CONDITION brings sense.
        WriteLe32(block + DataTransferLengthField, arrived);
        block[ScsiStatusField] = end == End::Fail ? (how & 1 ? 8 : 2) : 0;
        uint8_t& sensed = block[SenseInfoLengthField];
        sensed =
            block[ScsiStatusField] == 2 ? uint8_t(std::min<size_t>(a.sense.size(), sensed)) : 0;
        std::memcpy(block + ReadLe32(block + SenseInfoOffsetField), a.sense.data(), sensed);
        return !(end == End::Fail && (how & 2));
    }
    void CloseDevice(Handle) override { --a.open; }
};

struct SgIoCarrier : SgIoPlatform {
    Answers& a;
    explicit SgIoCarrier(Answers& answers) : a(answers) {}
    int Open(const char* path, int) override {
        FUZZ_CHECK(std::strncmp(path, "/dev/sr", 7) == 0 || std::strncmp(path, "/dev/sg", 7) == 0);
        const int node = (path[6] == 'g') * 1000 + std::atoi(path + 7);
        const uint8_t b = a.in.Byte(a.Known(node));
        static const int errors[8] = {ENOENT, EACCES, EBUSY, ENXIO, EIO, ENODEV, EPERM, ENOMEDIUM};
        return b & 1 ? (++a.open, node) : -errors[b >> 1 & 7];
    }
    void Close(int) override { --a.open; }
    int ReadScsiAddress(int fd, ScsiAddress& address) override {
        const uint8_t b = a.drives[fd].address = a.in.Byte(a.drives[fd].address);
        address = {uint8_t(b & 1), 0, uint8_t(b >> 1 & 7), 0, b & 0x40 ? 0 : 5};
        return b & 0x80 ? EIO : 0;
    }
    int SendSgIo(int fd, sg_io_hdr& h) override {
        const uint8_t* cdb = h.cmdp;
        const uint32_t asked = Asked(cdb);
        FUZZ_CHECK(h.interface_id == 'S' && h.sbp && h.mx_sb_len > 0 && h.dxfer_len == asked &&
                   (asked == 0) == (h.dxferp == nullptr));
        FUZZ_CHECK(h.dxfer_direction == (!asked                    ? SG_DXFER_NONE
                                         : cdb[0] == OpWriteBuffer ? SG_DXFER_TO_DEV
                                                                   : SG_DXFER_FROM_DEV));
        uint32_t arrived;
        uint8_t how;
        const End end = a.Answer(fd, cdb, static_cast<uint8_t*>(h.dxferp), arrived, how);
        h.resid = int(asked - arrived);
        // A good end may bring sense that says nothing against it (recovered,
        // about this command); a failed one comes in one of many forms.
        uint8_t sense[18] = {0x70, 0, 1, 0, 0, 0, 0, 10};
        const uint8_t forms[9][4] = {{0, 0, 0}, {2, 0, 8},       {0, 3, 0},
                                     {0, 0, 6}, {0, 0, 8, 0x71}, {0, 0, 8, 3},
                                     {8, 0, 0}, {0x18, 0, 0},    {0, 0, 8}};
        if (end == End::Fail && how % 8 == 0) return how & 8 ? EPERM : EIO;
        const uint8_t* f = forms[end == End::Fail ? how % 8 : end == End::Good && how & 1 ? 8 : 0];
        h.status = f[0], h.host_status = f[1], h.driver_status = f[2];
        if (f[3] == 0x71) sense[0] = 0x71;
        if (f[3] == 3) sense[2] = uint8_t(3 + how % 12);
        const std::string given = h.status == 2 ? a.sense : std::string((char*)sense, 18);
        h.sb_len_wr =
            h.driver_status == 8 ? uint8_t(std::min<size_t>(given.size(), h.mx_sb_len)) : 0;
        std::memcpy(h.sbp, given.data(), h.sb_len_wr);
        return 0;
    }
    bool HoldsRawIoCapability() override { return a.in.Byte() != 1; }
};

struct WindowsBackend : DriveBackend {
    Answers& a;
    uint8_t kind;
    WindowsBackend(Answers& answers, uint8_t k) : a(answers), kind(k) {}
    std::string Description() override { return "carriers"; }
    std::string FailureText() override { return "no carrier"; }
    std::unique_ptr<DeviceAccess> Create() override {
        if (kind & 1)
            return std::make_unique<PassThroughDeviceAccess>(
                std::make_unique<PassThroughCarrier>(a, 4 + (kind >> 1 & 1)));
        return std::make_unique<AspiDeviceAccess>(std::make_unique<AspiCarrier>(a),
                                                  [t = 0u]() mutable { return t += 100000; });
    }
};

struct SaveFile : SaveTarget {
    Answers& a;
    explicit SaveFile(Answers& answers) : a(answers) {}
    bool Exists(const std::string&) override { return a.in.Bit(); }
    bool Open(const std::string&) override { return a.in.Byte() != 1; }
    bool Length(uint64_t& length) override { return length = a.in.Byte(), true; }
    bool Truncate() override { return true; }
    bool Write(const uint8_t* data, uint32_t length) override {
        return a.CheckFlash(data, length), a.in.Byte() != 1;
    }
    void Close() override {}
    bool WriteBeside(const std::string&, const std::string& text) override {
        FUZZ_CHECK(!text.empty());
        return a.in.Byte() != 1;
    }
    void RemoveBeside(const std::string&) override {}
};

struct Surroundings : LogClock, BackupFolder, PowerProbe, StayAwake {
    Answers& a;
    int held = 0;
    explicit Surroundings(Answers& answers) : a(answers) {}
    LogTime Now() override { return {2024, 5, 1, 13, 45, 7}; }
    bool Exists() override { return a.in.Byte() != 1; }
    std::string PathOf(const std::string& name) override { return "b/" + name; }
    std::vector<std::string> Leftovers() override {
        return a.in.Byte() == 1 ? std::vector<std::string>{"unfinished-backup-1.tmp"}
                                : std::vector<std::string>{};
    }
    bool Taken(const std::string& name) override {
        FUZZ_CHECK(ShownSafely(name, "") &&
                   name.find_first_of("\\/:*?\"<>| ") == std::string::npos);
        return a.in.Byte() == 1;
    }
    // A temporary that fails where the input says; a whole, flushed and
    // named one holds the backup of the drive last read.
    struct Staged : StagedFile {
        Surroundings& w;
        bool wrote = false, flushed = false;
        explicit Staged(Surroundings& s) : w(s) {}
        bool Write(const uint8_t* data, uint32_t length) override {
            w.a.CheckFlash(data, length);
            return wrote = w.a.in.Byte() != 1;
        }
        bool Flush() override { return flushed = wrote && w.a.in.Byte() != 1; }
        Named Name(const std::string& name) override {
            FUZZ_CHECK(flushed && ShownSafely(name, ""));
            const uint8_t b = w.a.in.Byte();
            if (b == 1) return Named::NameTaken;
            if (b == 2) return Named::Failed;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
                w.a.drives[w.a.lastRead].backedUp = true;
            return Named::Yes;
        }
        bool Unname() override { return w.a.in.Byte() != 1; }
    };
    std::unique_ptr<StagedFile> Stage(std::string& temporary) override {
        temporary = "unfinished-backup-1.tmp";
        if (a.in.Byte() == 1) return nullptr;
        return std::make_unique<Staged>(*this);
    }
    PowerVerdict Read() override { return {a.battery = a.in.Byte() == 1, "power status: carried"}; }
    std::string Hold(const DeviceRecord&) override { return FUZZ_CHECK(held++ == 0), "awake"; }
    void Release() override { FUZZ_CHECK(--held == 0); }
};

// The log's lines, each shown as the Windows log or the Linux log shows it.
struct Lines : FileLogSink {
    bool onLinux;
    std::vector<std::string> lines;
    explicit Lines(bool l) : onLinux(l) {
        if (!l) Printable = AsciiLogText;
    }
    void WriteLine(const std::string& line) override { lines.push_back(line); }
};

std::unique_ptr<SgIoPlatform> MakeSgIoCarrier() {
    return std::make_unique<SgIoCarrier>(*current);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Answers a(in);
    current = &a;
    const uint8_t kind = in.Byte() % 6, p = in.Byte(), c = in.Byte(), model = in.Byte();
    UnattendedPlan& plan = a.plan;
    plan.action = std::vector<PlanAction>{PlanAction::List, PlanAction::Check, PlanAction::Upgrade,
                                          PlanAction::Save}[p & 3];
    plan.hasBackup = p & 4, plan.force = p & 8, plan.reinstall = p & 16, plan.ignorePower = p & 32;
    plan.overwrite = c & 64;
    if (c & 128) plan.drive.kind = DriveChoice::Position, plan.drive.position = c & 3;
    static const std::vector<uint8_t> header(block.begin(), block.begin() + PayloadHeaderSize);
    std::copy(header.begin(), header.end(), block.begin());
    const std::string version = model == 0xFF ? PlaceholderText : in.Bytes(4);
    std::memcpy(block.data(), version.data(), version.size());
    block[PayloadModelOffset] = uint8_t(model ? '0' + model % 10 : '4');
    const FirmwarePayload payload(block.data());

    const bool onLinux = kind >= 4, document = kind == 5 && plan.action != PlanAction::Save;
    Lines log(onLinux);
    Surroundings world(a);
    SaveFile save(a);
    WindowsBackend windows(a, kind);
    SgIoBackend sgio(MakeSgIoCarrier);
    Captured out, err;
    std::FILE* answer = fmemopen(const_cast<char*>(c & 16 ? "y\n" : "no\n"), 3, "r");
    ConsoleReport report(payload, plan.action != PlanAction::Upgrade, c & 32, c & 24, "",
                         {out.stream, err.stream, answer});
    JsonReport json(payload, plan, report, report);
    OperatorFeedback* echo =
        onLinux ? (document ? static_cast<OperatorFeedback*>(&json) : &report) : nullptr;
    RunObserver* observer =
        onLinux ? (document ? static_cast<RunObserver*>(&json) : &report) : nullptr;
    RunSeams seams{onLinux ? static_cast<DriveBackend&>(sgio) : windows,
                   log,
                   world,
                   &world,
                   nullptr,
                   2,
                   5,
                   [](unsigned) {},
                   onLinux ? LinuxExitCode : WindowsExitCode,
                   "1.58",
                   echo,
                   observer,
                   &save,
                   &world,
                   onLinux ? LinuxOutcomeText : OutcomeText,
                   &world};
    const RunOutcome outcome = RunUnattended(plan, payload, seams);

    FUZZ_CHECK(a.open == 0 && LiveFlashBuffers() == 0 && world.held == 0);
    std::fclose(answer);
    const bool show = std::getenv("FUZZ_SHOW") != nullptr;
    for (const std::string& line : log.lines) {
        if (show) std::fprintf(stderr, "log: %s\n", line.c_str());
        FUZZ_CHECK(ShownSafely(line, ""));
    }
    const std::string console = out.Text(), messages = err.Text();
    if (show) std::fprintf(stderr, "%s%s", console.c_str(), messages.c_str());
    FUZZ_CHECK(ShownSafely(console) && ShownSafely(messages, "\n\r"));
    if (document) FUZZ_CHECK(nlohmann::json::parse(json.Document(outcome, 0)).is_object());
    return 0;
}
