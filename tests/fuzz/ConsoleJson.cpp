// The JSON output, for drives that report any bytes: found drives, steps,
// status texts, notices and backups as a run reports them, from the input,
// through JsonReport and on to the console's own view. Checked:
//   - the document parses (nlohmann-json refuses invalid UTF-8): a document
//     that does not parse ends the run as a crash;
//   - it holds every drive, in order, and every notice;
//   - each inquiry text reads back, character by character, as the bytes
//     the drive reported;
//   - the console's lines hold nothing a terminal would obey.
#include "console/ConsoleJson.h"

#include <nlohmann/json.hpp>

#include "FuzzInput.h"
#include "console/ConsoleReport.h"
#include "unattended/ModelGuard.h"

namespace {

// The bytes of a text written as ISO 8859-1 characters in UTF-8.
std::string Bytes(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        FUZZ_CHECK(c < 0x80 || ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()));
        bytes += char(c < 0x80 ? c : (c & 3) << 6 | (text[++i] & 0x3F));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    static std::vector<uint8_t> block(PayloadBlockSize);
    const std::string header = in.Bytes(PayloadHeaderSize);
    std::fill(block.begin(), block.begin() + PayloadHeaderSize, 0);
    std::copy(header.begin(), header.end(), block.begin());
    const FirmwarePayload payload(block.data());
    UnattendedPlan plan;
    plan.action = std::vector<PlanAction>{PlanAction::List, PlanAction::Check,
                                          PlanAction::Upgrade}[in.Byte() % 3];
    plan.force = in.Bit();
    Captured out, err;
    ConsoleReport console(payload, true, in.Bit(), false, {out.stream, err.stream, stdin});
    JsonReport report(payload, plan, console, console);

    std::vector<FoundDrive> drives;
    for (int n = in.Byte() % 4; n > 0; --n) {
        DeviceRecord r = ZeroDeviceRecord();
        const std::string texts = in.Bytes(28) + std::string(28, '\0');
        std::memcpy(r.Vendor, texts.data(), 8);
        std::memcpy(r.Product, texts.data() + 8, 16);
        std::memcpy(r.Revision, texts.data() + 24, 4);
        std::memcpy(r.VendorProduct, texts.data(), 24);
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
        switch (call >> 3 & 7) {
            case 0:
                report.StepStarted(drive, step);
                break;
            case 1:
                report.StepEnded(drive, step, call & 64);
                break;
            case 2:
                report.SetStatusText(in.Bytes(40));
                break;
            case 3:
                report.BackupWritten(drive, in.Bytes(40));
                break;
            case 4:
                report.SetProgress(in.Byte() % 101);
                break;
            case 5:
                report.ChunkAttemptFailed(in.Byte() << 14, ChunkStep(in.Byte() % 4));
                break;
            default:
                report.Notice("Drive " + std::to_string(drive.position) + ": " + in.Bytes(40)),
                    ++notices;
        }
    }
    const auto document =
        nlohmann::json::parse(report.Document(RunOutcome(in.Byte() % 15), in.Byte()));
    FUZZ_CHECK(document["drives"].size() == drives.size() &&
               document["notices"].size() == size_t(notices));
    for (const FoundDrive& d : drives) {
        const auto& entry = document["drives"][size_t(d.position)];
        FUZZ_CHECK(entry["position"] == d.position && entry["flash_size"] == d.record.FlashSize);
        FUZZ_CHECK(Bytes(entry["vendor"].get<std::string>()) ==
                   TrimmedFieldText(d.record.Vendor, 9));
        FUZZ_CHECK(Bytes(entry["product"].get<std::string>()) ==
                   TrimmedFieldText(d.record.Product, 17));
        FUZZ_CHECK(Bytes(entry["revision"].get<std::string>()) ==
                   TrimmedFieldText(d.record.Revision, 5));
    }
    FUZZ_CHECK(ShownSafely(out.Text()) && ShownSafely(err.Text(), "\n\r"));
    return 0;
}
