#include "console/ConsoleReport.h"

#include <cstring>

#include "flash/FormatText.h"
#include "flash/UpgradeFirmware.h"
#include "payload/DriveModels.h"

namespace {

std::string DriveText(const FoundDrive& drive) {
    const DeviceRecord& r = drive.record;
    return FormatText("%d  %s  %s %s %s", drive.position, drive.address.c_str(),
                      TrimmedFieldText(r.Vendor, sizeof r.Vendor).c_str(),
                      TrimmedFieldText(r.Product, sizeof r.Product).c_str(),
                      TrimmedFieldText(r.Revision, sizeof r.Revision).c_str());
}

const char* StepWord(ChunkStep step) {
    switch (step) {
        case ChunkStep::Write:
            return "the write";
        case ChunkStep::ReadBack:
            return "the read-back";
        case ChunkStep::Compare:
            return "the comparison";
        default:
            return "the read";
    }
}

constexpr int BarWidth = 32;

}  // namespace

std::string DescribePayload(const FirmwarePayload& payload) {
    if (payload.IsPlaceholder()) return "none: put one in with combine-firmware";
    const uint16_t computed = ImageChecksum(payload.Image(), ImageSize);
    std::string text = payload.Version();
    if (const DriveModel* model = DriveModelFor(payload.ModelId())) {
        std::string field = model->vendorProduct;
        text += FormatText(" for %s %s (firmware %s)", TrimmedFieldText(field.c_str(), 8).c_str(),
                           TrimmedFieldText(field.c_str() + 8, 16).c_str(), model->versionPattern);
    } else {
        text += FormatText(" for model %u, which names no drive", payload.ModelId());
    }
    if (computed != payload.StoredChecksum()) {
        return text + FormatText(", checksum does not match (%04X / %04X)", computed,
                                 payload.StoredChecksum());
    }
    return text + FormatText(", checksum %04X", computed);
}

