// The drive's answers, every one from the input, through carriers for each back-end under whole
// unattended runs; what is checked, and the input's layout: docs/fuzz.md.
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "FuzzInput.h"
#include "console/ConsoleJson.h"
#include "console/ConsoleReport.h"
#include "console/LinuxSeams.h"
#include "device/ByteOrder.h"
#include "device/aspi/AspiDeviceAccess.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "payload/DriveModels.h"
#include "unattended/Sha256.h"

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
const std::string restored(block.rbegin(), block.rbegin() + ImageSize);  // a whole restore file

struct Drive {
    std::string inquiry;  // what the program holds of the drive's last inquiry answer
    uint8_t address = 0;  // the SCSI address its node last gave
    std::vector<uint8_t> download = std::vector<uint8_t>(ImageSize);
    std::set<uint32_t> whole;               // chunks read back as the image since a write or loss
    std::map<uint32_t, std::string> flash;  // by chunk: what the last good read returned
    std::set<uint16_t> chips;               // the chip codes its identifications gave
    uint16_t claimedKb = 0;                 // the flash size its identification gave
    bool backedUp = false;
    uint32_t lastWritten = 1;  // the chunk written last, 1 before any
    int passes = 0;            // over the download, from its first chunk
};

// A restore's file and record: both good, the record missing, or refused.
enum class Restore { None, Good, NoRecord, Bad };

struct Answers {
    FuzzInput& in;
    UnattendedPlan plan{};
    const uint8_t* image = block.data() + PayloadImageOffset;  // what is written or compared
    Restore restore = Restore::None;
    BackupRecord record{};
    bool battery = false;
    std::map<int, Drive> drives{};
    int lastRead = -1, open = 0;
    bool recordNext = false;  // a backup is staged whole: its record comes next
    uint8_t kind = 0;         // the back-end and platform
    std::string sense{};      // of the last command that failed
    uint32_t arrived = 0;     // of the last command: the bytes that came
    uint8_t how = 0;          // and the carrier's words for how it ended

    bool MayWrite(const Drive& d) {
        const DriveModel* model = DriveModelFor(uint8_t(block[PayloadModelOffset] - '0'));
        bool passes = model && d.inquiry.size() >= 36 &&
                      d.inquiry.compare(8, 24, model->vendorProduct) == 0 &&
                      Matches(model->versionPattern, d.inquiry.substr(32, 4));
        if (restore != Restore::None)
            passes = restore == Restore::Good && d.chips.count(record.chipCode) &&
                     d.inquiry.compare(8, 24, record.vendor + record.product) == 0;
        return plan.action == PlanAction::Upgrade && (!battery || plan.ignorePower) &&
               restore != Restore::Bad && (plan.force || passes) && (!plan.hasBackup || d.backedUp);
    }

    // A backup or saved file holds what the good flash reads returned, its record their size and
    // SHA-256; the input says whether the write succeeds.
    bool Written(bool isRecord, const std::string& text) {
        std::string flash, why;
        for (const auto& chunk : drives[lastRead].flash) flash += chunk.second;
        BackupRecord r;
        FUZZ_CHECK(isRecord ? ParseBackupRecord(text, r, why) && r.flashSize == flash.size() &&
                                  r.sha256 ==
                                      Sha256Hex(Sha256((const uint8_t*)flash.data(), flash.size()))
                            : text == flash);
        return in.Byte() != 1;
    }

