// The JSON output of found drives with any bytes and what a run reports about them, from the
// input (docs/fuzz.md). A document that does not parse ends the run as a crash.
#include "console/ConsoleJson.h"

#include <nlohmann/json.hpp>

#include "FuzzInput.h"
#include "console/ConsoleReport.h"
#include "unattended/ModelGuard.h"

namespace {

// A drive's text as JSON holds it: each byte an ISO 8859-1 character in UTF-8.
std::string Utf8(const std::string& bytes) {
    std::string text;
    for (const unsigned char c : bytes)
        text += c < 0x80 ? std::string(1, char(c))
                         : std::string{char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    static std::vector<uint8_t> block(PayloadBlockSize);
    const std::string header = in.Bytes(PayloadHeaderSize) + std::string(PayloadHeaderSize, '\0');
    std::copy_n(header.begin(), PayloadHeaderSize, block.begin());
    const FirmwarePayload payload(block.data());
    UnattendedPlan plan;
    plan.action = in.Bit() ? PlanAction::List : in.Bit() ? PlanAction::Check : PlanAction::Upgrade;
    plan.force = in.Bit();
    static std::FILE* const none = std::fopen("/dev/null", "r+");
    ConsoleReport console(payload, true, false, false, "", {none, none, none});
    JsonReport report(payload, plan, console, console);
    std::vector<FoundDrive> drives;
    for (int n = in.Byte() % 4; n > 0; --n) {
        DeviceRecord r = RecordOf(in.Bytes(28));
        r.FlashSize = in.Byte() << 12;
        const uint8_t flags = in.Byte();
        drives.push_back({int(drives.size()), "/dev/sr" + std::to_string(drives.size()), r,
                          JudgeDrive(payload.ModelId(), r), bool(flags & 1),
                          JudgeUpToDate(payload.ModelId(), payload.Version(), r), bool(flags & 2)});
    }
    report.DrivesFound(drives);
    int notices = 0;
    for (uint8_t call = in.Byte(); call != 0 && !drives.empty(); call = in.Byte()) {
        const FoundDrive& drive = drives[call % drives.size()];
        const RunStep step = call & 4 ? RunStep::Backup : RunStep::Upgrade;
        if (call >> 3 == 0) report.StepStarted(drive, step);
        if (call >> 3 == 1) report.StepEnded(drive, step, call & 64);
        if (call >> 3 == 2) report.SetStatusText(in.Bytes(40));
        if (call >> 3 == 3) report.BackupWritten(drive, in.Bytes(40));
        if (call >> 3 > 3) report.Notice("Drive " + std::to_string(call % 5) + ": " + in.Bytes(40));
        notices += call >> 3 > 3;
    }
    const auto document = nlohmann::json::parse(
        report.Document(RunOutcome(in.Byte() % (int(RunOutcome::BadRestoreFile) + 1)), 0));
    FUZZ_CHECK(document["drives"].size() == drives.size() &&
               document["notices"].size() == size_t(notices));
    for (const FoundDrive& d : drives) {
        const auto& entry = document["drives"][size_t(d.position)];
        FUZZ_CHECK(entry["position"] == d.position && entry["flash_size"] == d.record.FlashSize);
        const DeviceRecord& r = d.record;
        FUZZ_CHECK(entry["vendor"] == Utf8(TrimmedFieldText(r.Vendor, sizeof r.Vendor)) &&
                   entry["product"] == Utf8(TrimmedFieldText(r.Product, sizeof r.Product)) &&
                   entry["revision"] == Utf8(TrimmedFieldText(r.Revision, sizeof r.Revision)));
    }
    return 0;
}