void ConsoleReport::Message(const std::string& text) {
    EndBar();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleReport::DrawBar() {
    const int filled = percent_ * BarWidth / 100;
    const char* what = step_ == RunStep::Upgrade ? "written and verified" : "read";
    std::string retries = retries_ == 1 ? ", 1 retry" : FormatText(", %d retries", retries_);
    std::fprintf(stderr, "\r  [%s%s] %3d%%  chunk %d/%d %s%s  ", std::string(filled, '#').c_str(),
                 std::string(BarWidth - filled, '.').c_str(), percent_, done_, chunks_, what,
                 retries_ ? retries.c_str() : "");
    std::fflush(stderr);
    barShown_ = true;
}

void ConsoleReport::EndBar() {
    if (barShown_) std::fputc('\n', stderr);
    barShown_ = false;
}

void ConsoleReport::SetStatusText(const std::string& text) {
    Message(prefix_ + ": " + text);
}

void ConsoleReport::SetProgress(int position) {
    // One call per chunk done; the upgrade's last one (100) follows the
    // commit. 0: the write begins again (a notice has said why).
    if (position == 0) {
        done_ = percent_ = failedInRow_ = 0;
        if (bar_) DrawBar();
        return;
    }
    const bool commit = step_ == RunStep::Upgrade && done_ == chunks_;
    if (!commit) ++done_;
    percent_ = position;
    failedInRow_ = 0;
    if (bar_) {
        DrawBar();
    } else if (commit) {
        Message(FormatText("%s: new firmware committed (%d%%)", prefix_.c_str(), position));
    } else {
        Message(FormatText("%s: chunk %d/%d %s (%d%%)", prefix_.c_str(), done_, chunks_,
                           step_ == RunStep::Upgrade ? "written and verified" : "read", position));
    }
}

void ConsoleReport::ChunkAttemptFailed(uint32_t offset, ChunkStep step) {
    ++retries_;
    ++failedInRow_;
    if (bar_) {
        DrawBar();
        return;
    }
    Message(FormatText("%s: attempt %d of %d on the chunk at 0x%05X failed at %s", prefix_.c_str(),
                       failedInRow_, ChunkRetryLimit, static_cast<unsigned>(offset),
                       StepWord(step)));
}

void ConsoleReport::DrivesFound(const std::vector<FoundDrive>& drives) {
    if (!list_) return;
    std::printf("Firmware carried: %s\n", DescribePayload(payload_).c_str());
    if (drives.empty()) {
        std::printf("No drive found.\n");
        return;
    }
    std::printf("%-3s %-10s %-9s %-17s %-5s %-8s %-8s %-16s %s\n", "#", "device", "vendor",
                "product", "rev", "version", "flash", "firmware for it", "up to date");
    for (const FoundDrive& d : drives) {
        const DeviceRecord& r = d.record;
        const std::string version = FormatText("%u.%u", r.VersionMajor, r.VersionMinor);
        const std::string flash = FormatText("0x%X", static_cast<unsigned>(r.FlashSize));
        const UpToDateVerdict::State state = d.upToDate.state;
        std::printf("%-3d %-10s %-9s %-17s %-5s %-8s %-8s %-16s %s\n", d.position,
                    d.address.c_str(), TrimmedFieldText(r.Vendor, sizeof r.Vendor).c_str(),
                    TrimmedFieldText(r.Product, sizeof r.Product).c_str(),
                    TrimmedFieldText(r.Revision, sizeof r.Revision).c_str(), version.c_str(),
                    flash.c_str(), d.verdict.passes ? "yes" : "no",
                    state == UpToDateVerdict::Current   ? "yes"
                    : state == UpToDateVerdict::Differs ? "no"
                                                        : "cannot tell");
    }
    for (const FoundDrive& d : drives) {
        if (!d.verdict.passes) std::printf("Drive %d: %s\n", d.position, d.verdict.reason.c_str());
        if (d.verdict.passes && d.upToDate.state == UpToDateVerdict::CannotJudge)
            std::printf("Drive %d: %s\n", d.position, d.upToDate.reason.c_str());
        if (d.willWrite) std::printf("Drive %d would be written.\n", d.position);
    }
    std::fflush(stdout);
}

void ConsoleReport::SourceRead(const FirmwareSource& source) {
    if (const BackupRecord* r = source.Record()) {
        restore_ += FormatText(
            " (%s %s %s, saved %s)", TrimmedFieldText(r->vendor.c_str(), r->vendor.size()).c_str(),
            TrimmedFieldText(r->product.c_str(), r->product.size()).c_str(),
            TrimmedFieldText(r->revision.c_str(), r->revision.size()).c_str(), r->date.c_str());
    }
}

bool ConsoleReport::ConfirmWrite(const std::vector<FoundDrive>& targets) {
    if (ask_) {
        const std::string what =
            restore_.empty() ? "Firmware " + DescribePayload(payload_) : "The backup " + restore_;
        std::fprintf(stderr, "%s\nwill be written to:\n", what.c_str());
        for (const FoundDrive& drive : targets)
            std::fprintf(stderr, "  drive %s%s\n", DriveText(drive).c_str(),
                         drive.verdict.passes ? "" : "  (another model: --force)");
        std::fprintf(stderr, "Keep the computer on until it is done. Write it? [y/N] ");
        std::fflush(stderr);
        char answer[16] = "";
        if (!std::fgets(answer, sizeof answer, stdin) ||
            (std::strcmp(answer, "y\n") != 0 && std::strcmp(answer, "Y\n") != 0 &&
             std::strcmp(answer, "yes\n") != 0)) {
            std::fprintf(stderr, "Nothing written.\n");
            return false;
        }
    }
    return true;
}

void ConsoleReport::StepStarted(const FoundDrive& drive, RunStep step) {
    prefix_ = FormatText("Drive %d (%s)", drive.position, drive.address.c_str());
    step_ = step;
    chunks_ = static_cast<int>((drive.record.FlashSize + ChunkSize - 1) / ChunkSize);
    done_ = percent_ = retries_ = failedInRow_ = 0;
    if (step == RunStep::Backup) Message(prefix_ + ": reading the flash for the backup");
    if (step == RunStep::Verify) Message(prefix_ + ": reading the flash to compare it");
}

void ConsoleReport::StepEnded(const FoundDrive&, RunStep step, bool succeeded) {
    EndBar();
    if (step == RunStep::Upgrade && succeeded) {
        Message(prefix_ + ": the drive loads the new firmware after a power cycle.");
        Message(
            "  Shut the computer down, switch it off and on again; nothing has been restarted.");
    }
}

void ConsoleReport::Notice(const std::string& text) {
    Message("flash-upgrade: " + text);
}
