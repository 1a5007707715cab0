// The Upgrade and Save operations against a simulated drive behind the
// back-ends, and the buffers they take.
#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <new>

#include "flash/FormatText.h"
#include "flash/SaveFlashToFile.h"
#include "flash/UpgradeFirmware.h"
#include "tests/unit/Rig.h"

// Counts the allocations of the nothrow operator new, the one the flash
// buffers take their memory from: a kept buffer comes back without one.
static int nothrowNews = 0;
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++nothrowNews;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

// An operation on the rig's first drive as the enumeration found it, whose
// buffers are allocated like the program's: the sizes asked for are kept,
// the refuse-th request (counted from 1) is refused.
struct Operation {
    explicit Operation(Rig::Kind kind) : rig(kind) {}
    Rig rig;
    DeviceRecord record = rig.Found();
    std::vector<size_t> sizes;
    int refuse = 0;

    BufferAllocator Allocator() {
        return [this](size_t size) {
            sizes.push_back(size);
            return static_cast<int>(sizes.size()) == refuse ? FlashBuffer()
                                                            : AllocateFlashBuffer(size);
        };
    }
};

// Notes in the journal when the machine is kept awake and let sleep again.
struct Awake : StayAwake {
    Feedback& feedback;
    explicit Awake(Feedback& f) : feedback(f) {}
    std::string Hold(const DeviceRecord&) override { return feedback.Note("awake"), "held"; }
    void Release() override { feedback.Note("asleep"); }
};

struct Upgrade : Operation {
    explicit Upgrade(Rig::Kind kind = Rig::PassThrough) : Operation(kind) {}
    Awake awake{rig.feedback};
    std::vector<uint8_t> block = PayloadBlock();

    bool Run() {
        return UpgradeFirmware(
            record, *rig.access, FirmwarePayload(block.data()), rig.feedback,
            [this](unsigned ms) {
                rig.feedback.Note(FormatText("pause %u", ms) +
                                  (rig.drive->Committed() ? " after the commit" : ""));
            },
            &awake, Allocator());
    }
    std::vector<uint8_t> Image() const { return {block.begin() + PayloadImageOffset, block.end()}; }
};

const std::string kStart =
    "00 status Upgrade Firmware...; 00 disable 1014; 00 disable 1010; 00 disable 1011; ";
const std::string kEnableAll = "00 enable 1014; 00 enable 1010; 00 enable 1011";
const std::string kWriting = kStart + "12 enable 1010; 12 awake; 12 progress 9; 12 progress 18; " +
                             "12 progress 28; 12 progress 37; 12 progress 46; ";
const std::string kSuccess = "12 progress 56; 12 progress 65; 12 progress 75; 12 pause 200";
const std::string kDone =
    "; 12 progress 100; 12 asleep; 00 status Upgrade Firmware Successful!!; 00 enable 1011";

