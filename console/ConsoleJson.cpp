#include "console/ConsoleJson.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "flash/FormatText.h"
#include "payload/DriveModels.h"

// The keys in the order they are written here, for a reader of the document.
using json = nlohmann::ordered_json;

namespace {

json Field(const char* field, size_t size) {
    return InquiryTextForJson(TrimmedFieldText(field, size));
}

const char* StateWord(UpToDateVerdict::State state) {
    switch (state) {
        case UpToDateVerdict::Current:
            return "current";
        case UpToDateVerdict::Differs:
            return "differs";
        default:
            return "cannot judge";
    }
}

const char* ActionWord(const UnattendedPlan& plan) {
    switch (plan.action) {
        case PlanAction::List:
            return "list";
        case PlanAction::Check:
            return "check";
        case PlanAction::Verify:
            return "verify";
        default:
            return plan.hasRestore ? "restore" : "upgrade";
    }
}

json Text(const std::string& bytes) {
    return InquiryTextForJson(bytes);
}

json Firmware(const FirmwarePayload& payload) {
    json firmware = {{"filled", !payload.IsPlaceholder()}};
    if (payload.IsPlaceholder()) return firmware;
    const uint16_t computed = ImageChecksum(payload.Image(), ImageSize);
    firmware["valid"] = computed == payload.StoredChecksum();
    firmware["version"] = InquiryTextForJson(payload.Version());
    firmware["model"] = payload.ModelId();
    firmware["checksum"] = FormatText("%04X", payload.StoredChecksum());
    if (const DriveModel* model = DriveModelFor(payload.ModelId())) {
        firmware["vendor"] = TrimmedFieldText(model->vendorProduct, 8);
        firmware["product"] = TrimmedFieldText(model->vendorProduct + 8, 16);
        firmware["version_pattern"] = model->versionPattern;
    }
    return firmware;
}

}  // namespace