    // One command to the drive at address; a read fills all asked bytes unless short or failed.
    End Answer(int address, const uint8_t* cdb, uint8_t* data) {
        static const End ends[8] = {End::Good,    End::Good,  End::Good, End::Fail,
                                    End::Corrupt, End::Short, End::Fail, End::Good};
        const uint8_t choice = in.Byte();
        End end = ends[choice & 7];
        how = choice >> 3;
        Drive& d = drives[address];
        const uint32_t asked = Asked(cdb),
                       at = (cdb[2] << 16) + (cdb[3] << 16 | cdb[4] << 8 | cdb[5]);
        const bool read = cdb[0] == OpReadBuffer, write = cdb[0] == OpWriteBuffer;
        const bool flash = read && cdb[1] == ReadBufferVendorMode && cdb[9] == 1;
        const bool readBack = read && cdb[1] == ReadBufferDataMode;
        const bool identify = read && cdb[1] == ReadBufferVendorMode && !flash;
        // Past the largest flash of these chips a read fails (a longer one is only slower), unless
        // the drive claims more than a read can address: that read-out must go on to find it.
        if (flash && at >= 4 * ImageSize && d.claimedKb <= MaxFlashSizeKb) end = End::Fail;
        const bool good = end == End::Good || end == End::Corrupt;
        arrived = good ? asked : asked * how / 32;
        // A failure may be a reset: the download is lost (whether the sense is passed on or not).
        const bool reset = end == End::Fail && how & 16;
        const uint8_t ascq = reset ? in.Byte() : 0;  // bit 0 also picks the format
        if (end == End::Fail)
            sense = !reset     ? in.Bytes(32)
                    : ascq & 1 ? std::string("\x72\x06\x29", 3) + char(ascq)
                               : std::string("\x70\0\x06\0\0\0\0\x0a\0\0\0\0\x29", 13) + char(ascq);
        std::string answer(asked, '\0');
        if (cdb[0] == OpInquiry || identify) {
            answer = in.Bytes(asked);
            answer.resize(asked);
        } else if (flash) {
            FUZZ_CHECK(plan.action == PlanAction::Save || plan.action == PlanAction::Verify ||
                       (plan.hasBackup && plan.action == PlanAction::Upgrade));
            FUZZ_CHECK(d.flash.count(at) == 0);  // a good read is taken, not tried again
            for (uint32_t i = 0; i < asked; ++i)
                answer[i] =
                    how & 16 && at + i < ImageSize ? image[at + i] : (at + i) * 13 + address;
            lastRead = address;
        } else if (readBack) {
            FUZZ_CHECK(at + asked <= ImageSize);
            answer.assign(d.download.begin() + at, d.download.begin() + at + asked);
        } else if (write && cdb[1] == WriteBufferSaveMode) {
            FUZZ_CHECK(MayWrite(d) && at + asked <= ImageSize &&
                       std::memcmp(data, image + at, asked) == 0);
            // A chunk read back as written is taken; at most 3 restarts.
            FUZZ_CHECK(at == 0 || !d.whole.count(at));
            if (at == 0 && d.lastWritten != 0) FUZZ_CHECK(++d.passes <= 4);
            d.lastWritten = at;
            d.whole.clear();
            std::copy(data, data + arrived, d.download.begin() + at);
            if (end == End::Corrupt && asked) d.download[at + how % asked] ^= 0x5A;
        } else if (write && cdb[1] == WriteBufferCommitMode) {
            // After every chunk was read back whole since the last write or loss.
            FUZZ_CHECK(MayWrite(d));
            for (uint32_t chunk = 0; chunk < ImageSize; chunk += ChunkSize)
                FUZZ_CHECK(d.whole.count(chunk));
        } else {
            FUZZ_CHECK(cdb[0] == OpTestUnitReady);
        }
        if (!write && asked) {
            if (end == End::Corrupt) answer[how % asked] ^= 0x5A;
            std::memcpy(data, answer.data(), arrived);
        }
        if (cdb[0] == OpInquiry)  // what the program holds of the answer
            d.inquiry.assign(answer, 0, end == End::Fail ? 0 : arrived).resize(asked);
        if (readBack && good && asked == ChunkSize &&
            !std::memcmp(answer.data(), image + at, asked))
            d.whole.insert(at);
        if (identify && asked >= 4) d.chips.insert(ReadLe16(data + 2));
        if (identify && arrived >= 12) d.claimedKb = ReadLe16(data + 10);
        if (reset) d.download.assign(ImageSize, 0), d.whole.clear();
        if (flash) good ? void(d.flash[at] = answer) : void(d.flash.erase(at));
        return end;
    }
};
Answers* current = nullptr;  // of the run going on: what the carriers and files below answer
struct OfTheRun {
    Answers& a = *current;
};

struct AspiCarrier : AspiLibrary, OfTheRun {
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
        const End end = a.Answer(block[SrbAdapterOffset] << 8 | block[ExecTargetOffset], cdb,
                                 static_cast<uint8_t*>(data));
        static const uint8_t failures[4] = {SS_ERR, SS_PENDING, SS_INVALID_SRB, SS_NO_DEVICE};
        status = end == End::Good || end == End::Corrupt ? SS_COMP : failures[a.how & 3];
        if (status == SS_ERR) {
            block[ExecTargetStatusOffset] = 2;
            std::memcpy(block + ExecSenseOffset, a.sense.data(),
                        std::min<size_t>(a.sense.size(), ExecSenseLength));
        }
        return status;
    }
};

struct PassThroughCarrier : PassThroughPlatform, OfTheRun {
    bool ScsiSubkeyCount(uint32_t& count) override { return (count = a.in.Byte()) != 1; }
    uint32_t MajorVersion() override { return 4 + (a.kind >> 1 & 1); }
    Handle OpenDevice(const char* path, uint32_t, uint32_t) override {
        if (!(a.in.Byte(a.drives.count(path[4])) & 1)) return nullptr;
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
        const End end = a.Answer(int(uintptr_t(h)), cdb, data);
        // The system reports what arrived; CHECK CONDITION brings sense.
        WriteLe32(block + DataTransferLengthField, a.arrived);
        block[ScsiStatusField] = end == End::Fail ? (a.how & 1 ? 8 : 2) : 0;
        uint8_t& sensed = block[SenseInfoLengthField];
        sensed =
            block[ScsiStatusField] == 2 ? uint8_t(std::min<size_t>(a.sense.size(), sensed)) : 0;
        std::memcpy(block + ReadLe32(block + SenseInfoOffsetField), a.sense.data(), sensed);
        return !(end == End::Fail && (a.how & 2));
    }
    void CloseDevice(Handle) override { --a.open; }
};