// Every end of the upgrade: the journal tells what the operator saw, in
// which order, and what was still open or held at each step; the machine is
// kept awake from the first chunk until the commit's pause has ended.
TEST(UpgradeFirmware, EveryEnd) {
    const std::vector<uint8_t> block = PayloadBlock();
    const unsigned sum = ImageChecksum(block.data() + PayloadImageOffset, ImageSize);
    const std::string mismatch =
        kStart + FormatText("12 enable 1010; 00 status Check sum not match!! (%04X / ", sum);
    const struct {
        const char* name;
        std::function<void(Upgrade&)> arrange;
        bool result;
        std::string journal;
        int writes;  // WRITE BUFFER mode 7 commands the drive received
    } cases[] = {
        {"OpenFailed", [](Upgrade& u) { u.record.DriveLetter = 'Q', u.record.TargetId = 2; }, false,
         kStart + "00 status Open Device (0 2)SIMDRIVEDVD-ROM SIM16X   Failed!!; " + kEnableAll, 0},
        {"FlashSmaller", [](Upgrade& u) { u.record.FlashSize = 0x1F000; }, false,
         kStart + "10 status Flash size not match!! (1F000 / 20000); " + kEnableAll, 0},
        {"NoWriteBuffer", [](Upgrade& u) { u.refuse = 1; }, false,
         kStart + "10 status Memory (Write) Initialization Failed!!; " + kEnableAll, 0},
        {"NoReadBackBuffer", [](Upgrade& u) { u.refuse = 2; }, false,
         kStart + "10 status Memory (Read) Initialization Failed!!; " + kEnableAll, 0},
        {"ChecksumAbove", [](Upgrade& u) { std::memcpy(&u.block[5], "FFFF", 4); }, false,
         mismatch + "FFFF); 00 enable 1011", 0},
        {"ChunkFailsFiveTimes",
         [](Upgrade& u) {
             u.rig.drive->AddFault({SimFault::FailWrite, 0x14000, 5});
         },
         false, kWriting + "12 status Error Happen in ID 1 OFFSET 0x4000; 12 asleep; " + kEnableAll,
         10},
        {"Success", [](Upgrade&) {}, true, kWriting + kSuccess + " after the commit" + kDone, 8},
        // The drive decides for itself whether the commit took.
        {"CommitRefused", [](Upgrade& u) { u.rig.drive->SetCommitFails(true); }, true,
         kWriting + kSuccess + kDone, 8},
        {"UnfilledPayload", [](Upgrade& u) { std::memcpy(u.block.data(), "INSERT_FIRMWARE", 15); },
         false, "00 status Need Combine firmware first !!; 00 disable 1010", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Upgrade run;
        c.arrange(run);
        EXPECT_EQ(run.Run(), c.result);
        EXPECT_EQ(run.rig.feedback.journal, c.journal);
        EXPECT_EQ(run.rig.Sent({OpWriteBuffer, WriteBufferSaveMode}), c.writes);
        for (size_t size : run.sizes) EXPECT_EQ(size, ImageSize);
    }
}

const std::string kReset = "the drive was reset during the write (unit attention 29/00)";
const std::string kAgain = ": writing again from the first chunk";
const std::string kEnds = ": the write ends without the commit, after 3 restarts";

// Every end of the passes, over every back-end. Failures count alike on their chunk, five
// in a row end it. A reset (its sense passed on by each back-end) is written again from the
// first chunk, at most 3 times, the bar back at 0.
TEST(UpgradeFirmware, RetriesChunksAndWritesAgainAfterTheDriveLostItsDownload) {
    using F = SimFault;
    const struct {
        std::vector<SimFault> faults;
        int writes, reads;    // WRITE BUFFER mode 7 and READ BUFFER mode 2 the drive received
        const char* failure;  // the status text; null: committed
        std::string notices;  // R: a reset, written again; E: a reset that ends it
    } cases[] = {
        {{{F::FailWrite, 0x4000, 4}, {F::FailReadBack, 0x8000, 4}}, 16, 20, nullptr, ""},
        {{{F::CorruptReadBack, 0xFFFF, 1}}, 9, 17, nullptr, ""},  // the chunk's last byte
        {{{F::FailWrite, 0, 2}, {F::FailReadBack, 0, 2}, {F::CorruptReadBack, 9, 1}},
         5,
         3,
         "Error Happen in ID 0 OFFSET 0x0000",
         ""},
        {{{F::Reset, 0x1C000, 1}}, 16, 8 + 1 + 16, nullptr, "R"},  // met by the last read-back
        {{{F::Reset, 0x8000, 3}}, 12 + 8, 9 + 16, nullptr, "RRR"},
        {{{F::ResetBeforeCommit, 0, 1}}, 16, 32, nullptr, "R"},  // the commit not run
        {{{F::Reset, 0x8000, 4}}, 16, 12, "Error Happen in ID 0 OFFSET 0xC000", "RRRE"},
    };
    for (const auto& c : cases) {
        for (Rig::Kind kind : AllKinds) {
            SCOPED_TRACE(FormatText("case %d, back-end %d", static_cast<int>(&c - cases), kind));
            Upgrade run(kind);
            for (const SimFault& fault : c.faults) run.rig.drive->AddFault(fault);
            EXPECT_EQ(run.Run(), !c.failure);
            EXPECT_EQ(run.rig.Sent({OpWriteBuffer, WriteBufferSaveMode}), c.writes);
            EXPECT_EQ(run.rig.Sent({OpReadBuffer, ReadBufferDataMode}), c.reads);
            std::vector<std::string> notices = {"held"};  // the machine kept awake
            for (char n : c.notices) notices.push_back(kReset + (n == 'R' ? kAgain : kEnds));
            EXPECT_EQ(run.rig.feedback.notices, notices);
            const std::vector<int>& bar = run.rig.feedback.progress;
            EXPECT_EQ(std::count(bar.begin(), bar.end(), 0), std::min<long>(c.notices.size(), 3));
            EXPECT_EQ(run.rig.drive->CommitCount(), c.failure ? 0 : 1);
            EXPECT_EQ(run.rig.drive->Flash() == run.Image(), !c.failure);
            EXPECT_EQ(run.rig.feedback.Status(),
                      c.failure ? c.failure : "Upgrade Firmware Successful!!");
        }
    }
}

// The n-th command (from 1) fails with the sense KK/AA/QQ (06/29 erases the download
// first), or, "hollow", completes without delivering data.
struct ScriptedDrive : DeviceAccess {
    std::vector<uint8_t> held = std::vector<uint8_t>(ImageSize, 0xFF);
    std::map<int, std::string> script;
    int sent = 0;
    std::string Next() {
        LastSense = SenseData();
        const std::string what = script.count(++sent) ? script[sent] : "";
        unsigned key, asc, ascq;
        if (std::sscanf(what.c_str(), "%x/%x/%x", &key, &asc, &ascq) == 3) {
            LastSense = {true, false, uint8_t(key), uint8_t(asc), uint8_t(ascq)};
            if (key == 6 && asc == 0x29) held.assign(ImageSize, 0xFF);
        }
        return what;
    }
    int ReadBufferData(uint8_t* to, uint8_t id, uint16_t offset, uint16_t length) override {
        const std::string what = Next();
        if (what.empty()) std::memcpy(to, &held[id << 16 | offset], length);
        return what.empty() || what == "hollow";
    }
    int WriteBufferSave(const uint8_t* from, uint8_t id, uint16_t offset, uint16_t n) override {
        if (!Next().empty()) return 0;
        return std::memcpy(&held[id << 16 | offset], from, n), 1;
    }
    int CommitMicrocode() override { return Next().empty(); }
    void EnumerateDevices(DeviceList&) override {}
    int InquireDevice() override { return 0; }
    int IdentifyController() override { return 0; }
    int OpenDevice(const DeviceRecord&) override { return 0; }
    void CloseDevice() override {}
    int ReadFlashData(uint8_t*, uint8_t, uint16_t, uint16_t) override { return 0; }
};

// Only a unit attention 29h restarts a pass; at the end (commands 17 to 24) a failed or a
// hollow read does too: the buffer still holds the image, as a kept one may.
TEST(UpgradeFirmware, OnlyAResetOrAFailedFinalReadBackWritesAgain) {
    const struct {
        int at;  // the command scripted
        const char* what;
        int sent;            // commands, the commit included
        const char* notice;  // how it ends, or nothing
    } cases[] = {
        {8, "06/29/04", 8 + 25, "was reset during the write (unit attention 29/04)"},
        {7, "06/28/00", 26, ""},  // a medium change
        {7, "02/29/00", 26, ""},
        {4, "hollow", 27, ""},
        {19, "04/44/00", 19 + 25, "(reading it back at the end failed at flash offset 0x08000)"},
        {19, "hollow", 19 + 25, "it differs from the image at flash offset 0x08000)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(FormatText("%s at %d", c.what, c.at));
        ScriptedDrive drive;
        drive.script[c.at] = c.what;
        drive.CurrentDevice.FlashSize = ImageSize;
        const std::vector<uint8_t> image = Upgrade().Image();
        std::vector<uint8_t> readBack = image;
        Feedback feedback;
        EXPECT_EQ(WriteAndVerifyImage(drive, image.data(), readBack.data(), feedback, nullptr), 1);
        EXPECT_EQ(drive.sent, c.sent);
        EXPECT_EQ(feedback.notices.size(), *c.notice ? 1u : 0u);
        for (const std::string& notice : feedback.notices)
            EXPECT_THAT(notice, ::testing::EndsWith(c.notice + kAgain));
        EXPECT_EQ(drive.held, image);
    }
}

// Both loops stop at the open drive's flash size with a shorter last chunk;
// the chunk error names its 64 KB bank in lower-case hex.
TEST(FlashLoops, EndWithAShorterChunkAndNameBanksInHex) {
    SimDriveIdentity identity;
    identity.flashSizeKb = 0x2D1;  // 0xB4400 bytes
    Rig rig(Rig::PassThrough, identity);
    ASSERT_EQ(rig.access->OpenDevice(rig.Found()), 1);
    std::vector<uint8_t> image(0xB4400, 0x3C), readBack(0xB4400);
    EXPECT_EQ(
        WriteAndVerifyImage(*rig.access, image.data(), readBack.data(), rig.feedback, nullptr), 1);
    EXPECT_EQ(rig.drive->Flash(), image);
    EXPECT_EQ(ReadFlashImage(*rig.access, readBack.data(), rig.feedback), 1);
    EXPECT_EQ(readBack, image);
    EXPECT_EQ(rig.Sent({OpWriteBuffer, 7, 0x0B, 0, 0x40, 0, 0, 0x04, 0}), 1);
    EXPECT_EQ(rig.Sent({OpReadBuffer, 1, 0x0B, 0, 0x40, 0, 0, 0x04, 0, 1}), 1);
    rig.drive->AddFault({SimFault::FailWrite, 0xA8000, 5});
    rig.drive->AddFault({SimFault::FailFlashRead, 0xB0000, 5});
    EXPECT_EQ(
        WriteAndVerifyImage(*rig.access, image.data(), readBack.data(), rig.feedback, nullptr), 0);
    EXPECT_EQ(ReadFlashImage(*rig.access, readBack.data(), rig.feedback), 0);
    EXPECT_EQ(rig.feedback.status,
              (std::vector<std::string>{"Error Happen in ID a OFFSET 0x8000",
                                        "Error Happen in ID b OFFSET 0x0000"}));
}

struct Save : Operation {
    Save() : Operation(Rig::PassThrough) {
        for (size_t i = 0; i < rig.drive->Flash().size(); ++i)
            rig.drive->Flash()[i] = static_cast<uint8_t>((i >> 8) ^ i ^ 0xA5);
        file.contents = {'o', 'l', 'd'};
        rig.carrier.ClearRecord();
    }
    MemoryFile file{rig.feedback};

    void Run() {
        SaveFlashToFile(record, *rig.access, "C:\\x.bin", file, rig.feedback, Allocator());
    }
};

TEST(SaveFlashToFile, ReadsTheWholeFlashRetryingThenReplacesTheFile) {
    Save run;
    run.file.contents.assign(0x30000, 0xEE);                        // longer than the flash
    run.rig.drive->AddFault({SimFault::FailFlashRead, 0x4000, 4});  // forgiven, and the count
    run.rig.drive->AddFault({SimFault::FailFlashRead, 0x8000, 4});  // starts again per chunk
    run.Run();
    EXPECT_EQ(run.file.contents, run.rig.drive->Flash());
    EXPECT_EQ(run.sizes, std::vector<size_t>{ImageSize});
    EXPECT_EQ(
        run.rig.feedback.journal,
        "00 status Save Firmware...; 00 disable 1014; 00 disable 1010; 00 disable 1011; 00 file "
        "open C:\\x.bin; 00 box File C:\\x.bin Exist, Overwrite ? | yes/no; 11 progress 12; 11 "
        "progress 25; 11 progress 37; 11 progress 50; 11 progress 62; 11 progress 75; 11 "
        "progress 87; 11 progress 100; 11 file write 131072; 11 status Save Firmware "
        "Successful!!; " +
            kEnableAll + "; 00 file close");
    EXPECT_EQ(run.rig.Sent({OpReadBuffer, 1}), 8 + 8 + 1);  // and the identification
    EXPECT_EQ(run.rig.Sent({OpReadBuffer, 1, 0, 0, 0x80, 0}), 5);
}

// Every other end: the buttons enabled again with drive, buffer and file
// released, no success text, and the old file kept unless writing failed.
TEST(SaveFlashToFile, EveryFailureEndsCleanly) {
    const struct {
        std::function<void(Save&)> arrange;
        std::string status;
        size_t opens;
        bool kept;
    } cases[] = {
        {[](Save& s) { s.file.failOpen = true; }, "Cant open the file C:\\x.bin", 0, true},
        {[](Save& s) { s.file.failLength = true; }, "Cant write the file C:\\x.bin", 0, true},
        {[](Save& s) { s.rig.feedback.answer = AnswerNo; }, "File C:\\x.bin Exist, User cancel ...",
         0, true},
        {[](Save& s) { s.refuse = 1; }, "Memory (Write) Initialization Failed!!", 0, true},
        {[](Save& s) { s.record.DriveLetter = 'Q', s.record.AdapterId = 1; },
         "Open Device (1 0)SIMDRIVEDVD-ROM SIM16X   Failed!!", 1, true},
        {[](Save& s) { s.file.failTruncate = true; }, "Cant write the file C:\\x.bin", 1, true},
        {[](Save& s) { s.file.failWrite = true; }, "Cant write the file C:\\x.bin", 1, false},
    };
    for (const auto& c : cases) {
        Save run;
        c.arrange(run);
        run.Run();
        EXPECT_EQ(run.rig.feedback.status,
                  (std::vector<std::string>{"Save Firmware...", c.status}));
        EXPECT_EQ(run.rig.carrier.Opens().size(), c.opens);
        EXPECT_EQ(run.rig.carrier.OpenHandleCount(), 0);
        const std::string journal = run.rig.feedback.journal;
        EXPECT_EQ(journal.substr(journal.rfind("; 00 enable 1014")),
                  "; " + kEnableAll + (run.file.failOpen ? "" : "; 00 file close"));
        EXPECT_EQ(run.file.closes, run.file.failOpen ? 0 : 1);
        EXPECT_EQ(run.file.contents == std::vector<uint8_t>({'o', 'l', 'd'}), c.kept);
    }
}

TEST(FlashBuffer, KeepsReleasedBuffersForTheSameSize) {
    FlashBuffer a = AllocateFlashBuffer(0x20000), b = AllocateFlashBuffer(0x20000);
    uint8_t *first = a.get(), *second = b.get();
    a.reset();
    b.reset();
    const int news = nothrowNews;
    a = AllocateFlashBuffer(0x20000);
    b = AllocateFlashBuffer(0x20000);
    EXPECT_EQ(nothrowNews, news);
    EXPECT_EQ(a.get(), first);
    EXPECT_EQ(b.get(), second);
    // A kept buffer is handed out for its own size only.
    a.reset();
    b.reset();
    FlashBuffer small = AllocateFlashBuffer(0x100);
    EXPECT_NE(small.get(), first);
    EXPECT_NE(small.get(), second);
    EXPECT_FALSE(AllocateFlashBuffer(static_cast<size_t>(-1)));
}

}  // namespace
