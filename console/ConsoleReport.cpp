#include "console/ConsoleReport.h"

#include <cstring>

#include "flash/FormatText.h"
#include "flash/UpgradeFirmware.h"
#include "payload/DriveModels.h"
#include "unattended/RunLog.h"

namespace {

// An inquiry text as a column of the table shows it: escaped before it is
// padded, so the columns stay in line.
std::string Column(const char* field, size_t size) {
    return EscapedText(TrimmedFieldText(field, size));
}

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

void ConsoleReport::Print(std::FILE* stream, const std::string& text, const char* end) {
    std::fputs(EscapedText(text).c_str(), stream);
    std::fputs(end, stream);
}

void ConsoleReport::Message(const std::string& text) {
    EndBar();
    Print(streams_.err, text);
}

void ConsoleReport::DrawBar() {
    const int filled = percent_ * BarWidth / 100;
    const char* what = step_ == RunStep::Upgrade ? "written and verified" : "read";
    std::string retries = retries_ == 1 ? ", 1 retry" : FormatText(", %d retries", retries_);
    std::fprintf(streams_.err, "\r  [%s%s] %3d%%  chunk %d/%d %s%s  ",
                 std::string(filled, '#').c_str(), std::string(BarWidth - filled, '.').c_str(),
                 percent_, done_, chunks_, what, retries_ ? retries.c_str() : "");
    std::fflush(streams_.err);
    barShown_ = true;
}

void ConsoleReport::EndBar() {
    if (barShown_) std::fputc('\n', streams_.err);
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
    std::FILE* out = streams_.out;
    Print(out, "Firmware carried: " + DescribePayload(payload_));
    if (drives.empty()) {
        Print(out, "No drive found.");
        return;
    }
    Print(out, FormatText("%-3s %-10s %-9s %-17s %-5s %-8s %-8s %-16s %s", "#", "device", "vendor",
                          "product", "rev", "version", "flash", "firmware for it", "up to date"));
    for (const FoundDrive& d : drives) {
        const DeviceRecord& r = d.record;
        const std::string version = FormatText("%u.%u", r.VersionMajor, r.VersionMinor);
        const std::string flash = FormatText("0x%X", static_cast<unsigned>(r.FlashSize));
        const UpToDateVerdict::State state = d.upToDate.state;
        Print(out, FormatText("%-3d %-10s %-9s %-17s %-5s %-8s %-8s %-16s %s", d.position,
                              d.address.c_str(), Column(r.Vendor, sizeof r.Vendor).c_str(),
                              Column(r.Product, sizeof r.Product).c_str(),
                              Column(r.Revision, sizeof r.Revision).c_str(), version.c_str(),
                              flash.c_str(), d.verdict.passes ? "yes" : "no",
                              state == UpToDateVerdict::Current   ? "yes"
                              : state == UpToDateVerdict::Differs ? "no"
                                                                  : "cannot tell"));
    }
    for (const FoundDrive& d : drives) {
        const std::string drive = FormatText("Drive %d", d.position);
        if (!d.verdict.passes) Print(out, drive + ": " + d.verdict.reason);
        if (d.verdict.passes && d.upToDate.state == UpToDateVerdict::CannotJudge)
            Print(out, drive + ": " + d.upToDate.reason);
        if (d.willWrite) Print(out, drive + " would be written.");
    }
    std::fflush(out);
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
        std::FILE* err = streams_.err;
        Print(err, restore_.empty() ? "Firmware " + DescribePayload(payload_)
                                    : "The backup " + restore_);
        Print(err, "will be written to:");
        for (const FoundDrive& drive : targets)
            Print(err, "  drive " + DriveText(drive) +
                           (drive.verdict.passes ? "" : "  (another model: --force)"));
        Print(err, "Keep the computer on until it is done. Write it? [y/N] ", "");
        std::fflush(err);
        char answer[16] = "";
        if (!std::fgets(answer, sizeof answer, streams_.in) ||
            (std::strcmp(answer, "y\n") != 0 && std::strcmp(answer, "Y\n") != 0 &&
             std::strcmp(answer, "yes\n") != 0)) {
            Print(err, "Nothing written.");
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