struct SgIoCarrier : SgIoPlatform, OfTheRun {
    int Open(const char* path, int) override {
        const int node = (path[6] == 'g') * 1000 + std::atoi(path + 7);
        const uint8_t b = a.in.Byte(a.drives.count(node));
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
        const End end = a.Answer(fd, cdb, static_cast<uint8_t*>(h.dxferp));
        const uint8_t how = a.how;
        h.resid = int(asked - a.arrived);
        // A good end may bring harmless sense (recovered); a failed one comes in many forms.
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
    std::string Description() override { return "carriers"; }
    std::string FailureText() override { return "no carrier"; }
    std::unique_ptr<DeviceAccess> Create() override {
        if (current->kind & 1)
            return std::make_unique<PassThroughDeviceAccess>(
                std::make_unique<PassThroughCarrier>());
        return std::make_unique<AspiDeviceAccess>(std::make_unique<AspiCarrier>(),
                                                  [t = 0u]() mutable { return t += 100000; });
    }
};

// The run's surroundings: clock, backup folder, power, sleep, the saved file, the restore's files.
struct Surroundings : LogClock, BackupFolder, PowerProbe, StayAwake, SaveTarget, SourceFiles {
    Answers& a = *current;
    int held = 0;
    bool Exists(const std::string&) override { return a.in.Bit(); }
    bool Open(const std::string&) override { return a.in.Byte() != 1; }
    bool Length(uint64_t& length) override { return length = a.in.Byte(), true; }
    bool Truncate() override { return true; }
    bool Write(const uint8_t* data, uint32_t length) override {
        return a.Written(false, std::string((const char*)data, length));
    }
    void Close() override {}
    bool WriteBeside(const std::string&, const std::string& text) override {
        return a.Written(true, text);
    }
    void RemoveBeside(const std::string&) override {}
    // The restore file (whole or up to 3 bytes longer) and its record (the input's texts and chip
    // code; a flash of 128 KB or not; the file's SHA-256 or another), read or not as the input
    // says.
    Result Read(const std::string& path, size_t, std::string& data, std::string& why) override {
        const uint8_t b = a.in.Byte();
        const bool file = path == a.plan.restorePath;
        why = "carried";
        a.restore = !file && (b & 3) == 1 ? Restore::NoRecord : Restore::Bad;
        if (b & 3) return (b & 3) == 1 ? Result::Missing : Result::Failed;
        if (file) return data = restored, data.resize(ImageSize + (b >> 2 & 3)), Result::Read;
        const std::string texts = a.in.Bytes(28) + std::string(28, ' ');
        BackupRecord& r = a.record;
        r.vendor = texts.substr(0, 8), r.product = texts.substr(8, 16);
        r.revision = texts.substr(24, 4), r.flashSize = b & 4 ? 65536 : ImageSize;
        r.chipCode = a.in.Byte();
        r.chipCode |= a.in.Byte() << 8;
        r.sha256 = Sha256Hex(Sha256(a.image, ImageSize - (b & 8)));
        if (!(b & 12)) a.restore = Restore::Good;
        return data = FormatBackupRecord(r, "\n"), Result::Read;
    }
    LogTime Now() override { return {2024, 5, 1, 13, 45, 7}; }
    bool Exists() override { return a.in.Byte() != 1; }
    std::string PathOf(const std::string& name) override { return "b/" + name; }
    std::vector<std::string> Leftovers() override {
        return std::vector<std::string>(a.in.Byte() == 1, "unfinished-backup-1.tmp");
    }
    bool Taken(const std::string&) override { return a.in.Byte() == 1; }
    // A temporary failing where the input says; a named backup (not its record) is complete.
    struct Staged : StagedFile, OfTheRun {
        bool record, wrote = false, flushed = false;
        explicit Staged(bool r) : record(r) {}
        bool Write(const uint8_t* data, uint32_t length) override {
            return wrote = a.Written(record, std::string((const char*)data, length));
        }
        bool Flush() override {
            flushed = wrote && a.in.Byte() != 1;
            return a.recordNext = flushed && !record, flushed;
        }
        Named Name(const std::string& name) override {
            FUZZ_CHECK(flushed && ShownSafely(name, ""));
            const uint8_t b = a.in.Byte();
            const bool named = b != 1 && b != 2;
            if (named && !record) a.drives[a.lastRead].backedUp = true;
            return named ? Named::Yes : b == 1 ? Named::NameTaken : Named::Failed;
        }
        bool Unname() override { return a.in.Byte() != 1; }
    };
    std::unique_ptr<StagedFile> Stage(std::string& temporary) override {
        temporary = "unfinished-backup-1.tmp";
        const bool record = std::exchange(a.recordNext, false);
        return a.in.Byte() == 1 ? nullptr : std::make_unique<Staged>(record);
    }
    PowerVerdict Read() override { return {a.battery = a.in.Byte() == 1, "power status: carried"}; }
    std::string Hold(const DeviceRecord&) override { return FUZZ_CHECK(held++ == 0), "awake"; }
    void Release() override { FUZZ_CHECK(--held == 0); }
};

// The log's lines as the Windows or the Linux log shows them: no control byte in any.
struct Lines : FileLogSink {
    void WriteLine(const std::string& line) override { FUZZ_CHECK(ShownSafely(line, "")); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Answers a{in};
    current = &a;
    const uint8_t kind = a.kind = in.Byte() % 6, p = in.Byte(), c = in.Byte(), model = in.Byte();
    UnattendedPlan& plan = a.plan;
    plan.action =
        std::vector<PlanAction>{PlanAction::List, p & 128 ? PlanAction::Verify : PlanAction::Check,
                                PlanAction::Upgrade, PlanAction::Save}[p & 3];
    plan.hasBackup = p & 4, plan.force = p & 8, plan.reinstall = p & 16, plan.ignorePower = p & 32;
    plan.hasRestore = p & 64, plan.restorePath = "r.bin";
    if (plan.hasRestore) a.image = reinterpret_cast<const uint8_t*>(restored.data());
    plan.overwrite = c & 64;
    if (c & 128) plan.drive.kind = DriveChoice::Position, plan.drive.position = c & 3;
    static const std::vector<uint8_t> header(block.begin(), block.begin() + PayloadHeaderSize);
    std::copy(header.begin(), header.end(), block.begin());
    const std::string version = model == 0xFF ? PlaceholderText : in.Bytes(4);
    std::memcpy(block.data(), version.data(), version.size());
    block[PayloadModelOffset] = uint8_t(model ? '0' + model % 10 : '4');
    const FirmwarePayload payload(block.data());

    const bool onLinux = kind >= 4, document = kind == 5 && plan.action != PlanAction::Save;
    Lines log;
    if (kind < 4) log.Printable = AsciiLogText;
    Surroundings world;
    WindowsBackend windows;
    SgIoBackend sgio(
        []() -> std::unique_ptr<SgIoPlatform> { return std::make_unique<SgIoCarrier>(); });
    char* texts[2] = {};  // what the console writes to its output and error streams
    size_t sizes[2] = {};
    std::FILE *out = open_memstream(&texts[0], &sizes[0]),
              *err = open_memstream(&texts[1], &sizes[1]);
    std::FILE* answer = fmemopen(const_cast<char*>(c & 16 ? "y\n" : "no\n"), 3, "r");
    ConsoleReport report(payload, plan.action != PlanAction::Upgrade, c & 32, c & 24, "",
                         {out, err, answer});
    JsonReport json(payload, plan, report, report);
    DriveBackend& backend = onLinux ? static_cast<DriveBackend&>(sgio) : windows;
    RunSeams seams{backend, log,     world,           &world, nullptr, 2,
                   5,       nullptr, WindowsExitCode, "1.58", nullptr, nullptr,
                   &world,  &world,  OutcomeText,     &world, nullptr, &world};
    if (onLinux)
        seams.exitCode = LinuxExitCode, seams.outcomeText = LinuxOutcomeText, seams.echo = &report,
        seams.observer = &report;
    if (document) seams.echo = &json, seams.observer = &json;
    const RunOutcome outcome = RunUnattended(plan, payload, seams);

    FUZZ_CHECK(a.open == 0 && LiveFlashBuffers() == 0 && world.held == 0);
    std::fclose(answer), std::fclose(out), std::fclose(err);
    const std::string console(texts[0], sizes[0]), messages(texts[1], sizes[1]);
    std::free(texts[0]), std::free(texts[1]);
    FUZZ_CHECK(ShownSafely(console) && ShownSafely(messages, "\n\r"));
    if (document) FUZZ_CHECK(nlohmann::json::parse(json.Document(outcome, 0)).is_object());
    // A verify says what the flash reads returned.
    if (outcome == RunOutcome::Verified || outcome == RunOutcome::Differs) {
        bool differs = false;
        for (const auto& [address, d] : a.drives)
            for (const auto& [at, bytes] : d.flash)
                differs |= std::memcmp(bytes.data(), a.image + at, bytes.size()) != 0;
        FUZZ_CHECK(differs == (outcome == RunOutcome::Differs));
    }
    return 0;
}
