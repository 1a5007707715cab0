// The JSON output for drives that report any bytes: found drives and what a
// run reports about them, from the input, through JsonReport (docs/fuzz.md).
// A document that does not parse ends the run as a crash.
#include "console/ConsoleJson.h"

#include <nlohmann/json.hpp>

#include "FuzzInput.h"
#include "unattended/ModelGuard.h"

namespace {

// The bytes of a text written as ISO 8859-1 characters in UTF-8.
std::string Bytes(const nlohmann::json& value) {
    const std::string& text = value.get_ref<const std::string&>();
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        FUZZ_CHECK(c < 0x80 || ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()));
        bytes += char(c < 0x80 ? c : (c & 3) << 6 | (text[++i] & 0x3F));
    }
    return bytes;
}

struct Quiet : OperatorFeedback, RunObserver {
    void SetStatusText(const std::string&) override {}
    void SetProgress(int) override {}
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override { return 0; }
};

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
    Quiet quiet;
    JsonReport report(payload, plan, quiet, quiet);
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
        FUZZ_CHECK(Bytes(entry["vendor"]) == TrimmedFieldText(r.Vendor, sizeof r.Vendor) &&
                   Bytes(entry["product"]) == TrimmedFieldText(r.Product, sizeof r.Product) &&
                   Bytes(entry["revision"]) == TrimmedFieldText(r.Revision, sizeof r.Revision));
    }
    return 0;
}