std::string InquiryTextForJson(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

JsonReport::Entry* JsonReport::Find(int position) {
    for (Entry& entry : entries_)
        if (entry.drive.position == position) return &entry;
    return nullptr;
}

void JsonReport::SetStatusText(const std::string& text) {
    if (current_) current_->status = text;
    echo_.SetStatusText(text);
}

void JsonReport::DrivesFound(const std::vector<FoundDrive>& drives) {
    for (const FoundDrive& drive : drives) entries_.push_back({drive, "", "", "", "", false, {}});
    next_.DrivesFound(drives);
}

bool JsonReport::ConfirmWrite(const std::vector<FoundDrive>& targets) {
    return next_.ConfirmWrite(targets);
}

void JsonReport::StepStarted(const FoundDrive& drive, RunStep step) {
    current_ = Find(drive.position);
    next_.StepStarted(drive, step);
}

void JsonReport::StepEnded(const FoundDrive& drive, RunStep step, bool succeeded) {
    if (Entry* entry = Find(drive.position)) {
        if (step == RunStep::Backup && !succeeded) entry->done = "backup failed";
        if (step == RunStep::Upgrade) entry->done = succeeded ? "upgraded" : "failed";
        if (step == RunStep::Verify && !succeeded) entry->done = "failed";
    }
    current_ = nullptr;
    next_.StepEnded(drive, step, succeeded);
}

void JsonReport::Notice(const std::string& text) {
    notices_.push_back(text);
    int position = -1;
    if (std::sscanf(text.c_str(), "Drive %d: ", &position) == 1) {
        if (Entry* entry = Find(position)) entry->notice = text.substr(text.find(": ") + 2);
    }
    next_.Notice(text);
}

void JsonReport::SourceRead(const FirmwareSource& source) {
    if (const BackupRecord* record = source.Record()) {
        hasRecord_ = true;
        record_ = *record;
    }
    next_.SourceRead(source);
}

void JsonReport::Verified(const FoundDrive& drive, const FlashComparison& comparison) {
    if (Entry* entry = Find(drive.position)) {
        entry->verified = true;
        entry->comparison = comparison;
        entry->done = comparison.differingChunks ? "differs" : "equal";
    }
    next_.Verified(drive, comparison);
}

void JsonReport::BackupWritten(const FoundDrive& drive, const std::string& path) {
    if (Entry* entry = Find(drive.position)) entry->backup = path;
    next_.BackupWritten(drive, path);
}

std::string JsonReport::Document(RunOutcome outcome, int exitCode) const {
    json drives = json::array();
    for (const Entry& entry : entries_) {
        const FoundDrive& d = entry.drive;
        const DeviceRecord& r = d.record;
        // What became of the drive, and in a few words why.
        std::string done = entry.done, result = entry.status;
        if (!d.chosen || plan_.action == PlanAction::List) {
            done = "none";
            result = d.chosen ? "" : "not chosen";
        } else if (!d.verdict.passes && !plan_.force) {
            done = "skipped: another model";
            result = d.verdict.reason;
        } else if (plan_.action == PlanAction::Verify) {
            if (done.empty()) {
                done = "not read";
                result = LinuxOutcomeText(outcome);
            }
        } else if (!d.willWrite) {
            done = "skipped: up to date";
            result = d.upToDate.reason;
        } else if (plan_.action == PlanAction::Check) {
            done = "would write";
            result = d.upToDate.reason;
        } else if (done.empty()) {
            done = "not written";
            result = LinuxOutcomeText(outcome);
        }
        if (done == "backup failed" || (done == "failed" && result.empty())) result = entry.notice;
        drives.push_back({
            {"position", d.position},
            {"node", d.address},
            {"vendor", Field(r.Vendor, sizeof r.Vendor)},
            {"product", Field(r.Product, sizeof r.Product)},
            {"revision", Field(r.Revision, sizeof r.Revision)},
            {"version_major", r.VersionMajor},
            {"version_minor", r.VersionMinor},
            {"flash_size", r.FlashSize},
            {"chosen", d.chosen},
            {"guard", {{"passes", d.verdict.passes}, {"reason", d.verdict.reason}}},
            {"up_to_date", {{"state", StateWord(d.upToDate.state)}, {"reason", d.upToDate.reason}}},
            {"will_write", d.willWrite},
            {"done", done},
            {"result", result},
            {"backup", entry.backup.empty() ? json() : json(entry.backup)},
        });
        if (plan_.action != PlanAction::Verify) continue;
        const FlashComparison& c = entry.comparison;
        drives.back()["verify"] =
            !entry.verified
                ? json()
                : json{{"equal", c.differingChunks == 0},
                       {"first_difference", c.differingChunks ? json(c.firstDifference) : json()},
                       {"differing_chunks", c.differingChunks}};
    }
    json restore;
    if (plan_.hasRestore) {
        const BackupRecord& r = record_;
        restore = {{"file", plan_.restorePath}, {"record", json()}};
        if (hasRecord_) {
            restore["record"] = {
                {"vendor", Text(r.vendor)},        {"product", Text(r.product)},
                {"revision", Text(r.revision)},    {"chip_code", FormatText("%04X", r.chipCode)},
                {"version_major", r.versionMajor}, {"version_minor", r.versionMinor},
                {"flash_size", r.flashSize},       {"date", Text(r.date)},
                {"program", Text(r.program)},      {"sha256", r.sha256}};
        }
    }
    json document = {{"action", ActionWord(plan_)}, {"firmware", Firmware(payload_)}};
    if (plan_.hasRestore) document["restore"] = restore;
    document["drives"] = drives;
    document["notices"] = notices_;
    document["outcome"] = LinuxOutcomeText(outcome);
    document["exit_code"] = exitCode;
    // The texts that are not a drive's (paths, notices) are UTF-8 where the
    // system's are; a byte that is not valid UTF-8 becomes U+FFFD rather than
    // an exception.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
